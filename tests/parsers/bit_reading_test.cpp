// The two bit readers: how emulation-prevention bytes disappear, and
// Exp-Golomb codes at their limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "h264/q264.h"
#include "h264/q264_bit_reader.h"
#include "parsers/nal_bit_reader.h"

namespace flvdmx {
namespace {

TEST(EmulationPrevention, BothReadersDropTheThreeOfZeroZeroThree) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload, nalReads, rbsp;  // NalBitReader's bytes, Q264_EBSPtoRBSP's bytes
  } cases[] = {
      {"TwoInARow", {0x11, 0, 0, 3, 0, 0, 3, 2}, {0x11, 0, 0, 0, 0, 2}, {0x11, 0, 0, 0, 0, 2}},
      {"ThreeAtTheEnd", {0x11, 0, 0, 3}, {0x11, 0, 0}, {0x11, 0, 0}},
      {"ThreeAfterOneZeroStays", {0x11, 0, 3, 1}, {0x11, 0, 3, 1}, {0x11, 0, 3, 1}},
      {"ThreeThenZeroStartsANewRun", {0x11, 0, 0, 3, 0, 3, 0x55}, {0x11, 0, 0, 0, 3, 0x55}, {0x11, 0, 0, 0, 3, 0x55}},
      // Deliberate: the bit reader never counts the first payload byte
      // toward a zero run; the standard's conversion does.
      {"PayloadStartingWithZeroZeroThree", {0, 0, 3, 1}, {0, 0, 3, 1}, {0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NalBitReader r(c.payload.data(), c.payload.data() + c.payload.size());
    std::vector<uint8_t> read;
    for (uint32_t v; r.ReadBits(8, &v);) read.push_back(static_cast<uint8_t>(v));
    EXPECT_EQ(read, c.nalReads);
    EXPECT_TRUE(r.AtSentinel() && r.Overrun());
    std::vector<uint8_t> unit{0x67};
    unit.insert(unit.end(), c.payload.begin(), c.payload.end());
    unit.resize(Q264_EBSPtoRBSP(unit.data(), static_cast<uint32_t>(unit.size())));
    EXPECT_EQ(std::vector<uint8_t>(unit.begin() + 1, unit.end()), c.rbsp);
  }
}

// '0' and '1', padded with 1s to whole bytes.
std::vector<uint8_t> PackBits(const std::string& bits) {
  std::vector<uint8_t> out((bits.size() + 7) / 8, 0xFF);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '0') out[i / 8] &= static_cast<uint8_t>(~(0x80u >> (i % 8)));
  return out;
}

TEST(ExpGolomb, BothReadersAgreeUpToThirtyOneLeadingZeros) {
  const std::string zeros31(31, '0'), ones31(31, '1');
  const struct {
    std::string bits;
    bool ok;
    uint32_t ue;
    int32_t se;
  } cases[] = {
      {"1", true, 0, 0},
      {"010", true, 1, 1},
      {"011", true, 2, -1},
      {"00101", true, 4, -2},
      {zeros31 + "1" + zeros31, true, 0x7FFFFFFFu, 0x40000000},
      {zeros31 + "1" + ones31, true, 0xFFFFFFFEu, -0x7FFFFFFF},
      {zeros31 + "01" + zeros31 + "0", false, 0, 0},
      {"00000000", false, 0, 0},
      {"00001111", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    const std::vector<uint8_t> bytes = PackBits(c.bits);
    NalBitReader nal(bytes.data(), bytes.data() + bytes.size()), nalSigned = nal;
    Q264BitReader q(bytes.data(), bytes.size()), qSigned = q;
    uint32_t u[2] = {0xDEAD, 0xDEAD};
    int32_t s[2] = {99, 99};
    EXPECT_EQ(nal.ReadUe(&u[0]), c.ok);
    EXPECT_EQ(q.ReadUe(&u[1]), c.ok);
    EXPECT_EQ(nalSigned.ReadSe(&s[0]), c.ok);
    EXPECT_EQ(qSigned.ReadSe(&s[1]), c.ok);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(u[i], c.ok ? c.ue : 0xDEADu) << "a failed read leaves its output alone";
      EXPECT_EQ(s[i], c.ok ? c.se : 99);
    }
  }
}

}  // namespace
}  // namespace flvdmx
