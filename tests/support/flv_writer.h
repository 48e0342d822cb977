// FlvWriter and AmfWriter: build FLV files and AMF0 script data byte by byte
// for tests, right or deliberately wrong.
//
//   FlvWriter w;                                  // header: "FLV", v1, A+V, offset 9
//   w.Script(OnMetaData(12.0, 10, 7));            // metadata tag at time 0
//   int64_t pos = w.Video(40, VideoPayload(true, 30));
//   w.Tag(kFlvTagAudio, 46, {0xAF, 0x01, 0, 0}, {.previousTagSize = 7});  // broken back-link
//   w.Raw({0xDE, 0xAD});                          // garbage between tags
//   std::vector<uint8_t> file = w.Bytes();        // with the final back-link
//
// Positions returned are tag positions (the offset of the PreviousTagSize in
// front of the tag). Timestamps above 24 bits go to the TimestampExtended
// byte, as the published format has it. A value object: copy it to branch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flv/flv_structs.h"

namespace flvdmx {

class FlvWriter {
 public:
  struct TagOptions {
    // The PreviousTagSize in front of the tag; by default the size of the tag
    // before (0 for the first tag), which Raw does not change.
    std::optional<uint32_t> previousTagSize;
    // The DataSize field; by default the payload's size.
    std::optional<uint32_t> dataSize;
    uint32_t streamId = 0;
  };

  // Writes the header: "FLV", version, flags, data offset; bytes between 9
  // and the data offset are zeros.
  explicit FlvWriter(uint8_t flags = kFlvHasVideo | kFlvHasAudio, uint32_t dataOffset = 9,
                     uint8_t version = 1);

  // Appends a back-link, an 11-byte tag header and the payload; returns the
  // tag position.
  int64_t Tag(uint8_t type, uint32_t timeMs, const std::vector<uint8_t>& payload,
              const TagOptions& options);
  int64_t Tag(uint8_t type, uint32_t timeMs, const std::vector<uint8_t>& payload) {
    return Tag(type, timeMs, payload, TagOptions());
  }
  int64_t Audio(uint32_t timeMs, const std::vector<uint8_t>& payload) {
    return Tag(kFlvTagAudio, timeMs, payload);
  }
  int64_t Video(uint32_t timeMs, const std::vector<uint8_t>& payload) {
    return Tag(kFlvTagVideo, timeMs, payload);
  }
  int64_t Script(const std::vector<uint8_t>& amf, uint32_t timeMs = 0) {
    return Tag(kFlvTagScript, timeMs, amf);
  }

  // Appends bytes as they are (garbage between tags, a broken tail, ...).
  void Raw(const std::vector<uint8_t>& bytes);

  // Where the next tag will stand.
  int64_t NextPosition() const { return static_cast<int64_t>(m_Bytes.size()); }
  // The back-link the next tag gets by default.
  uint32_t LastTagSize() const { return m_dwLastTagSize; }

  // The file so far, by default with the final back-link after the last tag.
  std::vector<uint8_t> Bytes(bool withFinalBackLink = true) const;
  // Writes Bytes() to a file; false on failure.
  bool WriteFile(const std::string& path, bool withFinalBackLink = true) const;

 private:
  std::vector<uint8_t> m_Bytes;
  uint32_t m_dwLastTagSize = 0;
};

// Payloads with the prefix bytes the filter interprets.
// Video: FrameType (1 key, 2 inter) and CodecID, then `size` filler bytes.
std::vector<uint8_t> VideoPayload(bool key, size_t size, uint8_t codecId = 2);
// AVC: flags byte, AVCPacketType, 24-bit CompositionTime 0, `size` bytes.
std::vector<uint8_t> AvcPayload(bool key, uint8_t packetType, size_t size);
// Audio: the sound flags byte (default MP3 44 kHz 16-bit stereo), `size` bytes.
std::vector<uint8_t> AudioPayload(size_t size, uint8_t soundFlags = 0x2F);
// AAC: 0xAF, AACPacketType, `size` bytes.
std::vector<uint8_t> AacPayload(uint8_t packetType, size_t size);

// AMF0 values. Containers are opened and closed explicitly; the writer does
// not check that the result is well formed (tests want broken data too).
class AmfWriter {
 public:
  AmfWriter& Number(double value);
  AmfWriter& Boolean(bool value);
  AmfWriter& String(const std::string& value);
  // A property name (16-bit length and characters, no marker).
  AmfWriter& Name(const std::string& name);
  AmfWriter& BeginObject();
  AmfWriter& BeginEcmaArray(uint32_t count);
  AmfWriter& BeginStrictArray(uint32_t count);
  // The empty name and the object-end marker.
  AmfWriter& EndObject();
  // A bare marker: Null (5), Undefined (6), Date (11), ...
  AmfWriter& Marker(uint8_t marker);
  AmfWriter& Raw(const std::vector<uint8_t>& bytes);

  const std::vector<uint8_t>& Bytes() const { return m_Bytes; }

 private:
  std::vector<uint8_t> m_Bytes;
};

// A metadata payload as encoders write it: the string "onMetaData" and an
// ECMA array with a few properties; the three the filter reads are written
// only when given.
std::vector<uint8_t> OnMetaData(std::optional<double> durationSeconds,
                                std::optional<double> audioCodecId = std::nullopt,
                                std::optional<double> videoCodecId = std::nullopt);

// A crafted audio + video file: video tags every videoIntervalMs (a key frame
// every keyInterval frames, sizes varying from tag to tag), audio tags every
// 1024 samples at audioRate, interleaved by time, optionally after a
// metadata tag. Small payloads, so 20 minutes take a few MB.
struct AvFileLayout {
  uint32_t durationMs = 60000;
  uint32_t startMs = 0;
  uint32_t videoIntervalMs = 40;
  uint32_t keyInterval = 50;
  uint32_t audioRate = 44100;  // 0: no audio
  bool video = true;
  bool metadata = true;
  uint32_t seed = 1;
};

struct CraftedTag {
  int64_t position;
  uint8_t type;
  uint32_t timeMs;
  uint32_t dataSize;
  bool key;  // video key frame
};

// Appends the tags to `w`; returns them in file order.
std::vector<CraftedTag> WriteAvTags(FlvWriter& w, const AvFileLayout& layout);

}  // namespace flvdmx
