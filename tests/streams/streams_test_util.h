// Helpers of the stream-description tests: hex text of format blocks, an
// owning handle for the in-memory reader, and tag records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "flvdefs/flv_tag.h"
#include "host/memory_reader.h"
#include "parsers/syntax_writers.h"

namespace flvdmx {

// Lower-case hex, no separators.
inline std::string Hex(const void* p, size_t cb) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < cb; ++i) {
    const uint8_t b = static_cast<const uint8_t*>(p)[i];
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}
inline std::string FormatHex(const CMediaType& mt) { return Hex(mt.Format(), mt.FormatLength()); }

// Expected hex as written in tests, with blanks between fields and bars
// between structures.
inline std::string Unspaced(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '|') out += c;
  return out;
}

using test::BitWriter;  // Bits(value, n), most significant bit first

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
