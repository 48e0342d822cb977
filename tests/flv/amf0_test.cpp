// AMF0 script data: the metadata lookups, the value walk and its bounds.
#include "flv/amf0.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flv/flv_reader.h"
#include "support/flv_writer.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

// "onMetaData" and an ECMA array holding what `body` writes.
std::vector<uint8_t> Meta(void (*body)(AmfWriter&), size_t cut = 0) {
  AmfWriter w;
  body(w.String("onMetaData").BeginEcmaArray(0));
  std::vector<uint8_t> b = w.EndObject().Bytes();
  b.resize(b.size() - cut);
  return b;
}

std::vector<uint8_t> NestedDuration(int containers) {
  AmfWriter w;
  for (int i = 1; i < containers; ++i) w.BeginObject().Name("o");
  w.BeginObject().Name("duration").Number(3.0).EndObject();
  for (int i = 1; i < containers; ++i) w.EndObject();
  return w.Bytes();
}

TEST(Metadata, LookupsFindWhatTheDataHolds) {
  const struct {
    const char* name;
    std::vector<uint8_t> amf;
    HRESULT hrDuration;
    uint32_t duration;     // stays 0 when the lookup fails
    int32_t audio, video;  // stay -1 when not found
  } cases[] = {
      {"TinyDurationRoundsUp", OnMetaData(0.0004), S_OK, 1, -1, -1},
      {"HugeDurationSaturates", OnMetaData(1e30), S_OK, 0xFFFFFFFFu, -1, -1},
      {"NaNDurationIsZero", OnMetaData(std::nan("")), S_OK, 0, -1, -1},
      {"CodecIdsTruncateTowardZero", OnMetaData(1.0, 10.9, -0.5), S_OK, 1000, 10, 0},
      {"NumberText", Meta([](AmfWriter& w) {
         w.Name("videocodecid").String("7").Name("duration").String("12.5s");
       }),
       S_OK, 12500, -1, 7},
      {"BooleanStopsOnlyItsOwnLookup", Meta([](AmfWriter& w) {
         w.Name("videocodecid").Boolean(true).Name("audiocodecid").Number(2);
       }),
       E_FAIL, 0, 2, -1},
      {"NullBeforeStopsTheWalk",
       Meta([](AmfWriter& w) { w.Name("x").Marker(kAmfNull).Name("duration").Number(5); }), E_FAIL,
       0, -1, -1},
      {"StrictArrayGivesFirstElement",
       Meta([](AmfWriter& w) { w.Name("duration").BeginStrictArray(2).Number(4).Number(9); }), S_OK,
       4000, -1, -1},
      {"NestedPropertyFirstInWalkOrder", Meta([](AmfWriter& w) {
         w.Name("in")
             .BeginObject()
             .Name("duration")
             .Number(3)
             .EndObject()
             .Name("duration")
             .Number(8);
       }),
       S_OK, 3000, -1, -1},
      {"MissingObjectEnd", Meta([](AmfWriter& w) { w.Name("duration").Number(2); }, 3), S_OK, 2000,
       -1, -1},
      {"Nesting64Accepted", NestedDuration(64), S_OK, 3000, -1, -1},
      {"Nesting65Refused", NestedDuration(65), E_FAIL, 0, -1, -1},
      // Keys match exactly, as writers spell them: other spellings are other keys.
      {"KeyCaseMatters", Meta([](AmfWriter& w) {
         w.Name("Duration").Number(5).Name("VideoCodecID").Number(7).Name("duration").Number(2);
       }),
       S_OK, 2000, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
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
}

AmfStatus Ignore(uint32_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, void*) {
  return AmfStatus::kOk;
}

std::vector<uint8_t> Repeat(std::vector<uint8_t> unit, int times) {
  std::vector<uint8_t> out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

TEST(AmfWalk, DamagedDataEndsWithItsResult) {
  const struct {
    const char* name;
    std::vector<uint8_t> amf;
    AmfStatus expected;
  } cases[] = {
      {"NumberCutOff", {0, 1, 2, 3}, AmfStatus::kInvalid},
      {"StringPastTheEnd", {2, 0, 10, 'a'}, AmfStatus::kInvalid},
      {"EmptyObject", {3}, AmfStatus::kInvalid},
      {"CountOutrunsData", {10, 0x7F, 0xFF, 0xFF, 0xFF, 1, 1}, AmfStatus::kInvalid},
      {"NegativeCountIsEmpty", {10, 0xFF, 0xFF, 0xFF, 0xFF}, AmfStatus::kOk},
      {"Reference", {7, 0, 1}, AmfStatus::kUnsupportedValue},
      {"MarkerAbove12", {200}, AmfStatus::kUnsupportedValue},
      // Opened and never closed, far deeper than the stack allows.
      {"Objects100000Deep", Repeat({3, 0, 1, 'o'}, 100000), AmfStatus::kInvalid},
      {"Arrays100000Deep", Repeat({10, 0, 0, 0, 1}, 100000), AmfStatus::kInvalid},
  };
  for (const auto& c : cases) {
    AmfCursor cursor(c.amf.data(), static_cast<uint32_t>(c.amf.size()));
    EXPECT_EQ(WalkAmfValues(cursor, Ignore, nullptr), c.expected) << c.name;
  }
}

// A cut file whose script tag still declares its full size (here the largest
// a tag can say): the metadata before the cut is found, and nothing is read
// from beyond it: the audio codec id whose number the cut removed stays
// unknown rather than coming out as 0 from bytes that are not there.
TEST(ScriptDataTagTest, TagLongerThanTheFileReadsOnlyTheBytesThere) {
  AmfWriter writer;  // the Number marker of "audiocodecid", cut there
  writer.String("onMetaData").BeginEcmaArray(2).Name("duration").Number(12.5);
  const std::vector<uint8_t> amf = writer.Name("audiocodecid").Marker(0).Bytes();
  FlvWriter w(kFlvHasAudio);
  const int64_t llTag = w.Script(amf);
  std::vector<uint8_t> bytes = w.Bytes();
  // A tag position is that of the back-link before the tag header.
  const size_t header = static_cast<size_t>(llTag) + 4;
  bytes.resize(header + 11 + amf.size());  // no back-link after it: the tag is cut
  bytes[header + 1] = bytes[header + 2] = bytes[header + 3] = 0xFF;  // DataSize 0xFFFFFF
  TestReader r(bytes);
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  ASSERT_EQ(ReadTagHeader(reader, llTag, tag), S_OK);
  ASSERT_EQ(tag.DataSize, 0xFFFFFFu);
  uint32_t dwDuration = 0;
  int32_t lAudio = -1, lVideo = -1;
  EXPECT_EQ(ParseScriptDataTag(reader, llTag, tag, &dwDuration, &lAudio, &lVideo), S_OK);
  EXPECT_EQ(dwDuration, 12500u);
  EXPECT_EQ(lAudio, -1) << "a codec id read from beyond the file";
}

}  // namespace
}  // namespace flvdmx
