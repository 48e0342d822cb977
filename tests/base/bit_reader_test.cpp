// The bit reader: how emulation-prevention bytes disappear, Exp-Golomb codes
// at their limits, and a refused value told apart from data that ran out.
#include "base/bit_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace flvdmx {
namespace {

using Epb = BitReader::EmulationPrevention;

std::vector<uint8_t> ReadAllBytes(BitReader& r) {
  std::vector<uint8_t> read;
  for (uint32_t v; r.ReadBits(8, &v);) read.push_back(static_cast<uint8_t>(v));
  return read;
}

TEST(BitReaderEmulationPrevention, DropsTheThreeOfZeroZeroThree) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload, read;
  } cases[] = {
      {"TwoInARow", {0x11, 0, 0, 3, 0, 0, 3, 2}, {0x11, 0, 0, 0, 0, 2}},
      {"ThreeAtTheEnd", {0x11, 0, 0, 3}, {0x11, 0, 0}},
      {"ThreeAfterOneZeroStays", {0x11, 0, 3, 1}, {0x11, 0, 3, 1}},
      {"ThreeThenZeroStartsANewRun", {0x11, 0, 0, 3, 0, 3, 0x55}, {0x11, 0, 0, 0, 3, 0x55}},
      {"ThreeAfterThreeStays", {0x11, 0, 0, 3, 3, 1}, {0x11, 0, 0, 3, 1}},
      // Deliberate: a third zero ends the run, so its 03 is payload.
      {"ThreeZerosThenThreeStays", {0x11, 0, 0, 0, 3}, {0x11, 0, 0, 0, 3}},
      // Deliberate: the first byte never counts toward a zero run.
      {"PayloadStartingWithZeroZeroThree", {0, 0, 3, 1}, {0, 0, 3, 1}},
      {"SecondAndThirdZeroThenThree", {0, 0, 0, 3, 1}, {0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BitReader r(c.payload.data(), c.payload.size(), Epb::kStrip);
    EXPECT_EQ(ReadAllBytes(r), c.read);
    EXPECT_TRUE(r.Overrun());
    BitReader kept(c.payload.data(), c.payload.size());
    EXPECT_EQ(ReadAllBytes(kept), c.payload) << "without the option every byte is payload";
  }
}

// '0' and '1', padded with 1s to whole bytes.
std::vector<uint8_t> PackBits(const std::string& bits) {
  std::vector<uint8_t> out((bits.size() + 7) / 8, 0xFF);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '0') out[i / 8] &= static_cast<uint8_t>(~(0x80u >> (i % 8)));
  return out;
}

TEST(BitReaderExpGolomb, AcceptsUpToThirtyOneLeadingZeros) {
  const std::string zeros31(31, '0'), ones31(31, '1');
  const struct {
    std::string bits;
    bool ok, overrun;
    uint32_t ue;
    int32_t se;
  } cases[] = {
      {"1", true, false, 0, 0},
      {"010", true, false, 1, 1},
      {"011", true, false, 2, -1},
      {"00101", true, false, 4, -2},
      {zeros31 + "1" + zeros31, true, false, 0x7FFFFFFFu, 0x40000000},
      {zeros31 + "1" + ones31, true, false, 0xFFFFFFFEu, -0x7FFFFFFF},
      {zeros31 + "01" + zeros31 + "0", false, false, 0, 0},  // 32 zeros: bad data
      {"00000000", false, true, 0, 0},                       // prefix cut short
      {"00001111", false, true, 0, 0},                       // suffix cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    const std::vector<uint8_t> bytes = PackBits(c.bits);
    BitReader r(bytes.data(), bytes.size()), rSigned = r;
    uint32_t u = 0xDEAD;
    int32_t s = 99;
    EXPECT_EQ(r.ReadUe(&u), c.ok);
    EXPECT_EQ(rSigned.ReadSe(&s), c.ok);
    EXPECT_EQ(r.Overrun(), c.overrun);
    EXPECT_EQ(u, c.ok ? c.ue : 0xDEADu) << "a failed read leaves its output alone";
    EXPECT_EQ(s, c.ok ? c.se : 99);
  }
}

TEST(BitReaderUeMax, RefusalIsNotAnOverrun) {
  const std::vector<uint8_t> five = PackBits("00110");  // ue 5, then one bit
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t max;
    bool ok, overrun;
  } cases[] = {
      {"AtTheBound", five, 5, true, false},
      {"OverTheBound", five, 4, false, false},
      {"CutShort", {0x00}, 0xFFFFFFFFu, false, true},
      {"Empty", {}, 0xFFFFFFFFu, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BitReader r(c.bytes.data(), c.bytes.size());
    uint32_t v = 77;
    EXPECT_EQ(r.ReadUeMax(c.max, &v), c.ok);
    EXPECT_EQ(v, c.ok ? 5u : 77u);
    EXPECT_EQ(r.Overrun(), c.overrun);
  }
}

TEST(BitReaderBits, FieldsAcrossBytesAndTheEnd) {
  const uint8_t bytes[] = {0xA5, 0x0F, 0xF0, 0x12, 0x34};
  BitReader r(bytes, sizeof(bytes));
  uint32_t v = 0;
  ASSERT_TRUE(r.ReadBits(0, &v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(r.ReadBits(4, &v));
  EXPECT_EQ(v, 0xAu);
  ASSERT_TRUE(r.SkipBits(4));
  ASSERT_TRUE(r.ReadBits(32, &v));
  EXPECT_EQ(v, 0x0FF01234u);
  EXPECT_FALSE(r.ReadFlag(&v));
  EXPECT_EQ(v, 0x0FF01234u);
  EXPECT_TRUE(r.Overrun());
  BitReader skip(bytes, sizeof(bytes));
  EXPECT_FALSE(skip.SkipBits(41));
  EXPECT_TRUE(skip.Overrun());
  BitReader none(nullptr, 8);
  EXPECT_FALSE(none.ReadFlag(&v));
}

}  // namespace
}  // namespace flvdmx
