#include "parsers/start_code.h"

#include <cstring>

namespace flvdmx {

const uint8_t* FindStartCode(const uint8_t* p, size_t n) {
  while (n >= 4) {
    const auto* z = static_cast<const uint8_t*>(std::memchr(p, 0, n));
    if (!z) return nullptr;
    const size_t offset = static_cast<size_t>(z - p);
    // The zero must leave its two start-code bytes and two more behind it.
    if (offset >= n - 4) return nullptr;
    if (z[1] == 0 && z[2] == 1) return z + 3;
    p = z + 1;
    n -= offset + 1;
  }
  return nullptr;
}

}  // namespace flvdmx
