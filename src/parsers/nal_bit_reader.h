// NalBitReader: most-significant-bit-first reader over the payload of one
// H.265 unit (the bytes after its header). It drops emulation-prevention
// bytes (the 03 of 00 00 03) as it goes, so parameter-set code sees the raw
// syntax, and it never looks outside [payload, end).
//
// A plain value object on the caller's stack, one per unit; it does not own
// the bytes. Once the bytes run out the reader rests on a zero sentinel:
// every later read reports failure and Overrun() turns true, which lets a
// caller tell a unit that was cut short from one whose data is bad (an
// Exp-Golomb code longer than 31 leading zeros fails with Overrun() false).
// Failed reads leave their output untouched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

class NalBitReader {
 public:
  NalBitReader(const uint8_t* payload, const uint8_t* end);

  [[nodiscard]] bool ReadFlag(uint32_t* pValue);
  // n from 0 to 32; 0 reads nothing and gives 0.
  [[nodiscard]] bool ReadBits(int n, uint32_t* pValue);
  [[nodiscard]] bool SkipBits(uint32_t n);
  // ue(v); at most 31 leading zeros, so the value fits 32 bits.
  [[nodiscard]] bool ReadUe(uint32_t* pValue);
  // se(v): codeNum 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
  [[nodiscard]] bool ReadSe(int32_t* pValue);

  // A read has needed bits beyond the end of the unit.
  bool Overrun() const { return m_bOverrun; }
  bool AtSentinel() const { return m_cbPos == m_cbSize; }

 private:
  [[nodiscard]] bool NextBit(uint32_t* pBit);
  void MoveToNextByte();

  const uint8_t* m_pData;
  size_t m_cbSize;
  size_t m_cbPos = 0;  // m_cbSize: at the sentinel
  int m_iBit = 7;      // next bit of the current byte; below 0: move on first
  int m_iZeroRun = 0;  // zero bytes just passed (0, 1 or 2)
  bool m_bOverrun = false;
};

}  // namespace flvdmx
