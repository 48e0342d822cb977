#include "flv/flv_file_state.h"

#include <gtest/gtest.h>

#include <vector>

#include "flv/flv_header_scan.h"
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
  // A header alone, whose data starts at 13.
  TestReader r({'F', 'L', 'V', 1, kFlvHasAudio, 0, 0, 0, 13});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFlvFileState state;
    ASSERT_EQ(ReadAndParseHeader(r.get(), state), S_OK);
    ASSERT_EQ(state.Header().DataOffset, 13u);
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

}  // namespace
}  // namespace flvdmx
