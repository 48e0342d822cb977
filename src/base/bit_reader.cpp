#include "base/bit_reader.h"

#include <cassert>

namespace flvdmx {

BitReader::BitReader(const uint8_t* data, size_t size, EmulationPrevention epb)
    : m_pData(data), m_cbSize(data ? size : 0), m_bStrip(epb == EmulationPrevention::kStrip) {}

void BitReader::MoveToNextByte() {
  m_iBit = 7;
  if (m_cbPos == m_cbSize) return;
  ++m_cbPos;
  if (m_cbPos == m_cbSize || !m_bStrip) {
    m_iZeroRun = 0;
    return;
  }
  const uint8_t b = m_pData[m_cbPos];
  if (b == 0 && m_iZeroRun < 2) {
    ++m_iZeroRun;
  } else if (b == 3 && m_iZeroRun == 2) {
    ++m_cbPos;  // emulation prevention: the 03 carries no payload bits
    m_iZeroRun = (m_cbPos < m_cbSize && m_pData[m_cbPos] == 0) ? 1 : 0;
  } else {
    m_iZeroRun = 0;
  }
}

bool BitReader::NextBit(uint32_t* pBit) {
  if (m_iBit < 0) MoveToNextByte();
  if (m_cbPos == m_cbSize) {
    m_bOverrun = true;
    return false;
  }
  *pBit = (m_pData[m_cbPos] >> m_iBit) & 1u;
  --m_iBit;
  return true;
}

// Bits are taken a byte's worth at a time: parameter sets are read field by
// field, and a loop per bit was most of their cost.
bool BitReader::ReadBits(int n, uint32_t* pValue) {
  assert(n >= 0 && n <= 32);
  if (n < 0 || n > 32) return false;
  uint64_t value = 0;
  while (n > 0) {
    if (m_iBit < 0) MoveToNextByte();
    if (m_cbPos == m_cbSize) {
      m_bOverrun = true;
      return false;
    }
    const int avail = m_iBit + 1;
    const int take = n < avail ? n : avail;
    const uint32_t bits = (m_pData[m_cbPos] >> (avail - take)) & ((1u << take) - 1);
    value = (value << take) | bits;
    m_iBit -= take;
    n -= take;
  }
  *pValue = static_cast<uint32_t>(value);
  return true;
}

bool BitReader::SkipBits(uint32_t n) {
  uint32_t ignored;
  for (; n >= 32; n -= 32)
    if (!ReadBits(32, &ignored)) return false;
  return ReadBits(static_cast<int>(n), &ignored);
}

bool BitReader::ReadUe(uint32_t* pValue) {
  int leadingZeros = 0;
  for (;;) {
    uint32_t bit;
    if (!NextBit(&bit)) return false;
    if (bit) break;
    if (++leadingZeros > 31) return false;
  }
  uint32_t suffix;
  if (!ReadBits(leadingZeros, &suffix)) return false;
  *pValue = static_cast<uint32_t>((uint64_t{1} << leadingZeros) - 1 + suffix);
  return true;
}

bool BitReader::ReadUeMax(uint32_t max, uint32_t* pValue) {
  uint32_t v;
  if (!ReadUe(&v) || v > max) return false;
  *pValue = v;
  return true;
}

bool BitReader::ReadSe(int32_t* pValue) {
  uint32_t k;
  if (!ReadUe(&k)) return false;
  const int64_t magnitude = (int64_t{k} + 1) / 2;
  *pValue = static_cast<int32_t>((k & 1) ? magnitude : -magnitude);
  return true;
}

}  // namespace flvdmx
