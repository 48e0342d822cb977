#include "flv/flv_timestamps.h"

#include <gtest/gtest.h>

namespace flvdmx {
namespace {

struct WrapCase {
  const char* name;
  uint32_t reference;
  uint32_t raw;
  uint32_t expected;
};

class Wraparound : public ::testing::TestWithParam<WrapCase> {};

TEST_P(Wraparound, CarriesTimeOnFromReference) {
  const WrapCase& c = GetParam();
  FlvTag tag;
  tag.TimeStamp = c.raw;
  EXPECT_EQ(WraparoundDetected(c.reference, tag), c.expected != c.raw);
  EXPECT_EQ(tag.TimeStamp, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Wraparound,
    ::testing::Values(
        WrapCase{"ReferenceBelowRaw", 1000, 5000, 5000},
        WrapCase{"ReferenceEqualsRaw", 5000, 5000, 5000},
        WrapCase{"ReferenceExactlyThresholdAbove", 0x10000 + 100, 100, 100},
        WrapCase{"ReferenceOneMoreThanThreshold", 0x10000 + 101, 100, 0x1000000 + 100},
        WrapCase{"WithinThresholdNotWrapped", 100000, 34464, 34464},
        WrapCase{"AfterFirstWrap", 16800000, 30000, 16807216},
        WrapCase{"AddsAnotherPeriodWhenBelowReference", 16800000, 10000, 33564432},
        WrapCase{"SecondWrap", 0x2000000 + 500, 0xFFFFFF - 100000, 0x3000000 - 100001},
        WrapCase{"ZeroReference", 0, 0, 0},
        WrapCase{"LargeRawNeverLowered", 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace flvdmx
