// BitReader: the one most-significant-bit-first reader over a byte span,
// used by every bit-level parser (H.264 and H.265 parameter sets, the
// stream headers of FLV video and audio tags).
//
// A plain value object on the caller's stack; it does not own the bytes and
// never looks outside [data, data + size). Every read says whether it
// succeeded and a failed read leaves its output untouched.
//
// Optionally it drops the emulation-prevention bytes of a NAL unit payload
// (the 03 of 00 00 03) as it goes, so parameter-set code sees the raw
// syntax. The first byte of the span never counts toward a zero run, and a
// third zero ends a run rather than extending it (00 00 00 03 keeps its 03).
//
// Once the bytes run out every later read fails and Overrun() turns true:
// this tells data that was cut short from data that is bad (an Exp-Golomb
// code longer than 31 leading zeros, or a value over ReadUeMax's bound,
// fails with Overrun() false).
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

class BitReader {
 public:
  enum class EmulationPrevention { kKeep, kStrip };

  BitReader(const uint8_t* data, size_t size, EmulationPrevention epb = EmulationPrevention::kKeep);

  // n from 0 to 32; 0 reads nothing and gives 0.
  [[nodiscard]] bool ReadBits(int n, uint32_t* pValue);
  [[nodiscard]] bool ReadFlag(uint32_t* pValue) { return ReadBits(1, pValue); }
  [[nodiscard]] bool SkipBits(uint32_t n);
  // ue(v); at most 31 leading zeros, so the value fits 32 bits.
  [[nodiscard]] bool ReadUe(uint32_t* pValue);
  // ue(v) read and range-checked in one step: a value over max fails.
  [[nodiscard]] bool ReadUeMax(uint32_t max, uint32_t* pValue);
  // se(v): codeNum 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
  [[nodiscard]] bool ReadSe(int32_t* pValue);

  // A read has needed bits beyond the end of the span.
  bool Overrun() const { return m_bOverrun; }

 private:
  [[nodiscard]] bool NextBit(uint32_t* pBit);
  void MoveToNextByte();

  const uint8_t* m_pData;
  size_t m_cbSize;
  size_t m_cbPos = 0;  // m_cbSize: the bytes have run out
  int m_iBit = 7;      // next bit of the current byte; below 0: move on first
  int m_iZeroRun = 0;  // zero bytes just passed (0, 1 or 2), when stripping
  bool m_bStrip;
  bool m_bOverrun = false;
};

}  // namespace flvdmx
