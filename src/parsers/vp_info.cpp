#include "parsers/vp_info.h"

#include "base/bit_reader.h"
#include "base/byte_reader.h"

namespace flvdmx {
namespace {

// chromaSubsampling codes of the configuration record.
constexpr uint8_t kChroma420 = 0, kChroma422 = 2, kChroma444 = 3;
constexpr uint32_t kVp9ColorSpaceRgb = 7;

bool ValidFormat(uint32_t bitDepth, uint32_t chromaSubsampling) {
  return (bitDepth == 8 || bitDepth == 10 || bitDepth == 12) && chromaSubsampling <= kChroma444;
}

// The bytes of one VP9 frame at the start of a chunk: when the chunk ends in
// a superframe index, the first frame's size from it; else the whole chunk.
size_t FirstFrameSize(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t marker = data[size - 1];
  if ((marker & 0xE0) != 0xC0) return size;
  const size_t bytesPerSize = ((marker >> 3) & 3) + 1, frames = (marker & 7) + 1;
  const size_t indexSize = 2 + bytesPerSize * frames;
  if (indexSize > size || data[size - indexSize] != marker) return size;
  size_t first = 0;
  for (size_t i = 0; i < bytesPerSize; ++i)
    first |= size_t{data[size - indexSize + 1 + i]} << (8 * i);
  return first <= size - indexSize ? first : size;
}

// color_config() of a VP9 key frame.
bool ReadVp9ColorConfig(BitReader& r, uint32_t profile, VpInfo* info) {
  uint32_t ten_or_twelve_bit = 0, color_space, color_range = 1, ssx = 1, ssy = 1, reserved = 0;
  if (profile >= 2 && !r.ReadFlag(&ten_or_twelve_bit)) return false;
  if (!r.ReadBits(3, &color_space)) return false;
  const bool hasChromaBits = profile == 1 || profile == 3;
  if (color_space != kVp9ColorSpaceRgb) {
    if (!r.ReadFlag(&color_range)) return false;
    if (hasChromaBits && (!r.ReadFlag(&ssx) || !r.ReadFlag(&ssy) || !r.ReadFlag(&reserved)))
      return false;
  } else if (hasChromaBits) {
    ssx = ssy = 0;
    if (!r.ReadFlag(&reserved)) return false;
  } else {
    return false;  // RGB needs 4:4:4, which profiles 0 and 2 cannot carry
  }
  if (reserved) return false;
  info->bitDepth = profile >= 2 ? (ten_or_twelve_bit ? 12 : 10) : 8;
  info->fullRange = color_range != 0;
  // 4:4:0 has no code of its own in the record; it is reported with 4:4:4.
  info->chromaSubsampling = ssx && ssy ? kChroma420 : ssx ? kChroma422 : kChroma444;
  return true;
}

}  // namespace

bool ParseVpCodecConfig(const uint8_t* data, size_t size, VpInfo* out) {
  ByteReader reader(data, size);
  uint8_t version, profile, level, packed;
  uint32_t flags;
  if (!reader.GetU8(&version) || !reader.GetU24(&flags)) return false;
  if (!reader.GetU8(&profile) || !reader.GetU8(&level) || !reader.GetU8(&packed)) return false;
  VpInfo info;
  info.profile = profile;
  info.level = level;
  info.bitDepth = packed >> 4;
  if (version == 1) {
    info.chromaSubsampling = (packed >> 1) & 7;
    info.fullRange = packed & 1;
    if (!reader.Skip(3)) return false;  // colour primaries, transfer, matrix
  } else if (version == 0) {
    // The earlier layout: colorSpace in the low nibble, then chroma
    // subsampling, transfer function and the range flag.
    uint8_t more;
    if (!reader.GetU8(&more)) return false;
    info.chromaSubsampling = more >> 4;
    info.fullRange = more & 1;
  } else {
    return false;
  }
  uint16_t codecIntializationDataSize;
  if (!reader.GetU16(&codecIntializationDataSize) || !reader.Skip(codecIntializationDataSize))
    return false;
  if (profile > 3 || !ValidFormat(info.bitDepth, info.chromaSubsampling)) return false;
  *out = info;
  return true;
}

bool ParseVp9KeyFrameSize(const uint8_t* data, size_t size, VpInfo* out) {
  BitReader r(data, FirstFrameSize(data, size));
  uint32_t frame_marker, profile_low_bit, profile_high_bit, reserved_zero = 0;
  uint32_t show_existing_frame, frame_type, show_frame, error_resilient_mode, sync_code;
  if (!r.ReadBits(2, &frame_marker) || frame_marker != 2) return false;
  if (!r.ReadFlag(&profile_low_bit) || !r.ReadFlag(&profile_high_bit)) return false;
  const uint32_t profile = (profile_high_bit << 1) | profile_low_bit;
  if (profile == 3 && (!r.ReadFlag(&reserved_zero) || reserved_zero)) return false;
  if (!r.ReadFlag(&show_existing_frame) || show_existing_frame) return false;
  if (!r.ReadFlag(&frame_type) || frame_type != 0) return false;  // KEY_FRAME is 0
  if (!r.ReadFlag(&show_frame) || !r.ReadFlag(&error_resilient_mode)) return false;
  if (!r.ReadBits(24, &sync_code) || sync_code != 0x498342) return false;
  VpInfo info;
  info.profile = static_cast<uint8_t>(profile);
  if (!ReadVp9ColorConfig(r, profile, &info)) return false;
  uint32_t frame_width_minus_1, frame_height_minus_1;
  if (!r.ReadBits(16, &frame_width_minus_1) || !r.ReadBits(16, &frame_height_minus_1)) return false;
  info.width = frame_width_minus_1 + 1;
  info.height = frame_height_minus_1 + 1;
  *out = info;
  return true;
}

bool ParseVp8KeyFrameSize(const uint8_t* data, size_t size, VpInfo* out) {
  // Frame tag, start code and the two size words: ten bytes, the tag and
  // sizes little-endian.
  if (size < 10) return false;
  const uint32_t tag = data[0] | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16);
  const bool key_frame = !(tag & 1);
  const uint32_t version = (tag >> 1) & 7;
  if (!key_frame || version > 3) return false;
  if (data[3] != 0x9D || data[4] != 0x01 || data[5] != 0x2A) return false;
  const uint32_t width = (data[6] | (uint32_t{data[7]} << 8)) & 0x3FFF;
  const uint32_t height = (data[8] | (uint32_t{data[9]} << 8)) & 0x3FFF;
  if (width == 0 || height == 0) return false;
  VpInfo info;
  info.profile = static_cast<uint8_t>(version);
  info.width = width;
  info.height = height;
  *out = info;
  return true;
}

}  // namespace flvdmx
