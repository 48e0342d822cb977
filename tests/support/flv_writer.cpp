#include "support/flv_writer.h"

#include <cstring>
#include <fstream>

namespace flvdmx {

static void PutBE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

FlvWriter::FlvWriter(uint8_t flags) : m_Bytes{'F', 'L', 'V', 1, flags, 0, 0, 0, 9} {}

int64_t FlvWriter::Tag(uint8_t type, uint32_t timeMs, const std::vector<uint8_t>& payload,
                       const TagOptions& options) {
  const int64_t position = NextPosition();
  PutBE(m_Bytes, options.previousTagSize.value_or(m_bZeroBackLinks ? 0 : m_dwLastTagSize), 4);
  m_Bytes.push_back(type);
  PutBE(m_Bytes, options.dataSize.value_or(static_cast<uint32_t>(payload.size())), 3);
  PutBE(m_Bytes, timeMs & 0xFFFFFF, 3);
  m_Bytes.push_back(m_bExtendedTime ? static_cast<uint8_t>(timeMs >> 24) : 0);
  PutBE(m_Bytes, 0, 3);
  m_Bytes.insert(m_Bytes.end(), payload.begin(), payload.end());
  m_dwLastTagSize = static_cast<uint32_t>(payload.size()) + kFlvTagHeaderSize;
  return position;
}

std::vector<uint8_t> FlvWriter::Bytes() const {
  std::vector<uint8_t> out = m_Bytes;
  PutBE(out, m_dwLastTagSize, 4);
  return out;
}

bool FlvWriter::WriteFile(const std::string& path) const {
  const std::vector<uint8_t> bytes = Bytes();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> VideoPayload(bool key, size_t size, uint8_t codecId) {
  std::vector<uint8_t> p(size + 1, 0x55);
  p[0] = static_cast<uint8_t>((key ? 0x10 : 0x20) | (codecId & 0x0F));
  return p;
}

std::vector<uint8_t> AudioPayload(size_t size, uint8_t soundFlags) {
  std::vector<uint8_t> p(size + 1, 0x77);
  p[0] = soundFlags;
  return p;
}

AmfWriter& AmfWriter::Number(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof(bits));
  Marker(0);
  PutBE(m_Bytes, bits, 8);
  return *this;
}

AmfWriter& AmfWriter::Boolean(bool value) { return Marker(1).Marker(value ? 1 : 0); }

AmfWriter& AmfWriter::String(const std::string& value) { return Marker(2).Name(value); }

AmfWriter& AmfWriter::Name(const std::string& name) {
  PutBE(m_Bytes, name.size(), 2);
  m_Bytes.insert(m_Bytes.end(), name.begin(), name.end());
  return *this;
}

AmfWriter& AmfWriter::BeginEcmaArray(uint32_t count) {
  PutBE(Marker(8).m_Bytes, count, 4);
  return *this;
}

AmfWriter& AmfWriter::BeginStrictArray(uint32_t count) {
  PutBE(Marker(10).m_Bytes, count, 4);
  return *this;
}

AmfWriter& AmfWriter::EndObject() { return Name("").Marker(9); }

AmfWriter& AmfWriter::Marker(uint8_t marker) {
  m_Bytes.push_back(marker);
  return *this;
}

std::vector<uint8_t> OnMetaData(std::optional<double> durationSeconds,
                                std::optional<double> audioCodecId,
                                std::optional<double> videoCodecId) {
  AmfWriter amf;
  amf.String("onMetaData").BeginEcmaArray(6);
  if (durationSeconds) amf.Name("duration").Number(*durationSeconds);
  amf.Name("width").Number(320).Name("height").Number(240);
  if (videoCodecId) amf.Name("videocodecid").Number(*videoCodecId);
  if (audioCodecId) amf.Name("audiocodecid").Number(*audioCodecId);
  amf.Name("encoder").String("flvdmx tests");
  return amf.EndObject().Bytes();
}

std::vector<CraftedTag> WriteAvTags(FlvWriter& w, const AvFileLayout& layout) {
  std::vector<CraftedTag> tags;
  if (layout.metadata) {
    const int64_t pos = w.Script(OnMetaData(
        layout.durationMs / 1000.0, layout.audioRate ? std::optional<double>(2) : std::nullopt, 2));
    tags.push_back({pos, kFlvTagScript, 0, false});
  }
  uint32_t random = layout.seed * 2654435761u + 1;
  auto next_random = [&random] { return (random = random * 1664525u + 1013904223u) >> 8; };
  uint64_t videoIndex = 0, audioIndex = 0;
  const uint32_t end = layout.startMs + layout.durationMs;
  for (;;) {
    const uint32_t videoTime =
        layout.startMs + static_cast<uint32_t>(videoIndex * layout.videoIntervalMs);
    const uint32_t audioTime =
        layout.audioRate
            ? layout.startMs + static_cast<uint32_t>(audioIndex * 1024 * 1000 / layout.audioRate)
            : end;
    const bool videoLeft = videoTime < end;
    const bool audioLeft = audioTime < end;
    if (!videoLeft && !audioLeft) break;
    if (videoLeft && (!audioLeft || videoTime <= audioTime)) {
      const bool key = videoIndex++ % layout.keyInterval == 0;
      const size_t size = key ? 600 + next_random() % 200 : 40 + next_random() % 80;
      tags.push_back({w.Video(videoTime, VideoPayload(key, size)), kFlvTagVideo, videoTime, key});
    } else {
      const size_t size = 20 + next_random() % 20;
      tags.push_back({w.Audio(audioTime, AudioPayload(size)), kFlvTagAudio, audioTime, false});
      ++audioIndex;
    }
  }
  return tags;
}

}  // namespace flvdmx
