// In-file positioning on crafted files whose every tag position and time is
// known: the walks, the chain check, the resync and the time search.
#include "flv/flv_seek.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/flv_reader.h"
#include "support/flv_writer.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

constexpr uint32_t kMinute = 60 * 1000;

struct CraftedFile {
  std::vector<uint8_t> bytes;
  std::vector<CraftedTag> tags;

  // The last tag of `type` at or before t, else the first tag of `type`.
  const CraftedTag& LastAtOrBefore(uint8_t type, uint32_t t) const {
    const CraftedTag* best = nullptr;
    for (const CraftedTag& tag : tags) {
      if (tag.type != type) continue;
      if (!best || tag.timeMs <= t) best = &tag;
      if (tag.timeMs > t) break;
    }
    return *best;
  }
  const CraftedTag& LastBefore(uint8_t type, uint32_t t) const { return LastAtOrBefore(type, t ? t - 1 : 0); }
  // Forward walks end at or before the target, backward ones before it.
  bool Acceptable(uint8_t type, uint32_t target, int64_t pos) const {
    return pos == LastAtOrBefore(type, target).position || pos == LastBefore(type, target).position;
  }
};

CraftedFile MakeFile(const AvFileLayout& layout) {
  CraftedFile f;
  FlvWriter w;
  f.tags = WriteAvTags(w, layout);
  f.bytes = w.Bytes();
  return f;
}

// 21 minutes of 25 fps video (a key frame every 2 s) and 44.1 kHz audio.
const CraftedFile& LongFile() {
  static const CraftedFile file = MakeFile({21 * kMinute});
  return file;
}

// Video every 40 ms, audio every 23 ms: video 0, audio 0, audio 23, video 40, ...
CraftedFile ShortAv() { return MakeFile({1000, 0, 40, 10, 44100, false}); }

int64_t VideoAt(const CraftedFile& f, uint32_t t) { return f.LastAtOrBefore(kFlvTagVideo, t).position; }

TEST(FindNextTagOfType, OneReadPerTagAndSFalseAtTheEnd) {
  const CraftedFile f = ShortAv();
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
}

TEST(FindNextTagOfType, BrokenBackLinkEndsTheWalkUnlessRepaired) {
  const struct {
    const char* name;
    uint32_t secondBackLink;  // in front of the second tag (right: 17)
    bool startAtSecond;       // start there, expecting...
    uint32_t expected;        // ...this size (0: unchecked)
    bool repaired;            // the pair is in the fix-up table
    HRESULT result;
  } cases[] = {
      {"Right", 17, false, 0, false, S_OK},
      {"Zero", 0, false, 0, false, S_OK},
      {"Wrong", 99, false, 0, false, VFW_E_INVALID_FILE_FORMAT},
      {"WrongButRepaired", 99, false, 0, true, S_OK},
      {"FirstCheckedWhenExpected", 17, true, 5, false, VFW_E_INVALID_FILE_FORMAT},
      {"FirstUncheckedWithoutExpected", 99, true, 0, false, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w;
    const int64_t first = w.Audio(0, AudioPayload(5));
    const int64_t second = w.Tag(kFlvTagAudio, 23, AudioPayload(5), {c.secondBackLink, std::nullopt});
    w.Video(40, VideoPayload(true, 5));
    TestReader r(w.Bytes());
    CTagLinkFixups fixups;
    if (c.repaired) { ASSERT_EQ(fixups.Add(first, second), S_OK); }
    CFlvReader reader(r.get(), 0, &fixups);
    FlvTag tag;
    int64_t pos = 0;
    EXPECT_EQ(FindNextTagOfType(reader, c.startAtSecond ? second : first, 0, c.expected, kFlvTagVideo, tag, pos),
              c.result);
  }
}

TEST(InterpolatePosition, RoundsAndKeepsItsUnsignedArithmetic) {
  const struct {
    uint32_t t;
    int64_t pl;
    uint32_t tl;
    int64_t ph;
    uint32_t th;
    int64_t expected;
  } cases[] = {
      {1, 0, 0, 3, 2, 2},  // 1.5 rounds up
      {50, 1000, 100, 2000, 200, 1000 + 0xFFFFFE0Cll},   // below the low time: unsigned
      {100, 1000, 100, 2000, 100, 1000 + 0xFFFFFFFFll},  // zero time span
      {500, 0, 0, 0x100000000ll, 1000, 0x80000000ll},
      {1, 10, 0, 10 + 0x100000000ll, 3, 10 + 1431655765ll},
  };
  for (const auto& c : cases)
    EXPECT_EQ(InterpolatePosition(c.t, c.pl, c.tl, c.ph, c.th), c.expected) << c.t << " " << c.ph;
}

TEST(CheckTagChain, AcceptsOnlyTwoFollowersThatContinueTheChain) {
  const struct {
    int64_t shift;  // candidate position relative to the first tag
    uint32_t secondBackLink;
    uint8_t thirdType;
    HRESULT expected;
  } cases[] = {
      {0, 17, kFlvTagAudio, S_OK},     {0, 0, kFlvTagVideo, S_OK}, {0, 16, kFlvTagAudio, E_FAIL},
      {0, 17, 7, E_FAIL},              // unknown third type
      {1, 17, kFlvTagAudio, S_FALSE},  // a follower past the end gives its short read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.shift << " " << c.secondBackLink << " " << int{c.thirdType});
    FlvWriter w;
    const int64_t first = w.Audio(0x1000000 + 5000, AudioPayload(5));
    w.Tag(kFlvTagAudio, 5023, AudioPayload(5), {c.secondBackLink, std::nullopt});
    w.Tag(c.thirdType, 5046, AudioPayload(5));
    TestReader r(w.Bytes());
    CFlvReader reader(r.get(), 0, nullptr);
    FlvTag tag;
    ASSERT_EQ(CheckTagChain(reader, first + c.shift, 0x1000000, tag), c.expected);
    if (c.expected == S_OK) { EXPECT_EQ(tag.TimeStamp, 0x1000000u + 5000) << "carried on from the reference"; }
  }
}

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

TEST(FindPreviousFrame, WalksTagByTagNearTheStartPoint) {
  const struct {
    const char* name;
    uint32_t startTime;  // the start point is the video tag at this time
    uint32_t claimedTime, endTime, target, resultTime;
    int64_t count;
  } cases[] = {
      {"ExactTargetForwardTakesIt", 0, 0, 21 * kMinute, 400, 400, 10},
      {"ExactTargetBackwardTakesTheOneBefore", 3000, 3000, 21 * kMinute, 400, 360, -65},
      // A cached point claiming 3500 ms for the tag at 1000 ms: the record takes
      // 3500, the walk forward then goes by the later tags' own times.
      {"FarStartTimeOverridesTheTag", 1000, 3500, 21 * kMinute, 3500, 3480, 62},
      // End time 0: the high bound is not above the low one, no search.
      {"EndTimeZeroWalksForward", 0, 0, 0, 2 * kMinute + 10, 2 * kMinute, 3000},
  };
  const CraftedFile& f = LongFile();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
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
}

// Once a broken back-link's pair is in the fix-up table, positioning works
// across it in both directions.
TEST(FindPreviousFrame, BrokenBackLinkIsCrossedThroughTheFixupTable) {
  FlvWriter w;
  CraftedFile f;
  f.tags = WriteAvTags(w, {10 * kMinute});
  const int64_t before = f.tags.back().position;
  const int64_t after = w.Tag(kFlvTagVideo, 10 * kMinute, VideoPayload(true, 700), {12345, std::nullopt});
  f.tags.push_back({after, kFlvTagVideo, 10 * kMinute, 701, true});
  const std::vector<CraftedTag> rest = WriteAvTags(w, {11 * kMinute, 10 * kMinute + 1, 40, 50, 44100, false});
  f.tags.insert(f.tags.end(), rest.begin(), rest.end());
  f.bytes = w.Bytes();
  TestReader r(f.bytes);
  CTagLinkFixups fixups;
  CFlvReader reader(r.get(), rest.back().timeMs, &fixups);
  FlvTag tag;
  int64_t pos = 0;
  EXPECT_EQ(FindNextTagOfType(reader, before, 0, 0, 99, tag, pos), VFW_E_INVALID_FILE_FORMAT);
  ASSERT_EQ(fixups.Add(before, after), S_OK);
  for (uint32_t target : {10 * kMinute - 100, 10 * kMinute + 20, 15 * kMinute}) {
    for (int64_t start : {int64_t{9}, after}) {
      SCOPED_TRACE(std::to_string(target) + " from " + std::to_string(start));
      pos = start;
      uint32_t t = target;
      int64_t count = 0;
      ASSERT_EQ(FindPreviousFrame(reader, kFlvTagVideo, pos, start == 9 ? 0 : 10 * kMinute, t, tag, count), S_OK);
      EXPECT_TRUE(f.Acceptable(kFlvTagVideo, target, pos)) << "got " << t;
    }
  }
  ASSERT_EQ(ReadTagHeader(reader, after, tag), S_OK);
  ASSERT_EQ(FindPrevTagOfType(reader, after, kFlvTagVideo, tag, pos, 10 * kMinute), S_OK);
  EXPECT_EQ(pos, f.LastBefore(kFlvTagVideo, 10 * kMinute).position) << "back through the repair";
}

}  // namespace
}  // namespace flvdmx
