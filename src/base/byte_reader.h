// ByteReader: the one bounded big-endian reader over a byte span that every
// parser reads through. It never reads outside [data, data + size); every read
// says whether it succeeded, and a failed read leaves the reader unchanged.
// Nested structures get a sub-reader that cannot see past their end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : m_pData(data), m_cbSize(data ? size : 0) {}

  size_t size() const { return m_cbSize; }
  size_t pos() const { return m_cbPos; }
  size_t remaining() const { return m_cbSize - m_cbPos; }
  const uint8_t* data() const { return m_pData; }
  const uint8_t* current() const { return m_pData + m_cbPos; }
  bool empty() const { return m_cbPos == m_cbSize; }

  [[nodiscard]] bool Skip(size_t n) {
    if (n > remaining()) return false;
    m_cbPos += n;
    return true;
  }

  [[nodiscard]] bool GetU8(uint8_t* v) { return GetBE(v, 1); }
  [[nodiscard]] bool GetU16(uint16_t* v) { return GetBE(v, 2); }
  [[nodiscard]] bool GetU24(uint32_t* v) { return GetBE(v, 3); }
  [[nodiscard]] bool GetU32(uint32_t* v) { return GetBE(v, 4); }
  [[nodiscard]] bool GetU64(uint64_t* v) { return GetBE(v, 8); }

  [[nodiscard]] bool PeekU8(uint8_t* v) const { return PeekBE(v, 1); }

  // Points at n bytes in place and advances.
  [[nodiscard]] bool GetSpan(const uint8_t** out, size_t n) {
    if (n > remaining()) return false;
    *out = current();
    m_cbPos += n;
    return true;
  }
  // A reader over the next n bytes, which this reader skips.
  [[nodiscard]] bool GetSubReader(ByteReader* out, size_t n) {
    if (n > remaining()) return false;
    *out = ByteReader(current(), n);
    m_cbPos += n;
    return true;
  }

 private:
  template <typename T>
  [[nodiscard]] bool PeekBE(T* v, size_t n) const {
    if (n > remaining()) return false;
    T value = 0;
    for (size_t i = 0; i < n; ++i) value = static_cast<T>((value << 8) | m_pData[m_cbPos + i]);
    *v = value;
    return true;
  }
  template <typename T>
  [[nodiscard]] bool GetBE(T* v, size_t n) {
    if (!PeekBE(v, n)) return false;
    m_cbPos += n;
    return true;
  }

  const uint8_t* m_pData = nullptr;
  size_t m_cbSize = 0;
  size_t m_cbPos = 0;
};

}  // namespace flvdmx
