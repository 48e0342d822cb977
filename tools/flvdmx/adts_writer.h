// AdtsWriter: AAC -> .aac ADTS, a 7-byte header built from the
// AudioSpecificConfig in front of every frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream_writer.h"
#include "streams/audio_specific_config.h"

namespace flvdmx::cli {

// The 7-byte ADTS header (no CRC) for one frame of cbPayload bytes.
void BuildAdtsHeader(const AudioSpecificConfig& config, size_t cbPayload, uint8_t header[7]);

class AdtsWriter final : public StreamWriter {
 public:
  explicit AdtsWriter(const AudioSpecificConfig& config)
      : StreamWriter("ADTS AAC"), m_Config(config) {}
  ~AdtsWriter() override;

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  AudioSpecificConfig m_Config;
  std::FILE* m_pFile = nullptr;
};

}  // namespace flvdmx::cli
