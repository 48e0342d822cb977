// WavWriter: PCM -> .wav, the RIFF sizes filled in when the stream ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/mediatypes.h"
#include "stream_writer.h"

namespace flvdmx::cli {

class WavWriter final : public StreamWriter {
 public:
  static constexpr size_t kHeaderSize = 44;

  explicit WavWriter(const WAVEFORMATEX& wfx) : StreamWriter("WAV PCM"), m_Format(wfx) {}
  ~WavWriter() override;

  bool Open(const std::string& path);
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  void BuildHeader(uint64_t cbData, uint8_t header[kHeaderSize]) const;

  WAVEFORMATEX m_Format;
  std::FILE* m_pFile = nullptr;
  uint64_t m_cbData = 0;
};

}  // namespace flvdmx::cli
