// Test helpers that write H.264 / H.265 syntax: a most-significant-bit-first
// bit writer with Exp-Golomb codes, emulation prevention for a finished unit
// and Annex B framing. Header-only; shared by the parser tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace flvdmx::test {

class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) Bit(static_cast<uint32_t>((value >> i) & 1));
    return *this;
  }
  BitWriter& Flag(uint32_t b) { return Bits(b ? 1 : 0, 1); }
  BitWriter& Ue(uint64_t v) {
    const uint64_t codeNum = v + 1;
    int bits = 0;
    while ((codeNum >> bits) > 1) ++bits;
    Bits(0, bits);
    return Bits(codeNum, bits + 1);
  }
  BitWriter& Se(int64_t v) { return Ue(v > 0 ? 2 * static_cast<uint64_t>(v) - 1 : 2 * static_cast<uint64_t>(-v)); }
  // rbsp_trailing_bits: a stop bit, then zeros to the byte boundary.
  BitWriter& Trailing() {
    Bit(1);
    while (m_iBits % 8) Bit(0);
    return *this;
  }
  std::vector<uint8_t> Bytes() const { return m_Bytes; }
  int BitCount() const { return m_iBits; }

 private:
  void Bit(uint32_t b) {
    if (m_iBits % 8 == 0) m_Bytes.push_back(0);
    if (b) m_Bytes.back() |= static_cast<uint8_t>(0x80u >> (m_iBits % 8));
    ++m_iBits;
  }
  std::vector<uint8_t> m_Bytes;
  int m_iBits = 0;
};

// A unit in stored form: the header bytes, then the payload with an 03
// inserted wherever two zero bytes are followed by a byte of 0 to 3.
inline std::vector<uint8_t> MakeUnit(std::initializer_list<uint8_t> header, const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> unit(header);
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      unit.push_back(3);
      zeros = 0;
    }
    unit.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return unit;
}

// Units joined with four-byte start codes.
inline std::vector<uint8_t> AnnexB(std::initializer_list<std::vector<uint8_t>> units) {
  std::vector<uint8_t> out;
  for (const auto& unit : units) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), unit.begin(), unit.end());
  }
  return out;
}

}  // namespace flvdmx::test
