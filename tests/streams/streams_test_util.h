// Helpers of the stream-description tests: hex text of format blocks, an
// owning handle for the in-memory reader, and tag records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "flv/flv_structs.h"
#include "host/memory_reader.h"

namespace flvdmx {

// Lower-case hex, no separators.
inline std::string Hex(const void* p, size_t cb) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < cb; ++i) {
    out += kDigits[b[i] >> 4];
    out += kDigits[b[i] & 15];
  }
  return out;
}
inline std::string Hex(const std::vector<uint8_t>& v) { return Hex(v.data(), v.size()); }
inline std::string FormatHex(const CMediaType& mt) { return Hex(mt.Format(), mt.FormatLength()); }

// Expected hex as written in tests, with blanks between fields and bars
// between structures for reading.
inline std::string Unspaced(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '|') out += c;
  return out;
}

inline std::vector<uint8_t> FromHex(const std::string& text) {
  std::vector<uint8_t> out;
  const std::string hex = Unspaced(text);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Builds bit fields most significant bit first, for crafted codec headers.
class BitWriter {
 public:
  BitWriter& Put(uint32_t bits, uint32_t value) {
    for (uint32_t i = bits; i-- > 0;) {
      if (m_cBits % 8 == 0) m_Bytes.push_back(0);
      if ((value >> i) & 1) m_Bytes.back() |= static_cast<uint8_t>(0x80 >> (m_cBits % 8));
      ++m_cBits;
    }
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return m_Bytes; }

 private:
  std::vector<uint8_t> m_Bytes;
  uint32_t m_cBits = 0;
};

struct ReleaseReader {
  void operator()(CMemoryReader* p) const {
    if (p) p->Release();
  }
};
using MemoryReaderPtr = std::unique_ptr<CMemoryReader, ReleaseReader>;

inline MemoryReaderPtr MakeReader(std::vector<uint8_t> bytes) {
  return MemoryReaderPtr(new CMemoryReader(std::move(bytes)));
}

inline FlvTag TagWithDataSize(uint32_t dataSize, uint8_t type = kFlvTagAudio) {
  FlvTag tag;
  tag.TagType = type;
  tag.DataSize = dataSize;
  return tag;
}

}  // namespace flvdmx
