// FlacWriter: FLAC -> .flac, the "fLaC" marker and metadata blocks of the
// SequenceStart (whichever of its forms the file carries), then the frames
// as they come.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "stream_writer.h"

namespace flvdmx::cli {

// The file's opening from a carried header: "fLaC" + blocks as they are; a
// bare block list gets the marker; a bare 34-byte STREAMINFO also its block
// header. Empty when the header is none of these.
std::vector<uint8_t> FlacFileHeader(const uint8_t* pHeader, size_t cb);

class FlacWriter final : public StreamWriter {
 public:
  explicit FlacWriter(std::vector<uint8_t> fileHeader)
      : StreamWriter("FLAC"), m_FileHeader(std::move(fileHeader)) {}
  ~FlacWriter() override { CloseFile(&m_pFile); }

  bool Open(const std::string& path) {
    return OpenFile(path, &m_pFile) &&
           WriteBytes(m_pFile, m_FileHeader.data(), m_FileHeader.size());
  }
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) override {
    if (m_pFile == nullptr) return false;
    ++m_cSamples;
    return WriteBytes(m_pFile, pData, cb);
  }
  bool Finish() override { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

 private:
  std::vector<uint8_t> m_FileHeader;
  std::FILE* m_pFile = nullptr;
};

}  // namespace flvdmx::cli
