// Q264BitReader: most-significant-bit-first reader over an H.264 RBSP (the
// emulation-prevention bytes already removed). Bounded like ByteReader:
// every read says whether it succeeded, checks are written so they cannot
// overflow, and a failed read leaves its output untouched. A value object
// over bytes it does not own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

class Q264BitReader {
 public:
  Q264BitReader(const uint8_t* data, size_t size)
      : m_pData(data), m_qwBits(data ? uint64_t{size} * 8 : 0) {}

  // n from 0 to 32.
  [[nodiscard]] bool ReadBits(int n, uint32_t* pValue) {
    if (n < 0 || n > 32 || static_cast<uint64_t>(n) > m_qwBits - m_qwPos) {
      m_bOverrun = true;
      return false;
    }
    uint64_t value = 0;
    for (int i = 0; i < n; ++i, ++m_qwPos)
      value = (value << 1) | ((m_pData[m_qwPos >> 3] >> (7 - (m_qwPos & 7))) & 1u);
    *pValue = static_cast<uint32_t>(value);
    return true;
  }
  [[nodiscard]] bool ReadFlag(uint32_t* pValue) { return ReadBits(1, pValue); }

  // ue(v) with at most 31 leading zeros, so every value fits 32 bits; a
  // longer prefix is not a code of the standard and fails.
  [[nodiscard]] bool ReadUe(uint32_t* pValue) {
    int leadingZeros = 0;
    for (;;) {
      uint32_t bit;
      if (!ReadBits(1, &bit)) return false;
      if (bit) break;
      if (++leadingZeros > 31) return false;
    }
    uint32_t suffix;
    if (!ReadBits(leadingZeros, &suffix)) return false;
    *pValue = static_cast<uint32_t>((uint64_t{1} << leadingZeros) - 1 + suffix);
    return true;
  }
  [[nodiscard]] bool ReadSe(int32_t* pValue) {
    uint32_t k;
    if (!ReadUe(&k)) return false;
    const int64_t magnitude = (int64_t{k} + 1) / 2;
    *pValue = static_cast<int32_t>((k & 1) ? magnitude : -magnitude);
    return true;
  }

  // A read needed more bits than the RBSP holds.
  bool Overrun() const { return m_bOverrun; }
  uint64_t BitsLeft() const { return m_qwBits - m_qwPos; }

 private:
  const uint8_t* m_pData;
  uint64_t m_qwBits;
  uint64_t m_qwPos = 0;
  bool m_bOverrun = false;
};

}  // namespace flvdmx
