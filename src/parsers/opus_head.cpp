#include "parsers/opus_head.h"

#include <cstring>

#include "base/byte_reader.h"

namespace flvdmx {
namespace {

// Opus header fields are little-endian, unlike the rest of the containers.
bool GetLE16(ByteReader* r, uint16_t* v) {
  uint16_t be;
  if (!r->GetU16(&be)) return false;
  *v = static_cast<uint16_t>((be >> 8) | (be << 8));
  return true;
}
bool GetLE32(ByteReader* r, uint32_t* v) {
  uint16_t lo, hi;
  if (!GetLE16(r, &lo) || !GetLE16(r, &hi)) return false;
  *v = lo | (uint32_t{hi} << 16);
  return true;
}

// The channel mapping table of families other than 0: stream counts, then
// per output channel a decoded channel index (255: silence).
bool ReadMappingTable(ByteReader* r, OpusHeadInfo* info) {
  if (!r->GetU8(&info->streamCount) || !r->GetU8(&info->coupledCount)) return false;
  if (info->streamCount == 0 || info->coupledCount > info->streamCount) return false;
  const uint32_t decoded = uint32_t{info->streamCount} + info->coupledCount;
  if (decoded > 255) return false;
  if (info->mappingFamily == 3) {
    // Ambisonics with a demixing matrix instead of a table: 16-bit gains,
    // one per decoded and output channel pair.
    return r->Skip(size_t{2} * decoded * info->channels);
  }
  for (uint8_t i = 0; i < info->channels; ++i) {
    uint8_t index;
    if (!r->GetU8(&index)) return false;
    if (index != 255 && index >= decoded) return false;
    info->mapping[i] = index;
  }
  return true;
}

}  // namespace

bool ParseOpusHead(const uint8_t* data, size_t size, OpusHeadInfo* out) {
  ByteReader r(data, size);
  const uint8_t* magic;
  if (!r.GetSpan(&magic, 8) || std::memcmp(magic, "OpusHead", 8) != 0) return false;
  uint8_t version;
  uint16_t gain;
  OpusHeadInfo info;
  if (!r.GetU8(&version) || !r.GetU8(&info.channels) || !GetLE16(&r, &info.preSkip) ||
      !GetLE32(&r, &info.inputSampleRate) || !GetLE16(&r, &gain) || !r.GetU8(&info.mappingFamily))
    return false;
  // A new major version (high nibble) is a format this reader cannot know.
  if ((version >> 4) != 0 || info.channels == 0) return false;
  info.outputGain = static_cast<int16_t>(gain);
  if (info.mappingFamily == 0) {
    // Mono or stereo in one stream, no table.
    if (info.channels > 2) return false;
    info.streamCount = 1;
    info.coupledCount = static_cast<uint8_t>(info.channels - 1);
    info.mapping[1] = info.channels == 2 ? 1 : 0;
  } else {
    if (info.mappingFamily == 1 && info.channels > 8) return false;  // Vorbis layouts: 1 to 8
    if (!ReadMappingTable(&r, &info)) return false;
  }
  *out = info;
  return true;
}

}  // namespace flvdmx
