#include "flv/amf0.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/flv_writer.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

struct MetaCase {
  const char* name;
  std::vector<uint8_t> amf;
  HRESULT hrDuration;
  uint32_t duration;  // stays 0 when the lookup fails
  int32_t audio;      // stays -1 when not found
  int32_t video;
};

class MetadataLookups : public ::testing::TestWithParam<MetaCase> {};

TEST_P(MetadataLookups, FindWhatTheDataHolds) {
  const MetaCase& c = GetParam();
  uint32_t duration = 0;
  int32_t audio = -1, video = -1;
  const auto n = static_cast<uint32_t>(c.amf.size());
  EXPECT_EQ(GetMetaDuration(c.amf.data(), n, &duration), c.hrDuration);
  (void)GetMetaAudioCodecId(c.amf.data(), n, &audio);
  (void)GetMetaVideoCodecId(c.amf.data(), n, &video);
  EXPECT_EQ(duration, c.duration);
  EXPECT_EQ(audio, c.audio);
  EXPECT_EQ(video, c.video);
}

// "onMetaData" and an ECMA array holding what `body` writes.
std::vector<uint8_t> Meta(void (*body)(AmfWriter&)) {
  AmfWriter w;
  w.String("onMetaData").BeginEcmaArray(0);
  body(w);
  return w.EndObject().Bytes();
}

std::vector<uint8_t> NestedDuration(int containers) {
  AmfWriter w;
  for (int i = 1; i < containers; ++i) w.BeginObject().Name("o");
  w.BeginObject().Name("duration").Number(3.0).EndObject();
  for (int i = 1; i < containers; ++i) w.EndObject();
  return w.Bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Table, MetadataLookups,
    ::testing::Values(
        MetaCase{"Typical", OnMetaData(12.34, 10, 7), S_OK, 12340, 10, 7},
        MetaCase{"TinyDurationRoundsUp", OnMetaData(0.0004), S_OK, 1, -1, -1},
        MetaCase{"ZeroDurationMeansAbsent", OnMetaData(0.0), S_OK, 0, -1, -1},
        MetaCase{"NegativeDurationIsZero", OnMetaData(-5.0), S_OK, 0, -1, -1},
        MetaCase{"HugeDurationSaturates", OnMetaData(1e30), S_OK, 0xFFFFFFFFu, -1, -1},
        MetaCase{"NaNDurationIsZero", OnMetaData(std::nan("")), S_OK, 0, -1, -1},
        MetaCase{"CodecIdsTruncateTowardZero", OnMetaData(1.0, 10.9, -0.5), S_OK, 1000, 10, 0},
        MetaCase{"NothingThere", OnMetaData(std::nullopt), E_FAIL, 0, -1, -1},
        MetaCase{"Empty", {}, E_FAIL, 0, -1, -1},
        MetaCase{"NumberText", Meta([](AmfWriter& w) {
                   w.Name("videocodecid").String("7").Name("duration").String("12.5s");
                 }),
                 S_OK, 12500, -1, 7},
        MetaCase{"BooleanStopsOnlyItsOwnLookup", Meta([](AmfWriter& w) {
                   w.Name("videocodecid").Boolean(true).Name("audiocodecid").Number(2);
                 }),
                 E_FAIL, 0, 2, -1},
        MetaCase{"NamesMatchExactly", Meta([](AmfWriter& w) {
                   w.Name("Duration").Number(5).Name("durations").Number(6);
                 }),
                 E_FAIL, 0, -1, -1},
        MetaCase{"NullBeforeStopsTheWalk", Meta([](AmfWriter& w) {
                   w.Name("x").Marker(kAmfNull).Name("duration").Number(5);
                 }),
                 E_FAIL, 0, -1, -1},
        MetaCase{"DateBeforeStopsTheWalk", Meta([](AmfWriter& w) {
                   w.Name("x").Marker(kAmfDate).Name("duration").Number(5);
                 }),
                 E_FAIL, 0, -1, -1},
        MetaCase{"NullAfterIsHarmless", Meta([](AmfWriter& w) {
                   w.Name("duration").Number(5).Name("x").Marker(kAmfNull);
                 }),
                 S_OK, 5000, -1, -1},
        MetaCase{"StrictArrayGivesFirstElement", Meta([](AmfWriter& w) {
                   w.Name("duration").BeginStrictArray(2).Number(4).Number(9);
                 }),
                 S_OK, 4000, -1, -1},
        MetaCase{"NestedPropertyFirstInWalkOrder", Meta([](AmfWriter& w) {
                   w.Name("in")
                       .BeginObject()
                       .Name("duration")
                       .Number(3)
                       .EndObject()
                       .Name("duration")
                       .Number(8);
                 }),
                 S_OK, 3000, -1, -1},
        MetaCase{"ValueCutOff",
                 [] {
                   std::vector<uint8_t> b =
                       Meta([](AmfWriter& w) { w.Name("duration").Number(2); });
                   b.resize(b.size() - 6);
                   return b;
                 }(),
                 E_FAIL, 0, -1, -1},
        MetaCase{"MissingObjectEnd",
                 [] {
                   std::vector<uint8_t> b =
                       Meta([](AmfWriter& w) { w.Name("duration").Number(2); });
                   b.resize(b.size() - 3);
                   return b;
                 }(),
                 S_OK, 2000, -1, -1},
        MetaCase{"Nesting64Accepted", NestedDuration(64), S_OK, 3000, -1, -1},
        MetaCase{"Nesting65Refused", NestedDuration(65), E_FAIL, 0, -1, -1}),
    [](const auto& info) { return info.param.name; });

struct Visit {
  uint32_t type;
  std::string name;  // "<none>" for values without a name
  uint32_t cbValue, cbData;
};

HRESULT Record(uint32_t type, const uint8_t* pName, uint32_t cbName, const uint8_t*,
               uint32_t cbValue, const uint8_t*, uint32_t cbData, void* pContext) {
  static_cast<std::vector<Visit>*>(pContext)->push_back(
      {type, pName ? std::string(reinterpret_cast<const char*>(pName), cbName) : "<none>", cbValue,
       cbData});
  return 0;
}

TEST(AmfWalk, VisitsEveryValueDepthFirstWithNameAndExtents) {
  AmfWriter w;
  w.String("hi")      // 5 bytes
      .BeginObject()  // marker: 1
      .Name("n")
      .Number(1.0)  // name 3, value 9
      .Name("a")
      .BeginStrictArray(2)
      .Boolean(true)
      .String("x")   // name 3, value 5 + 2 + 4
      .EndObject();  // empty name 2, marker 1
  std::vector<Visit> v;
  AmfCursor cursor(w.Bytes().data(), static_cast<uint32_t>(w.Bytes().size()));
  ASSERT_EQ(WalkAmfValues(cursor, Record, &v), 0);
  const Visit expected[] = {{kAmfString, "<none>", 5, 2},   {kAmfNumber, "n", 9, 8},
                            {kAmfBoolean, "a", 2, 1},       {kAmfString, "a", 4, 1},
                            {kAmfStrictArray, "a", 11, 10}, {kAmfObjectEnd, "", 1, 0},
                            {kAmfObject, "<none>", 30, 29}};
  ASSERT_EQ(v.size(), std::size(expected));
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].type, expected[i].type) << i;
    EXPECT_EQ(v[i].name, expected[i].name) << i;
    EXPECT_EQ(v[i].cbValue, expected[i].cbValue) << i;
    EXPECT_EQ(v[i].cbData, expected[i].cbData) << i;
  }
}

struct WalkCase {
  const char* name;
  std::vector<uint8_t> amf;
  HRESULT expected;
};

class AmfWalkEnds : public ::testing::TestWithParam<WalkCase> {};

TEST_P(AmfWalkEnds, WithTheirResult) {
  std::vector<Visit> v;
  AmfCursor cursor(GetParam().amf.data(), static_cast<uint32_t>(GetParam().amf.size()));
  EXPECT_EQ(WalkAmfValues(cursor, Record, &v), GetParam().expected);
}

std::vector<uint8_t> Repeat(std::vector<uint8_t> unit, int times) {
  std::vector<uint8_t> out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AmfWalkEnds,
    ::testing::Values(
        WalkCase{"NumberCutOff", {0, 1, 2, 3}, STG_E_INVALIDHEADER},
        WalkCase{"StringPastTheEnd", {2, 0, 10, 'a'}, STG_E_INVALIDHEADER},
        WalkCase{"EmptyObject", {3}, STG_E_INVALIDHEADER},
        WalkCase{"CountOutrunsData", {10, 0x7F, 0xFF, 0xFF, 0xFF, 1, 1}, STG_E_INVALIDHEADER},
        WalkCase{"NegativeCountIsEmpty", {10, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        WalkCase{"Reference", {7, 0, 1}, 1}, WalkCase{"MarkerAbove12", {200}, 1},
        // Opened and never closed, far deeper than the stack allows.
        WalkCase{"Objects100000Deep", Repeat({3, 0, 1, 'o'}, 100000), STG_E_INVALIDHEADER},
        WalkCase{"Arrays100000Deep", Repeat({10, 0, 0, 0, 1}, 100000), STG_E_INVALIDHEADER}),
    [](const auto& info) { return info.param.name; });

TEST(ScriptDataTag, OneReadFillsAllThreeAndAFailureNone) {
  FlvWriter w;
  const int64_t pos = w.Script(OnMetaData(60.0, 10, 7));
  TestReader r(w.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  ASSERT_EQ(ReadTagHeader(reader, pos, tag), S_OK);
  r->ResetCounters();
  uint32_t duration = 0;
  int32_t audio = -1, video = -1;
  EXPECT_EQ(ParseScriptDataTag(reader, pos, tag, &duration, &audio, &video), S_OK);
  EXPECT_EQ(r->ReadCount(), 1u);
  EXPECT_EQ(duration, 60000u);
  EXPECT_EQ(audio, 10);
  EXPECT_EQ(video, 7);

  r->FailReadsAt(pos + 20, E_ABORT);
  duration = 0;
  audio = video = -1;
  EXPECT_EQ(ParseScriptDataTag(reader, pos, tag, &duration, &audio, &video), E_ABORT);
  EXPECT_EQ(duration, 0u);
  EXPECT_EQ(audio, -1);
}

TEST(ScriptDataTag, ShortReadParsesTheBytesThatCame) {
  FlvWriter w;
  AmfWriter amf;
  amf.String("onMetaData").BeginEcmaArray(2).Name("duration").Number(5);
  const int64_t pos = w.Script(amf.Bytes());
  TestReader r(w.Bytes(false));
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  ASSERT_EQ(ReadTagHeader(reader, pos, tag), S_OK);
  tag.DataSize += 1000;  // the tag claims more than the file holds
  uint32_t duration = 0;
  int32_t audio = -1, video = -1;
  EXPECT_EQ(ParseScriptDataTag(reader, pos, tag, &duration, &audio, &video), S_OK);
  EXPECT_EQ(duration, 5000u);
}

}  // namespace
}  // namespace flvdmx
