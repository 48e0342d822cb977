// ConcatWriter: MP3 -> .mp3 and MPEG audio -> .mp2, the payloads one after
// the other (MPEG audio is self-framing).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream_writer.h"

namespace flvdmx::cli {

class ConcatWriter final : public StreamWriter {
 public:
  explicit ConcatWriter(std::string kind) : StreamWriter(std::move(kind)) {}
  ~ConcatWriter() override { CloseFile(&m_pFile); }

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }

  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) override {
    if (m_pFile == nullptr) return false;
    ++m_cSamples;
    return WriteBytes(m_pFile, pData, cb);
  }

  bool Finish() override { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

 private:
  std::FILE* m_pFile = nullptr;
};

}  // namespace flvdmx::cli
