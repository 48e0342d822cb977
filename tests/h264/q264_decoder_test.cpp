// The H.264 library's conversion of a unit to its payload form.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "h264/q264.h"

namespace flvdmx {
namespace {

TEST(Q264EbspToRbsp, DropsTheThreeOfZeroZeroThreeAfterTheHeader) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload, rbsp;
  } cases[] = {
      {"TwoInARow", {0x11, 0, 0, 3, 0, 0, 3, 2}, {0x11, 0, 0, 0, 0, 2}},
      {"ThreeAtTheEnd", {0x11, 0, 0, 3}, {0x11, 0, 0}},
      {"ThreeAfterOneZeroStays", {0x11, 0, 3, 1}, {0x11, 0, 3, 1}},
      {"ThreeThenZeroStartsANewRun", {0x11, 0, 0, 3, 0, 3, 0x55}, {0x11, 0, 0, 0, 3, 0x55}},
      // Unlike the bit reader, the first payload byte counts toward a run.
      {"PayloadStartingWithZeroZeroThree", {0, 0, 3, 1}, {0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> unit{0x67};
    unit.insert(unit.end(), c.payload.begin(), c.payload.end());
    unit.resize(Q264_EBSPtoRBSP(unit.data(), static_cast<uint32_t>(unit.size())));
    EXPECT_EQ(std::vector<uint8_t>(unit.begin() + 1, unit.end()), c.rbsp);
  }
}

}  // namespace
}  // namespace flvdmx
