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
  } else if (cb < 4 + kStreamInfoSize || (pHeader[0] & 0x7F) != 0) {
    return {};  // the first block must be STREAMINFO
  }
  out.insert(out.end(), pHeader, pHeader + cb);
  return out;
}

}  // namespace flvdmx::cli
