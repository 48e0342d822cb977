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

// chromaSubsampling uses the record's codes: 0 and 1 are 4:2:0 (vertical or
// co-sited chroma), 2 is 4:2:2, 3 is 4:4:4. A key frame cannot tell the 4:2:0
// siting and gives 0; VP9's 4:4:0 has no code and is reported as 3.
//
// vpcC body (version/flags + fields), no picture size. Version 1, and the
// earlier version 0 layout.
bool ParseVpCodecConfig(const uint8_t* data, size_t size, VpInfo* out);
// uncompressed header of a VP9 key frame (also superframe-first frame); level stays 0.
// An inter frame or a shown existing frame is false: they carry no size.
bool ParseVp9KeyFrameSize(const uint8_t* data, size_t size, VpInfo* out);
// VP8 key frame tag + start code + 14-bit sizes; profile is the tag's version,
// the format always 8-bit 4:2:0. An inter frame is false.
bool ParseVp8KeyFrameSize(const uint8_t* data, size_t size, VpInfo* out);

}  // namespace flvdmx
