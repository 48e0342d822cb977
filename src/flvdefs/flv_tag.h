// The FLV file header and tag record, and the position arithmetic of the tag
// chain. A tag is addressed by its tag position: the offset of the 4-byte
// PreviousTagSize field in front of it; its payload starts at position + 15.
#pragma once

#include <cstdint>

namespace flvdmx {

enum FlvTagType : uint8_t {
  kFlvTagAudio = 8,
  kFlvTagVideo = 9,
  kFlvTagScript = 18,
};

enum FlvHeaderFlags : uint8_t {
  kFlvHasVideo = 0x01,
  kFlvHasAudio = 0x04,
};

// Bytes from a tag position to its payload: PreviousTagSize + 11-byte header.
inline constexpr int64_t kFlvTagPayloadOffset = 15;
inline constexpr uint32_t kFlvTagHeaderSize = 11;

// In-memory copy of the file header.
struct FlvHeader {
  uint8_t Signature[3] = {0, 0, 0};
  uint8_t Version = 0;
  uint8_t Flags = 0;
  uint32_t DataOffset = 0;
};

// One tag header as read; a plain value copied freely.
struct FlvTag {
  uint32_t PreviousTagSize = 0;
  uint8_t TagType = 0;
  uint32_t DataSize = 0;  // 24 significant bits
  // The 24-bit timestamp as read; the wraparound rule may raise it above 24
  // bits. The TimestampExtended byte is never folded in.
  uint32_t TimeStamp = 0;
  // File bytes p+11..p+14 big-endian: TimestampExtended, then StreamID.
  uint32_t ExtendedTimeStampAndStreamId = 0;
};

inline int64_t NextTagPosition(int64_t pos, const FlvTag& tag) {
  return pos + static_cast<int64_t>(tag.DataSize) + kFlvTagPayloadOffset;
}
inline int64_t PreviousTagPosition(int64_t pos, const FlvTag& tag) {
  return pos - static_cast<int64_t>(tag.PreviousTagSize) - 4;
}
inline uint32_t ExpectedPreviousTagSize(const FlvTag& tag) {
  return tag.DataSize + kFlvTagHeaderSize;
}

// The tag types the system reads (audio, video, script data); the header
// search takes only these as plausible.
inline constexpr uint8_t kKnownFlvTagTypes[] = {kFlvTagAudio, kFlvTagVideo, kFlvTagScript};
inline bool IsKnownFlvTagType(uint8_t type) {
  for (const uint8_t known : kKnownFlvTagTypes)
    if (type == known) return true;
  return false;
}

}  // namespace flvdmx
