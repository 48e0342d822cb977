// IvfWriter: VP8, VP9 and (on request) AV1 -> .ivf, a 32-byte file header
// with the FourCC and picture size, then each frame with its size and time
// in milliseconds. The frame count is filled in when the stream ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream_writer.h"

namespace flvdmx::cli {

class IvfWriter final : public StreamWriter {
 public:
  static constexpr size_t kHeaderSize = 32;

  // fourcc: "VP80", "VP90" or "AV01".
  IvfWriter(const char* fourcc, uint16_t width, uint16_t height);
  ~IvfWriter() override;

  bool Open(const std::string& path);
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  void BuildHeader(uint8_t header[kHeaderSize]) const;

  char m_Fourcc[4];
  uint16_t m_wWidth, m_wHeight;
  std::FILE* m_pFile = nullptr;
};

}  // namespace flvdmx::cli
