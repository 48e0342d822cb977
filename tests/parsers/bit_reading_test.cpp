// The start-code search and the two bit readers: where units begin, how
// emulation-prevention bytes disappear, Exp-Golomb codes at their limits,
// and what happens at the end of a unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "h264/q264.h"
#include "h264/q264_bit_reader.h"
#include "parsers/nal_bit_reader.h"
#include "parsers/start_code.h"

namespace flvdmx {
namespace {

struct StartCodeCase {
  const char* name;
  std::vector<uint8_t> bytes;
  int expected;  // offset of the header byte, -1 for none
};

class FindStartCodeTest : public ::testing::TestWithParam<StartCodeCase> {};

TEST_P(FindStartCodeTest, FindsTheHeaderByteAfterTheFirstStartCode) {
  const StartCodeCase& c = GetParam();
  const uint8_t* found = FindStartCode(c.bytes.data(), c.bytes.size());
  const int offset = found ? static_cast<int>(found - c.bytes.data()) : -1;
  EXPECT_EQ(offset, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindStartCodeTest,
    ::testing::Values(
        StartCodeCase{"Empty", {}, -1},
        StartCodeCase{"ThreeByteCodeWithHeaderOnly", {0, 0, 1, 0x67}, -1},
        StartCodeCase{"ThreeByteCodeWithOneByteAfterHeader", {0, 0, 1, 0x67, 0x42}, 3},
        StartCodeCase{"FourByteCodeIsFoundOneByteLater", {0, 0, 0, 1, 0x65, 0x88}, 4},
        StartCodeCase{"LeadingGarbage", {0x12, 0x00, 0x34, 0, 0, 1, 0x68, 0xCE}, 6},
        StartCodeCase{"ZeroRunsWithoutOne", {0, 0, 0, 0, 0, 0, 0, 0}, -1},
        StartCodeCase{"ZerosThenTwo", {0, 0, 2, 0x67, 0x42, 0x00}, -1},
        StartCodeCase{"LongZeroRunBeforeCode", {0, 0, 0, 0, 0, 0, 1, 0x40, 0x01}, 7},
        StartCodeCase{"CodeTooCloseToEnd", {0x11, 0x22, 0, 0, 1, 0x67}, -1},
        StartCodeCase{"SecondCodeWhenFirstIsCutShort", {0, 0, 1}, -1},
        StartCodeCase{"NoZeroAtAll", {1, 2, 3, 4, 5, 6, 7}, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Reads every whole byte the reader gives, then reports where it stopped.
std::vector<uint8_t> DrainBytes(NalBitReader& r) {
  std::vector<uint8_t> out;
  uint32_t v;
  while (r.ReadBits(8, &v)) out.push_back(static_cast<uint8_t>(v));
  return out;
}

struct EpbCase {
  const char* name;
  std::vector<uint8_t> payload;
  std::vector<uint8_t> nalReads;  // what NalBitReader yields
  std::vector<uint8_t> rbsp;      // what Q264_EBSPtoRBSP leaves (after the header byte)
};

class EmulationPreventionTest : public ::testing::TestWithParam<EpbCase> {};

TEST_P(EmulationPreventionTest, NalBitReaderSkipsTheThreeOfZeroZeroThree) {
  const EpbCase& c = GetParam();
  NalBitReader r(c.payload.data(), c.payload.data() + c.payload.size());
  EXPECT_EQ(DrainBytes(r), c.nalReads);
  EXPECT_TRUE(r.AtSentinel());
  EXPECT_TRUE(r.Overrun());
}

TEST_P(EmulationPreventionTest, H264ConversionRemovesItInPlace) {
  const EpbCase& c = GetParam();
  std::vector<uint8_t> unit{0x67};
  unit.insert(unit.end(), c.payload.begin(), c.payload.end());
  const uint32_t len = Q264_EBSPtoRBSP(unit.data(), static_cast<uint32_t>(unit.size()));
  std::vector<uint8_t> expected{0x67};
  expected.insert(expected.end(), c.rbsp.begin(), c.rbsp.end());
  EXPECT_EQ(std::vector<uint8_t>(unit.begin(), unit.begin() + len), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmulationPreventionTest,
    ::testing::Values(
        EpbCase{"Plain", {0x11, 0x22, 0x33}, {0x11, 0x22, 0x33}, {0x11, 0x22, 0x33}},
        EpbCase{"ThreeDroppedAfterTwoZeros", {0x11, 0, 0, 3, 1}, {0x11, 0, 0, 1}, {0x11, 0, 0, 1}},
        EpbCase{"TwoInARow", {0x11, 0, 0, 3, 0, 0, 3, 2}, {0x11, 0, 0, 0, 0, 2}, {0x11, 0, 0, 0, 0, 2}},
        EpbCase{"ThreeAtTheEnd", {0x11, 0, 0, 3}, {0x11, 0, 0}, {0x11, 0, 0}},
        EpbCase{"ThreeAfterOneZeroStays", {0x11, 0, 3, 1}, {0x11, 0, 3, 1}, {0x11, 0, 3, 1}},
        EpbCase{"ThreeThenZeroStartsANewRun", {0x11, 0, 0, 3, 0, 3, 0x55}, {0x11, 0, 0, 0, 3, 0x55},
                {0x11, 0, 0, 0, 3, 0x55}},
        // The bit reader never counts the first payload byte toward a zero
        // run; the standard's conversion does.
        EpbCase{"PayloadStartingWithZeroZeroThree", {0, 0, 3, 1}, {0, 0, 3, 1}, {0, 0, 1}},
        EpbCase{"Empty", {}, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ExpGolombCase {
  const char* name;
  std::string bits;  // '0' and '1', padded with 1s to whole bytes
  bool ok;
  uint32_t ue;
};

std::vector<uint8_t> PackBits(const std::string& bits) {
  std::vector<uint8_t> out((bits.size() + 7) / 8, 0xFF);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '0') out[i / 8] &= static_cast<uint8_t>(~(0x80u >> (i % 8)));
  return out;
}

class ExpGolombTest : public ::testing::TestWithParam<ExpGolombCase> {};

TEST_P(ExpGolombTest, BothReadersAgree) {
  const ExpGolombCase& c = GetParam();
  const std::vector<uint8_t> bytes = PackBits(c.bits);
  NalBitReader nal(bytes.data(), bytes.data() + bytes.size());
  Q264BitReader q(bytes.data(), bytes.size());
  uint32_t nalValue = 0xDEAD, qValue = 0xDEAD;
  EXPECT_EQ(nal.ReadUe(&nalValue), c.ok);
  EXPECT_EQ(q.ReadUe(&qValue), c.ok);
  if (c.ok) {
    EXPECT_EQ(nalValue, c.ue);
    EXPECT_EQ(qValue, c.ue);
  } else {
    EXPECT_EQ(nalValue, 0xDEADu) << "a failed read leaves its output alone";
    EXPECT_EQ(qValue, 0xDEADu);
  }
}

const std::string k31Zeros(31, '0');
const std::string k32Zeros(32, '0');

INSTANTIATE_TEST_SUITE_P(
    Table, ExpGolombTest,
    ::testing::Values(ExpGolombCase{"One", "1", true, 0}, ExpGolombCase{"ZeroOneZero", "010", true, 1},
                      ExpGolombCase{"ZeroOneOne", "011", true, 2}, ExpGolombCase{"Six", "00111", true, 6},
                      ExpGolombCase{"ThirtyOneZerosSmallest", k31Zeros + "1" + k31Zeros, true, 0x7FFFFFFFu},
                      ExpGolombCase{"ThirtyOneZerosLargest", k31Zeros + "1" + std::string(31, '1'), true, 0xFFFFFFFEu},
                      ExpGolombCase{"ThirtyTwoZerosIsRejected", k32Zeros + "1" + k32Zeros, false, 0},
                      ExpGolombCase{"AllZerosToTheEnd", "00000000", false, 0},
                      ExpGolombCase{"SuffixCutShort", "00001111", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExpGolomb, SignedMappingAlternates) {
  // codeNum 0..4 as ue: 1, 010, 011, 00100, 00101
  const std::vector<uint8_t> bytes = PackBits("1" "010" "011" "00100" "00101" "0000000000000000000000000000000" "1" +
                                              std::string(31, '1'));
  NalBitReader nal(bytes.data(), bytes.data() + bytes.size());
  Q264BitReader q(bytes.data(), bytes.size());
  for (int32_t expected : {0, 1, -1, 2, -2, -(0x7FFFFFFF)}) {
    int32_t a = 99, b = 99;
    ASSERT_TRUE(nal.ReadSe(&a));
    ASSERT_TRUE(q.ReadSe(&b));
    EXPECT_EQ(a, expected);
    EXPECT_EQ(b, expected);
  }
}

TEST(NalBitReader, ReadsAcrossBytesMostSignificantBitFirst) {
  const uint8_t bytes[] = {0xA5, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A};
  NalBitReader r(bytes, bytes + sizeof bytes);
  uint32_t v;
  ASSERT_TRUE(r.ReadBits(0, &v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(r.ReadFlag(&v));
  EXPECT_EQ(v, 1u);
  ASSERT_TRUE(r.ReadBits(3, &v));
  EXPECT_EQ(v, 0x2u);
  ASSERT_TRUE(r.ReadBits(12, &v));
  EXPECT_EQ(v, 0x50Fu);
  ASSERT_TRUE(r.SkipBits(8));
  ASSERT_TRUE(r.ReadBits(32, &v));
  EXPECT_EQ(v, 0x12345678u);
  EXPECT_FALSE(r.ReadBits(9, &v)) << "only 8 bits are left";
  EXPECT_TRUE(r.Overrun());
  EXPECT_FALSE(r.ReadFlag(&v)) << "the sentinel gives nothing";
}

TEST(NalBitReader, EmptyUnitIsAtTheSentinelFromTheStart) {
  const uint8_t byte = 0x80;
  NalBitReader r(&byte, &byte);
  EXPECT_TRUE(r.AtSentinel());
  uint32_t v;
  EXPECT_FALSE(r.ReadFlag(&v));
  NalBitReader none(nullptr, nullptr);
  EXPECT_FALSE(none.ReadFlag(&v));
}

}  // namespace
}  // namespace flvdmx
