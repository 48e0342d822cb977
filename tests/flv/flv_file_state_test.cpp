#include "flv/flv_file_state.h"

#include <gtest/gtest.h>

#include <vector>

#include "crafted_files.h"
#include "flv/flv_reader.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

struct StartCase {
  const char* name;
  uint32_t storedTime;
  int64_t storedPos;
  uint32_t target;
  uint32_t startTime;
  int64_t startPos;
  bool nearFlag;
};

class SeekStartPoint : public ::testing::TestWithParam<StartCase> {};

TEST_P(SeekStartPoint, ReusesTheStoredPointOnlyWhenItHelps) {
  const StartCase& c = GetParam();
  CFlvFileState state;
  state.m_FlvHeader.DataOffset = 13;
  state.SetSeekStartPoint(c.storedTime, c.storedPos);
  uint32_t time = 0xDEAD;
  int64_t pos = -1;
  bool nearFlag = !c.nearFlag;
  state.GetSeekStartPoint(c.target, &time, &pos, &nearFlag);
  EXPECT_EQ(time, c.startTime);
  EXPECT_EQ(pos, c.startPos);
  EXPECT_EQ(nearFlag, c.nearFlag);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SeekStartPoint,
    ::testing::Values(
        // A new filter holds time 0 at position 0, before the data offset.
        StartCase{"NewFilterFarTarget", 0, 0, 5000, 0, 13, false},
        StartCase{"NewFilterNearTarget", 0, 0, 999, 0, 13, true},
        StartCase{"NewFilterOneSecond", 0, 0, 1000, 0, 13, false},
        StartCase{"StoredPointUsed", 60000, 5000, 90000, 60000, 5000, false},
        StartCase{"StoredPointNearAbove", 60000, 5000, 60999, 60000, 5000, true},
        StartCase{"StoredPointNearBelow", 60000, 5000, 59001, 60000, 5000, true},
        StartCase{"TargetAtHalfStoredTime", 60001, 5000, 30000, 60001, 5000, false},
        StartCase{"TargetBelowHalfStoredTime", 60000, 5000, 29999, 0, 13, false},
        StartCase{"StoredPointAtDataOffset", 60000, 13, 60000, 60000, 13, true},
        StartCase{"StoredPointBeforeDataOffset", 60000, 12, 60000, 0, 13, false}),
    [](const auto& info) { return info.param.name; });

enum class Found { kLastTime, kInitial, kNearLastTime };

struct TailCase {
  const char* name;
  std::vector<uint8_t> (*make)(std::vector<CraftedTag>* tags);
  int64_t boundFromEnd;  // the lower bound, as bytes before the end; 0: position 9
  uint32_t initialDuration;
  HRESULT result;
  Found found;
};

class TailSearch : public ::testing::TestWithParam<TailCase> {};

TEST_P(TailSearch, FindsTheLastTimeAndRepairsWhatItWalks) {
  const TailCase& c = GetParam();
  std::vector<CraftedTag> tags;
  const std::vector<uint8_t> bytes = c.make(&tags);
  TestReader r(bytes);
  CFlvReader reader(r.get(), 0, nullptr);
  CFlvFileState state;
  state.m_llAvailable = reader.Available();
  state.m_dwDuration = c.initialDuration;
  const int64_t bound = c.boundFromEnd ? reader.Available() - c.boundFromEnd : 9;
  EXPECT_EQ(state.FindTimestampOfLastSample(reader, bound), c.result);
  if (c.result != S_OK) return;
  switch (c.found) {
    case Found::kLastTime:
      EXPECT_EQ(state.m_dwDuration, tags.back().timeMs);
      break;
    case Found::kInitial:
      EXPECT_EQ(state.m_dwDuration, c.initialDuration);
      break;
    case Found::kNearLastTime:
      EXPECT_LE(state.m_dwDuration, tags.back().timeMs);
      EXPECT_GE(state.m_dwDuration, tags.back().timeMs - 5000);
      break;
  }
}

std::vector<uint8_t> Thirty(std::vector<CraftedTag>* tags, uint32_t startMs, size_t zeros) {
  FlvWriter w;
  AvFileLayout layout;
  layout.startMs = startMs;
  layout.durationMs = 30000;
  *tags = WriteAvTags(w, layout);
  w.Raw(std::vector<uint8_t>(zeros, 0));  // zeros: no type byte at all
  return w.Bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Table, TailSearch,
    ::testing::Values(TailCase{"LongFile",
                               [](auto* t) {
                                 *t = LongFile(false).tags;
                                 return LongFile(false).bytes;
                               },
                               0, 0, S_OK, Found::kLastTime},
                      TailCase{"OnlyRaises", [](auto* t) { return Thirty(t, 0, 0); }, 0, 90000,
                               S_OK, Found::kInitial},
                      TailCase{"StepsBackOverAnEmptyTail",
                               [](auto* t) { return Thirty(t, 0, 30000); }, 0, 0, S_OK,
                               Found::kLastTime},
                      TailCase{"NothingAboveTheBound", [](auto* t) { return Thirty(t, 0, 30000); },
                               25000, 0, E_FAIL, Found::kLastTime},
                      TailCase{"FileShorterThanAWindow",
                               [](auto* t) {
                                 FlvWriter w;
                                 w.Audio(0, AudioPayload(5));
                                 *t = {};
                                 return w.Bytes();
                               },
                               0, 0, E_FAIL, Found::kLastTime},
                      // Only the first tag found is carried past the wrap from the duration
                      // so far; later tags raise it as read. So the result is that tag's
                      // time, within the last window's worth of media before the end.
                      TailCase{"FirstFoundCarriedPastTheWrap",
                               [](auto* t) { return Thirty(t, 0x1000000 - 20000, 0); }, 0,
                               0x1000000 - 1000, S_OK, Found::kNearLastTime}),
    [](const auto& info) { return info.param.name; });

TEST(TailSearch, RecordsBrokenBackLinksItWalksOver) {
  std::vector<CraftedTag> tags;
  FlvWriter w;
  AvFileLayout layout;
  layout.durationMs = 30000;
  tags = WriteAvTags(w, layout);
  FlvWriter::TagOptions wrong;
  wrong.previousTagSize = 3;
  const int64_t broken = w.Tag(kFlvTagAudio, 30000, AudioPayload(20), wrong);
  w.Audio(30023, AudioPayload(20));
  TestReader r(w.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  CFlvFileState state;
  state.m_llAvailable = reader.Available();
  ASSERT_EQ(state.FindTimestampOfLastSample(reader, 9), S_OK);
  EXPECT_EQ(state.m_dwDuration, 30023u);
  int64_t key = 0;
  ASSERT_TRUE(state.m_TagLinkFixups.FindPredecessor(broken, &key));
  EXPECT_EQ(key, tags.back().position);
  EXPECT_EQ(state.m_TagLinkFixups.Count(), 1u);
}

}  // namespace
}  // namespace flvdmx
