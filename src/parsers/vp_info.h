// VP8 and VP9 stream facts for the output media type: the vpcC record's
// profile, level and format, and the picture size from a key frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

struct VpInfo {
  uint32_t width = 0, height = 0;
  uint8_t profile = 0, level = 0, bitDepth = 8, chromaSubsampling = 0;
  bool fullRange = false;
};

// vpcC body (version/flags + fields), no picture size
bool ParseVpCodecConfig(const uint8_t* data, size_t size, VpInfo* out);
// uncompressed header of a VP9 key frame (also superframe-first frame)
bool ParseVp9KeyFrameSize(const uint8_t* data, size_t size, VpInfo* out);
// VP8 key frame tag + start code + 14-bit sizes
bool ParseVp8KeyFrameSize(const uint8_t* data, size_t size, VpInfo* out);

}  // namespace flvdmx
