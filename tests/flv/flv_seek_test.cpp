// In-file positioning on crafted files whose every tag position and time is known.
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
};

// 21 minutes of 25 fps video (a key frame every 2 s) and 44.1 kHz audio.
const CraftedFile& LongFile() {
  static const CraftedFile file = [] {
    FlvWriter w;
    std::vector<CraftedTag> tags = WriteAvTags(w, {21 * kMinute});
    return CraftedFile{w.Bytes(), tags};
  }();
  return file;
}

// The last video tag at or before t, else the first video tag.
int64_t VideoAt(const CraftedFile& f, uint32_t t) {
  int64_t pos = -1;
  for (const CraftedTag& tag : f.tags)
    if (tag.type == kFlvTagVideo && (pos < 0 || tag.timeMs <= t)) pos = tag.position;
  return pos;
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
      {1, 0, 0, 3, 2, 2},                                // 1.5 rounds up
      {50, 1000, 100, 2000, 200, 1000 + 0xFFFFFE0Cll},   // below the low time: unsigned
      {100, 1000, 100, 2000, 100, 1000 + 0xFFFFFFFFll},  // zero time span
      {500, 0, 0, 0x100000000ll, 1000, 0x80000000ll},
      {1, 10, 0, 10 + 0x100000000ll, 3, 10 + 1431655765ll},
  };
  for (const auto& c : cases)
    EXPECT_EQ(InterpolatePosition(c.t, c.pl, c.tl, c.ph, c.th), c.expected) << c.t << " " << c.ph;
}

// Every probe before a large key frame lands on the tag after it: the search must stop.
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
    ASSERT_EQ(FindPreviousFrame(reader, kFlvTagVideo, pos, c.claimedTime, target, tag, count),
              S_OK);
    EXPECT_EQ(target, c.resultTime);
    EXPECT_EQ(pos, VideoAt(f, c.resultTime));
    EXPECT_EQ(count, c.count);
  }
}

// A broken back-link stops a walk until its pair is in the fix-up table;
// then positioning works across it in both directions.
TEST(FindPreviousFrame, BrokenBackLinkIsCrossedThroughTheFixupTable) {
  FlvWriter w;
  CraftedFile f;
  f.tags = WriteAvTags(w, {10 * kMinute});
  const int64_t before = f.tags.back().position;
  const int64_t after =
      w.Tag(kFlvTagVideo, 10 * kMinute, VideoPayload(true, 700), {12345, std::nullopt});
  f.tags.push_back({after, kFlvTagVideo, 10 * kMinute, true});
  const std::vector<CraftedTag> rest =
      WriteAvTags(w, {11 * kMinute, 10 * kMinute + 1, 40, 50, 44100, false});
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
      ASSERT_EQ(FindPreviousFrame(reader, kFlvTagVideo, pos, start == 9 ? 0 : 10 * kMinute, t, tag,
                                  count),
                S_OK);
      // Forward walks end at or before the target, backward ones before it.
      EXPECT_TRUE(pos == VideoAt(f, target) || pos == VideoAt(f, target - 1)) << "got " << t;
    }
  }
  ASSERT_EQ(ReadTagHeader(reader, after, tag), S_OK);
  ASSERT_EQ(FindPrevTagOfType(reader, after, kFlvTagVideo, tag, pos, 10 * kMinute), S_OK);
  EXPECT_EQ(pos, VideoAt(f, 10 * kMinute - 1)) << "back through the repair";
}

// Some live muxers write 0 in every back-link, and a damaged one can lead
// anywhere: a backward walk then finds each tag before by walking forward
// from an earlier one, and keeps what it learned in the fix-up table.
TEST(FindPrevTagOfType, WalksBackWithoutUsableBackLinks) {
  const struct {
    const char* name;
    bool zeroBackLinks;
    bool damageOne;  // one back-link in the middle leads into a payload
  } cases[] = {
      {"EveryBackLinkZero", true, false},
      {"OneBackLinkWrong", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w;
    w.SetZeroBackLinks(c.zeroBackLinks);
    const std::vector<CraftedTag> tags = WriteAvTags(w, {3 * kMinute});
    std::vector<uint8_t> bytes = w.Bytes();
    const CraftedTag& middle = tags[tags.size() / 2];
    if (c.damageOne) bytes[static_cast<size_t>(middle.position) + 3] ^= 0x40;
    TestReader r(bytes);
    CTagLinkFixups fixups;
    CFlvReader reader(r.get(), 3 * kMinute, &fixups);
    FlvTag tag;
    int64_t pos = tags.back().position;
    ASSERT_EQ(ReadTagHeader(reader, pos, tag), S_OK);
    size_t cFound = 0;
    for (size_t i = tags.size() - 1; i-- > 0;) {
      if (tags[i].type != kFlvTagVideo) continue;
      ASSERT_EQ(FindPrevTagOfType(reader, pos, kFlvTagVideo, tag, pos, tag.TimeStamp), S_OK)
          << tags[i].timeMs;
      ASSERT_EQ(pos, tags[i].position);
      EXPECT_EQ(tag.TimeStamp, tags[i].timeMs);
      ++cFound;
    }
    EXPECT_EQ(FindPrevTagOfType(reader, pos, kFlvTagVideo, tag, pos, tag.TimeStamp), S_FALSE)
        << "before the first";
    EXPECT_GT(cFound, 4000u);
    EXPECT_GE(fixups.Count(), 1u);
    if (!c.damageOne) {
      EXPECT_GE(fixups.Count(), tags.size() - 1) << "every link learned once";
    }
  }
}

// A learned link from a long tag over a second chain (damaged files have
// them) must not hide that chain's links: each step back would then walk
// forward again over the 64 KB before it, about 4,400 empty tags, and this
// walk would read 50,000 times more headers than it has tags.
TEST(FindPrevTagOfType, WalkBackBehindALinkOverTheChainReadsEachTagOnce) {
  FlvWriter w;
  w.SetZeroBackLinks(true);
  std::vector<int64_t> positions;
  for (uint32_t i = 0; i < 50000; ++i) positions.push_back(w.Video(i, {}));
  TestReader r(w.Bytes());
  CTagLinkFixups fixups;
  ASSERT_EQ(fixups.Add(positions.front(), w.NextPosition() + 1000), S_OK);
  CFlvReader reader(r.get(), 0, &fixups);
  FlvTag tag;
  int64_t pos = positions.back();
  ASSERT_EQ(ReadTagHeader(reader, pos, tag), S_OK);
  for (size_t i = positions.size() - 1; i-- > 0;) {
    ASSERT_EQ(FindPrevTagOfType(reader, pos, kFlvTagVideo, tag, pos, tag.TimeStamp), S_OK) << i;
    ASSERT_EQ(pos, positions[i]);
  }
  EXPECT_LT(r->ReadCount(), 4 * positions.size()) << "a tag read more than a few times";
  EXPECT_EQ(fixups.Count(), positions.size()) << "each link learned once";
}

// The header search reads kScanWindow bytes at a time and takes no type byte
// from the last four of a window (its size would reach into the next one): a
// tag whose type byte falls there is passed over for the next tag of its chain.
TEST(FindNextTagHeaderSlow, TypeBytesInTheLastFourOfAWindowArePassedOver) {
  const struct {
    int64_t typeOffset;  // of the first tag's type byte from the search start
    bool firstFound;
  } cases[] = {
      {kScanWindow - 5, true},  // the last byte a type is taken from
      {kScanWindow - 4, false},
      {kScanWindow - 1, false},
      {kScanWindow, true},  // the first byte of the next window
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typeOffset);
    FlvWriter w;
    const int64_t start = w.NextPosition();
    // Zeros are no tag type, so the chain's tags are the only candidates.
    w.Raw(std::vector<uint8_t>(static_cast<size_t>(c.typeOffset - 4), 0));
    std::vector<int64_t> tags;
    for (uint32_t i = 0; i < 4; ++i) tags.push_back(w.Video(i * 40, VideoPayload(true, 20, 7)));
    TestReader r(w.Bytes());
    CFlvReader reader(r.get(), 0, nullptr);
    FlvTag tag;
    int64_t pos = 0;
    ASSERT_EQ(FindNextTagHeaderSlow(reader, start, 0, tag, pos), S_OK);
    EXPECT_EQ(pos, c.firstFound ? tags[0] : tags[1]);
  }
}

}  // namespace
}  // namespace flvdmx
