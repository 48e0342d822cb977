#include "flv/flv_timestamps.h"

#include <gtest/gtest.h>

namespace flvdmx {
namespace {

TEST(Wraparound, CarriesTimeOnFromTheReference) {
  const struct {
    uint32_t reference, raw, expected;
  } cases[] = {
      {1000, 5000, 5000},
      {0x10000 + 100, 100, 100},              // exactly the threshold above: no wrap
      {0x10000 + 101, 100, 0x1000000 + 100},  // one more: wrapped
      {16800000, 30000, 16807216},            // after the first wrap
      {16800000, 10000, 16787216},            // a little below the reference: stays below it
      {16800000 + 0x10000, 10000, 33564432},  // far below it: the next period
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

// Backward walks: the tag lies before the reference, however far.
TEST(Wraparound, CarriesTimeBackFromTheReference) {
  const struct {
    uint32_t reference, raw, expected;
  } cases[] = {
      {5000, 1000, 1000},                                    // before any wrap: the raw time
      {0xFFFFFF, 100, 100},                                  // the last time of the first period
      {0x1000000 + 2000, 0xFFFFFF - 1000, 0xFFFFFF - 1000},  // across the wrap
      {0x1000000 + 2000, 1000, 0x1000000 + 1000},            // after the wrap, just before
      {0x1000000 + 2000, 2000 + 0x10000, 0x1000000 + 2000 + 0x10000},  // the threshold after it
      {0x1000000 + 2000, 2001 + 0x10000, 2001 + 0x10000},              // beyond: the period before
      {0x1000000 + 17460000 - 0x1000000, 17458000 - 0x1000000, 17458000},
      {0x3000000 + 5, 0xFFFFF0, 0x2FFFFF0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.reference << " " << c.raw);
    FlvTag tag;
    tag.TimeStamp = c.raw;
    EXPECT_EQ(WraparoundBackward(c.reference, tag), c.expected != c.raw);
    EXPECT_EQ(tag.TimeStamp, c.expected);
  }
}

}  // namespace
}  // namespace flvdmx
