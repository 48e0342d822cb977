#include "flv/flv_file_state.h"

#include <gtest/gtest.h>

#include <vector>

#include "flv/flv_reader.h"
#include "support/flv_writer.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

TEST(SeekStartPoint, StoredPointIsReusedOnlyWhenItHelps) {
  const struct {
    const char* name;
    uint32_t storedTime, storedPos, target, startTime, startPos;
    bool nearFlag;
  } cases[] = {
      // A new filter holds time 0 at position 0, before the data offset (13).
      {"NewFilterNearTarget", 0, 0, 999, 0, 13, true},
      {"TargetAtHalfStoredTime", 60001, 5000, 30000, 60001, 5000, false},
      {"TargetBelowHalfStoredTime", 60000, 5000, 29999, 0, 13, false},
      {"StoredPointAtDataOffset", 60000, 13, 60000, 60000, 13, true},
      {"StoredPointBeforeDataOffset", 60000, 12, 60000, 0, 13, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
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
}

// 30 s of media from startMs, then `zeros` zero bytes (no type byte at all).
std::vector<uint8_t> Thirty(std::vector<CraftedTag>* tags, uint32_t startMs, size_t zeros) {
  FlvWriter w;
  AvFileLayout layout;
  layout.startMs = startMs;
  layout.durationMs = 30000;
  *tags = WriteAvTags(w, layout);
  w.Raw(std::vector<uint8_t>(zeros, 0));
  return w.Bytes();
}

TEST(TailSearch, FindsTheLastTimeOrFails) {
  const struct {
    const char* name;
    uint32_t startMs, zeros, boundFromEnd, initialDuration;  // the bound as bytes before the end; 0: position 9
    HRESULT result;
    bool nearLast;  // within the last window's worth of media, else exactly the last time
  } cases[] = {
      {"StepsBackOverAnEmptyTail", 0, 30000, 0, 0, S_OK, false},
      {"NothingAboveTheBound", 0, 30000, 25000, 0, E_FAIL, false},
      // Only the first tag found is carried past the wrap from the duration so far.
      {"FirstFoundCarriedPastTheWrap", 0x1000000 - 20000, 0, 0, 0x1000000 - 1000, S_OK, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CraftedTag> tags;
    TestReader r(Thirty(&tags, c.startMs, c.zeros));
    CFlvReader reader(r.get(), 0, nullptr);
    CFlvFileState state;
    state.m_llAvailable = reader.Available();
    state.m_dwDuration = c.initialDuration;
    const int64_t bound = c.boundFromEnd ? reader.Available() - c.boundFromEnd : 9;
    ASSERT_EQ(state.FindTimestampOfLastSample(reader, bound), c.result);
    if (c.result != S_OK) continue;
    EXPECT_LE(state.m_dwDuration, tags.back().timeMs);
    EXPECT_GE(state.m_dwDuration, tags.back().timeMs - (c.nearLast ? 5000 : 0));
  }
  FlvWriter tiny;
  tiny.Audio(0, AudioPayload(5));
  TestReader r(tiny.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  CFlvFileState state;
  state.m_llAvailable = reader.Available();
  EXPECT_EQ(state.FindTimestampOfLastSample(reader, 9), E_FAIL) << "a file shorter than a window";
}

TEST(TailSearch, RecordsBrokenBackLinksItWalksOver) {
  FlvWriter w;
  AvFileLayout layout;
  layout.durationMs = 30000;
  const std::vector<CraftedTag> tags = WriteAvTags(w, layout);
  const int64_t broken = w.Tag(kFlvTagAudio, 30000, AudioPayload(20), {3, std::nullopt});
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
