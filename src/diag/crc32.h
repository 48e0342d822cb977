// CRC-32 as zlib and ffprobe's "CRC32" hash compute it (reflected polynomial
// 0xEDB88320, all-ones start and final inversion). Used to compare payloads
// with ffprobe's packet hashes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

// Continues `crc` (0 to start) over n bytes, like zlib's crc32(crc, data, n):
// Crc32(b, n2, Crc32(a, n1)) equals the CRC of a followed by b.
uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0);

}  // namespace flvdmx
