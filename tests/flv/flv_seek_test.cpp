#include "flv/flv_seek.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "crafted_files.h"
#include "flv/flv_file_state.h"
#include "flv/flv_reader.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

constexpr uint32_t kMinute = 60 * 1000;

// No metadata; video every 40 ms (a key frame every 10th), audio every 23 ms,
// starting video 0, audio 0, audio 23, video 40, ...
CraftedFile ShortAv(uint32_t durationMs) {
  AvFileLayout layout;
  layout.durationMs = durationMs;
  layout.metadata = false;
  layout.keyInterval = 10;
  return MakeCraftedFile(layout);
}

int64_t VideoAt(const CraftedFile& f, uint32_t t) {
  return f.LastAtOrBefore(kFlvTagVideo, t).position;
}

TEST(FindNextTagOfType, FindsTheTypeWithOneReadPerTagAndSFalseAtTheEnd) {
  const CraftedFile f = ShortAv(1000);
  TestReader r(f.bytes);
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  int64_t pos = 0;
  ASSERT_EQ(FindNextTagOfType(reader, f.tags[1].position, 0, 0, kFlvTagVideo, tag, pos), S_OK);
  EXPECT_EQ(pos, f.tags[3].position);  // over the two audio tags
  EXPECT_EQ(tag.TimeStamp, 40u);
  EXPECT_EQ(r->ReadCount(), 3u);
  EXPECT_EQ(FindNextTagOfType(reader, pos, 0, 0, 77, tag, pos), S_FALSE);
  EXPECT_EQ(pos, f.tags[3].position) << "nothing reported without a tag";

  r->FailReadsAt(f.tags[5].position + 2, E_ABORT);
  EXPECT_EQ(FindNextTagOfType(reader, f.tags[4].position, 0, 0, 77, tag, pos), E_ABORT);
  CFlvReader none(nullptr, 0, nullptr);
  EXPECT_EQ(FindNextTagOfType(none, 9, 0, 0, 8, tag, pos), E_POINTER);
}

struct ChainCase {
  const char* name;
  uint32_t secondBackLink;  // written in front of the second tag (right: 17)
  bool startAtSecond;       // start there, expecting...
  uint32_t expected;        // ...this size (0: unchecked)
  bool repaired;            // the pair is in the fix-up table
  HRESULT result;
};

class FindNextTagOfTypeChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(FindNextTagOfTypeChain, BrokenBackLinkEndsTheWalkUnlessRepaired) {
  const ChainCase& c = GetParam();
  FlvWriter w;
  const int64_t first = w.Audio(0, AudioPayload(5));
  FlvWriter::TagOptions options;
  options.previousTagSize = c.secondBackLink;
  const int64_t second = w.Tag(kFlvTagAudio, 23, AudioPayload(5), options);
  w.Video(40, VideoPayload(true, 5));
  TestReader r(w.Bytes());
  CTagLinkFixups fixups;
  if (c.repaired) {
    ASSERT_EQ(fixups.Add(first, second), S_OK);
  }
  CFlvReader reader(r.get(), 0, &fixups);
  FlvTag tag;
  int64_t pos = 0;
  EXPECT_EQ(FindNextTagOfType(reader, c.startAtSecond ? second : first, 0, c.expected, kFlvTagVideo,
                              tag, pos),
            c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindNextTagOfTypeChain,
    ::testing::Values(ChainCase{"Right", 17, false, 0, false, S_OK},
                      ChainCase{"Zero", 0, false, 0, false, S_OK},
                      ChainCase{"Wrong", 99, false, 0, false, VFW_E_INVALID_FILE_FORMAT},
                      ChainCase{"WrongButRepaired", 99, false, 0, true, S_OK},
                      ChainCase{"FirstCheckedWhenExpected", 17, true, 5, false,
                                VFW_E_INVALID_FILE_FORMAT},
                      ChainCase{"FirstUncheckedWithoutExpected", 99, true, 0, false, S_OK}),
    [](const auto& info) { return info.param.name; });

TEST(FindPrevTagOfType, StepsBackOverOtherTypesAndThroughRepairs) {
  const CraftedFile f = ShortAv(1000);
  TestReader r(f.bytes);
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  ASSERT_EQ(ReadTagHeader(reader, VideoAt(f, 400), tag), S_OK);
  int64_t pos = 0;
  ASSERT_EQ(FindPrevTagOfType(reader, VideoAt(f, 400), kFlvTagVideo, tag, pos, 400), S_OK);
  EXPECT_EQ(pos, VideoAt(f, 360));
  EXPECT_EQ(tag.TimeStamp, 360u);

  // Before the first tag of the type: S_FALSE, record and position untouched.
  ASSERT_EQ(ReadTagHeader(reader, f.tags[1].position, tag), S_OK);
  pos = -1;
  EXPECT_EQ(FindPrevTagOfType(reader, f.tags[1].position, kFlvTagAudio, tag, pos, 0), S_FALSE);
  EXPECT_EQ(pos, -1);
  EXPECT_EQ(tag.TagType, kFlvTagAudio);

  FlvWriter w;
  const int64_t first = w.Video(0, VideoPayload(true, 5));
  w.Raw(std::vector<uint8_t>(33, 0xEE));  // the next back-link misses the first tag
  const int64_t second = w.Video(40, VideoPayload(false, 5));
  TestReader r2(w.Bytes());
  CTagLinkFixups fixups;
  ASSERT_EQ(fixups.Add(first, second), S_OK);
  CFlvReader repaired(r2.get(), 0, &fixups);
  ASSERT_EQ(ReadTagHeader(repaired, second, tag), S_OK);
  ASSERT_EQ(FindPrevTagOfType(repaired, second, kFlvTagVideo, tag, pos, 40), S_OK);
  EXPECT_EQ(pos, first);
}

struct Interp {
  const char* name;
  uint32_t t;
  int64_t pl;
  uint32_t tl;
  int64_t ph;
  uint32_t th;
  int64_t expected;
};

class InterpolatePositionTable : public ::testing::TestWithParam<Interp> {};

TEST_P(InterpolatePositionTable, GivesPosition) {
  const Interp& c = GetParam();
  EXPECT_EQ(InterpolatePosition(c.t, c.pl, c.tl, c.ph, c.th), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InterpolatePositionTable,
    ::testing::Values(
        Interp{"Middle", 150, 1000, 100, 2000, 200, 1500},
        Interp{"RoundsToNearest", 1, 0, 0, 10, 3, 3},  // 3.33
        Interp{"RoundsHalfUp", 1, 0, 0, 3, 2, 2},      // 1.5
        Interp{"BeyondHigh", 300, 1000, 100, 2000, 200, 3000},
        Interp{"BelowLowTakenUnsigned", 50, 1000, 100, 2000, 200, 1000 + 0xFFFFFE0Cll},
        Interp{"ZeroTimeSpan", 100, 1000, 100, 2000, 100, 1000 + 0xFFFFFFFFll},
        Interp{"LargeFileInDouble", 500, 0, 0, 0x100000000ll, 1000, 0x80000000ll},
        Interp{"LargeFileTruncates", 1, 10, 0, 10 + 0x100000000ll, 3, 10 + 1431655765ll}),
    [](const auto& info) { return info.param.name; });

struct ChainCheck {
  const char* name;
  int64_t shift;  // candidate position relative to the first tag
  uint32_t secondBackLink;
  uint8_t thirdType;
  HRESULT expected;
};

class CheckTagChainTable : public ::testing::TestWithParam<ChainCheck> {};

TEST_P(CheckTagChainTable, AcceptsOnlyTwoFollowersThatContinueTheChain) {
  const ChainCheck& c = GetParam();
  FlvWriter w;
  const int64_t first = w.Audio(0x1000000 + 5000, AudioPayload(5));
  FlvWriter::TagOptions o;
  o.previousTagSize = c.secondBackLink;
  w.Tag(kFlvTagAudio, 5023, AudioPayload(5), o);
  w.Tag(c.thirdType, 5046, AudioPayload(5));
  TestReader r(w.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  EXPECT_EQ(CheckTagChain(reader, first + c.shift, 0x1000000, tag), c.expected);
  if (c.expected == S_OK) {
    EXPECT_EQ(tag.TimeStamp, 0x1000000u + 5000) << "carried on from the reference";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CheckTagChainTable,
                         ::testing::Values(ChainCheck{"Good", 0, 17, kFlvTagAudio, S_OK},
                                           ChainCheck{"ZeroBackLink", 0, 0, kFlvTagVideo, S_OK},
                                           ChainCheck{"WrongBackLink", 0, 16, kFlvTagAudio, E_FAIL},
                                           ChainCheck{"ThirdTypeUnknown", 0, 17, 7, E_FAIL},
                                           ChainCheck{"FollowerPastTheEndIsItsShortRead", 1, 17,
                                                      kFlvTagAudio, S_FALSE}),
                         [](const auto& info) { return info.param.name; });

TEST(FindNextTagHeaderSlow, FindsTheNextChainAfterGarbageAcrossWindows) {
  FlvWriter w;
  w.Video(0, VideoPayload(true, 5));
  std::vector<uint8_t> garbage(20000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7 + 3);
  w.Raw(garbage);
  const int64_t after = w.Video(40, VideoPayload(true, 5));
  w.Video(80, VideoPayload(false, 5));
  w.Video(120, VideoPayload(false, 5));
  TestReader r(w.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag tag;
  int64_t pos = 0;
  ASSERT_EQ(FindNextTagHeaderSlow(reader, 20, 0, tag, pos), S_OK);
  EXPECT_EQ(pos, after);
  EXPECT_EQ(FindNextTagHeaderSlow(reader, after + 5, 0, tag, pos), E_FAIL) << "no two followers";
  EXPECT_EQ(FindNextTagHeaderSlow(reader, reader.Available(), 0, tag, pos), E_FAIL);
  r->FailReadsAt(100, E_ABORT);
  EXPECT_EQ(FindNextTagHeaderSlow(reader, 50, 0, tag, pos), E_ABORT);
}

// A large key frame between sparse tags: every probe before it lands on the
// tag after it and changes nothing, so the search has to stop there.
TEST(PerformBinarySeek, ProbeThatMakesNoProgressEndsTheSearch) {
  FlvWriter w;
  const int64_t a = w.Video(0, VideoPayload(true, 10));
  w.Video(30000, VideoPayload(true, 500000));
  const int64_t c = w.Video(60000, VideoPayload(true, 10));
  w.Video(61000, VideoPayload(false, 10));
  w.Video(62000, VideoPayload(false, 10));
  TestReader r(w.Bytes());
  CFlvReader reader(r.get(), 62000, nullptr);
  FlvTag tag;
  int64_t pos = 0;
  ASSERT_EQ(PerformBinarySeek(reader, 15000, a, 0, reader.Available(), 62000, tag, pos), S_OK);
  EXPECT_EQ(pos, c);

  uint32_t target = 15000;
  int64_t start = a, count = 0;
  ASSERT_EQ(FindPreviousFrame(reader, kFlvTagVideo, start, 0, target, tag, count), S_OK);
  EXPECT_EQ(start, a);
  EXPECT_EQ(target, 0u);
}

// FindPreviousFrame over a 21-minute file, with and without metadata, for
// both streams, from the first tag and from cached start points, for targets
// before, inside and after the file.
using FrameParam = std::tuple<bool /*metadata*/, uint8_t /*type*/, int /*start minute index*/>;

class FindPreviousFrameLongFile : public ::testing::TestWithParam<FrameParam> {};

TEST_P(FindPreviousFrameLongFile, StartsOnTheTagAtOrBeforeTheTarget) {
  const auto [metadata, type, startIndex] = GetParam();
  const CraftedFile& f = LongFile(metadata);
  // The end time: the metadata duration, or the one the tail search finds.
  uint32_t endTime = f.durationMs;
  if (!metadata) {
    TestReader r(f.bytes);
    CFlvReader reader(r.get(), 0, nullptr);
    CFlvFileState state;
    state.m_llAvailable = reader.Available();
    ASSERT_EQ(state.FindTimestampOfLastSample(reader, 9), S_OK);
    endTime = state.m_dwDuration;
    ASSERT_EQ(endTime, f.durationMs);
  }
  const uint32_t startMinutes[] = {0, 1, 10, 20, 21};
  const CraftedTag& startTag = f.LastAtOrBefore(kFlvTagVideo, startMinutes[startIndex] * kMinute);
  const int64_t startPos = startIndex == 0 ? 9 : startTag.position;
  const uint32_t startTime = startIndex == 0 ? 0 : startTag.timeMs;

  for (uint32_t target : {0u, 1u, 4999u, 60013u, 3 * kMinute + 7, 10 * kMinute + 3001,
                          17 * kMinute + 555, 20 * kMinute + 33, 21 * kMinute - 5, 25 * kMinute}) {
    SCOPED_TRACE("target " + std::to_string(target));
    TestReader r(f.bytes);
    CFlvReader reader(r.get(), endTime, nullptr);
    int64_t pos = startPos, count = 0;
    uint32_t t = target;
    FlvTag tag;
    ASSERT_EQ(FindPreviousFrame(reader, type, pos, startTime, t, tag, count), S_OK);
    const CraftedTag* got = f.At(pos);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->type, type);
    EXPECT_EQ(t, got->timeMs);
    EXPECT_EQ(tag.TimeStamp, got->timeMs);
    // Forward walks end on the last tag at or before the target, backward
    // walks on the last one before it.
    EXPECT_TRUE(pos == f.LastAtOrBefore(type, target).position ||
                pos == f.LastBefore(type, target).position)
        << "got " << got->timeMs << ", expected " << f.LastAtOrBefore(type, target).timeMs;
    // Near the end no header has two followers and the walk goes tag by tag.
    if (target <= 20 * kMinute + 33) {
      EXPECT_LT(r->ReadCount(), 3000u) << "a search, not a walk";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(StartPoints, FindPreviousFrameLongFile,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(kFlvTagVideo, kFlvTagAudio),
                                            ::testing::Range(0, 5)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "Meta" : "NoMeta") +
                                  (std::get<1>(info.param) == kFlvTagVideo ? "Video" : "Audio") +
                                  "Start" + std::to_string(std::get<2>(info.param));
                         });

struct WalkCase {
  const char* name;
  uint32_t startTime;  // the start point is the video tag at this time
  uint32_t claimedTime;
  uint32_t endTime;
  uint32_t target;
  uint32_t resultTime;
  int64_t count;
};

class FindPreviousFrameWalks : public ::testing::TestWithParam<WalkCase> {};

TEST_P(FindPreviousFrameWalks, StepTagByTag) {
  const WalkCase& c = GetParam();
  const CraftedFile& f = LongFile(true);
  TestReader r(f.bytes);
  CFlvReader reader(r.get(), c.endTime, nullptr);
  int64_t pos = VideoAt(f, c.startTime), count = 0;
  uint32_t target = c.target;
  FlvTag tag;
  ASSERT_EQ(FindPreviousFrame(reader, kFlvTagVideo, pos, c.claimedTime, target, tag, count), S_OK);
  EXPECT_EQ(target, c.resultTime);
  EXPECT_EQ(pos, VideoAt(f, c.resultTime));
  EXPECT_EQ(count, c.count);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindPreviousFrameWalks,
    ::testing::Values(
        WalkCase{"ExactTargetForwardTakesIt", 0, 0, 21 * kMinute, 400, 400, 10},
        WalkCase{"ExactTargetBackwardTakesTheOneBefore", 3000, 3000, 21 * kMinute, 400, 360, -65},
        // A cached point claiming 3500 ms for the tag at 1000 ms: the record
        // takes 3500, the walk forward then goes by the later tags' own times.
        WalkCase{"FarStartTimeOverridesTheTag", 1000, 3500, 21 * kMinute, 3500, 3480, 62},
        // End time 0: the high bound is not above the low one, no search.
        WalkCase{"EndTimeZeroWalksForward", 0, 0, 0, 2 * kMinute + 10, 2 * kMinute, 3000}),
    [](const auto& info) { return info.param.name; });

// A back-link broken in the middle of a long file: the header scan records the
// pair, and positioning works across it in both directions.
TEST(FindPreviousFrame, BrokenBackLinkIsCrossedThroughTheFixupTable) {
  FlvWriter w;
  AvFileLayout first;
  first.durationMs = 10 * kMinute;
  CraftedFile f;
  f.tags = WriteAvTags(w, first);
  const int64_t before = f.tags.back().position;
  FlvWriter::TagOptions wrong;
  wrong.previousTagSize = 12345;
  const int64_t after = w.Tag(kFlvTagVideo, 10 * kMinute, VideoPayload(true, 700), wrong);
  f.tags.push_back({after, kFlvTagVideo, 10 * kMinute, 701, true});
  AvFileLayout second = first;
  second.metadata = false;
  second.startMs = 10 * kMinute + 1;
  second.durationMs = 11 * kMinute;
  const std::vector<CraftedTag> rest = WriteAvTags(w, second);
  f.tags.insert(f.tags.end(), rest.begin(), rest.end());
  f.bytes = w.Bytes();

  TestReader r(f.bytes);
  CTagLinkFixups fixups;
  CFlvReader reader(r.get(), rest.back().timeMs, &fixups);
  FlvTag tag;
  int64_t pos = 0;
  EXPECT_EQ(FindNextTagOfType(reader, before, 0, 0, 99, tag, pos), VFW_E_INVALID_FILE_FORMAT);
  ASSERT_EQ(fixups.Add(before, after), S_OK);
  for (uint32_t target :
       {10 * kMinute - 100, 10 * kMinute + 20, 10 * kMinute + 9000, 5 * kMinute, 15 * kMinute}) {
    for (int64_t start : {int64_t{9}, after}) {
      SCOPED_TRACE(std::to_string(target) + " from " + std::to_string(start));
      pos = start;
      uint32_t t = target;
      int64_t count = 0;
      ASSERT_EQ(FindPreviousFrame(reader, kFlvTagVideo, pos, start == 9 ? 0 : 10 * kMinute, t, tag,
                                  count),
                S_OK);
      EXPECT_TRUE(pos == f.LastAtOrBefore(kFlvTagVideo, target).position ||
                  pos == f.LastBefore(kFlvTagVideo, target).position)
          << "got " << t;
    }
  }
}

}  // namespace
}  // namespace flvdmx
