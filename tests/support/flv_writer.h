// FlvWriter and AmfWriter build FLV files and AMF0 script data, right or
// deliberately wrong. Positions returned are those of the PreviousTagSize in front of a tag.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flvdefs/flv_tag.h"

namespace flvdmx {

class FlvWriter {
 public:
  struct TagOptions {
    std::optional<uint32_t> previousTagSize;  // default: the size of the tag before
    std::optional<uint32_t> dataSize;         // default: the payload's size
  };

  // The header: "FLV", version 1, flags, data offset 9.
  explicit FlvWriter(uint8_t flags = kFlvHasVideo | kFlvHasAudio);

  // A back-link, the tag header (times above 24 bits in the extended byte), the payload.
  int64_t Tag(uint8_t type, uint32_t timeMs, const std::vector<uint8_t>& payload,
              const TagOptions& options = TagOptions());
  int64_t Audio(uint32_t timeMs, const std::vector<uint8_t>& payload) {
    return Tag(kFlvTagAudio, timeMs, payload);
  }
  int64_t Video(uint32_t timeMs, const std::vector<uint8_t>& payload) {
    return Tag(kFlvTagVideo, timeMs, payload);
  }
  int64_t Script(const std::vector<uint8_t>& amf, uint32_t timeMs = 0) {
    return Tag(kFlvTagScript, timeMs, amf);
  }
  // Bytes as they are; the next back-link still names the last tag.
  void Raw(const std::vector<uint8_t>& bytes) {
    m_Bytes.insert(m_Bytes.end(), bytes.begin(), bytes.end());
  }

  // How some live muxers write: every back-link 0 (unless a tag's options
  // give one), or TimestampExtended always 0 whatever the time.
  void SetZeroBackLinks(bool zero) { m_bZeroBackLinks = zero; }
  void SetExtendedTime(bool filled) { m_bExtendedTime = filled; }

  int64_t NextPosition() const { return static_cast<int64_t>(m_Bytes.size()); }
  uint32_t LastTagSize() const { return m_dwLastTagSize; }

  // The file so far, with the final back-link.
  std::vector<uint8_t> Bytes() const;
  bool WriteFile(const std::string& path) const;

 private:
  std::vector<uint8_t> m_Bytes;
  uint32_t m_dwLastTagSize = 0;
  bool m_bZeroBackLinks = false;
  bool m_bExtendedTime = true;
};

// Video: FrameType (key 1, inter 2) and CodecID, then `size` filler bytes.
std::vector<uint8_t> VideoPayload(bool key, size_t size, uint8_t codecId = 2);
// Audio: the sound flags byte (default MP3 44 kHz 16-bit stereo), `size` bytes.
std::vector<uint8_t> AudioPayload(size_t size, uint8_t soundFlags = 0x2F);

// AMF0 values; containers are opened and closed explicitly, nothing is checked.
class AmfWriter {
 public:
  AmfWriter& Number(double value);
  AmfWriter& Boolean(bool value);
  AmfWriter& String(const std::string& value);
  AmfWriter& Name(const std::string& name);  // 16-bit length and characters, no marker
  AmfWriter& BeginObject() { return Marker(3); }
  AmfWriter& BeginEcmaArray(uint32_t count);
  AmfWriter& BeginStrictArray(uint32_t count);
  AmfWriter& EndObject();  // the empty name and the object-end marker
  AmfWriter& Marker(uint8_t marker);

  const std::vector<uint8_t>& Bytes() const { return m_Bytes; }

 private:
  std::vector<uint8_t> m_Bytes;
};

// "onMetaData" as encoders write it; the three properties the filter reads only when given.
std::vector<uint8_t> OnMetaData(std::optional<double> durationSeconds,
                                std::optional<double> audioCodecId = std::nullopt,
                                std::optional<double> videoCodecId = std::nullopt);

// Video every videoIntervalMs (a key frame every keyInterval) and audio every
// 1024 samples at audioRate interleaved by time, optionally after metadata.
struct AvFileLayout {
  uint32_t durationMs = 60000;
  uint32_t startMs = 0;
  uint32_t videoIntervalMs = 40;
  uint32_t keyInterval = 50;
  uint32_t audioRate = 44100;  // 0: no audio
  bool metadata = true;
  uint32_t seed = 1;
};

struct CraftedTag {
  int64_t position;
  uint8_t type;
  uint32_t timeMs;
  bool key;
};

// Appends the tags to `w`; returns them in file order.
std::vector<CraftedTag> WriteAvTags(FlvWriter& w, const AvFileLayout& layout);

}  // namespace flvdmx
