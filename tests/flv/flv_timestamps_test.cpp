#include "flv/flv_timestamps.h"

#include <gtest/gtest.h>

namespace flvdmx {
namespace {

TEST(Wraparound, CarriesTimeOnFromTheReference) {
  const struct {
    uint32_t reference, raw, expected;
  } cases[] = {
      {1000, 5000, 5000},
      {0x10000 + 100, 100, 100},               // exactly the threshold above: no wrap
      {0x10000 + 101, 100, 0x1000000 + 100},   // one more: wrapped
      {16800000, 30000, 16807216},             // after the first wrap
      {16800000, 10000, 33564432},             // below the reference: another period
      {0x2000000 + 500, 0xFFFFFF - 100000, 0x3000000 - 100001},
      {0, 0, 0},
      {0xFFFFFF, 0xFFFFFF, 0xFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.reference << " " << c.raw);
    FlvTag tag;
    tag.TimeStamp = c.raw;
    EXPECT_EQ(WraparoundDetected(c.reference, tag), c.expected != c.raw);
    EXPECT_EQ(tag.TimeStamp, c.expected);
  }
}

}  // namespace
}  // namespace flvdmx
