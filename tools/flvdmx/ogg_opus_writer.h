// OggOpusWriter: Opus -> .opus, an Ogg stream made with libogg: the OpusHead
// from the format block, a minimal OpusTags, then one packet per sample with
// granule positions counted from the packets' own durations. Builds without
// libogg (mingw) have no writer: Available() is false.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stream_writer.h"

namespace flvdmx::cli {

// Samples at 48 kHz that an Opus packet decodes to (from its TOC byte and
// frame count); 0 when the packet is malformed.
uint32_t OpusPacketSamples(const uint8_t* pData, size_t cb);

class OggOpusWriter final : public StreamWriter {
 public:
  static bool Available();

  explicit OggOpusWriter(std::vector<uint8_t> opusHead);
  ~OggOpusWriter() override;

  bool Open(const std::string& path);
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  struct Stream;
  bool PutPacket(const std::vector<uint8_t>& packet, bool bLast);

  std::vector<uint8_t> m_OpusHead;
  std::unique_ptr<Stream> m_pStream;
  std::FILE* m_pFile = nullptr;
  // One packet is held back so that the last can carry the end-of-stream flag.
  // Unused in a build without libogg, where Open refuses.
  std::vector<uint8_t> m_Pending;
  [[maybe_unused]] bool m_bPending = false;
  [[maybe_unused]] int64_t m_llGranule = 0;
  [[maybe_unused]] int64_t m_llPacketNo = 0;
};

}  // namespace flvdmx::cli
