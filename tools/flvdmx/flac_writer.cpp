#include "flac_writer.h"

#include <cstring>

namespace flvdmx::cli {

namespace {

constexpr size_t kStreamInfoSize = 34;

}  // namespace

std::vector<uint8_t> FlacFileHeader(const uint8_t* pHeader, size_t cb) {
  std::vector<uint8_t> out = {'f', 'L', 'a', 'C'};
  if (cb >= 4 && std::memcmp(pHeader, "fLaC", 4) == 0) {
    pHeader += 4;
    cb -= 4;
  }
  if (cb == kStreamInfoSize) {
    out.insert(out.end(), {0x80, 0, 0, kStreamInfoSize});  // last block, STREAMINFO
    out.insert(out.end(), pHeader, pHeader + cb);
    return out;
  }
  if (cb < 4 + kStreamInfoSize || (pHeader[0] & 0x7F) != 0) return {};  // STREAMINFO first
  const size_t cbMarker = out.size();
  out.insert(out.end(), pHeader, pHeader + cb);
  // The blocks must fill the header exactly, only the final one flagged
  // last, or a decoder reads frames as metadata (or metadata as frames).
  for (size_t pos = 0; pos < cb;) {
    if (cb - pos < 4) return {};
    const size_t cbBlock =
        size_t{pHeader[pos + 1]} << 16 | size_t{pHeader[pos + 2]} << 8 | pHeader[pos + 3];
    if (cbBlock > cb - pos - 4) return {};
    uint8_t& type = out[cbMarker + pos];
    type = static_cast<uint8_t>(pos + 4 + cbBlock == cb ? type | 0x80 : type & 0x7F);
    pos += 4 + cbBlock;
  }
  return out;
}

}  // namespace flvdmx::cli
