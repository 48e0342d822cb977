#include "wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace flvdmx::cli {

namespace {

void StoreLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void StoreLE32(uint8_t* p, uint32_t v) {
  StoreLE16(p, v & 0xFFFF);
  StoreLE16(p + 2, v >> 16);
}

}  // namespace

WavWriter::~WavWriter() { CloseFile(&m_pFile); }

bool WavWriter::Open(const std::string& path) {
  if (!OpenFile(path, &m_pFile)) return false;
  uint8_t header[kHeaderSize];
  BuildHeader(0, header);  // sizes filled in by Finish
  return WriteBytes(m_pFile, header, sizeof header);
}

bool WavWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) {
  if (m_pFile == nullptr) return false;
  ++m_cSamples;
  m_cbData += cb;
  return WriteBytes(m_pFile, pData, cb);
}

bool WavWriter::Finish() {
  if (m_pFile != nullptr) {
    uint8_t header[kHeaderSize];
    BuildHeader(m_cbData, header);
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0) {
      CloseFile(&m_pFile);
      return Fail(std::string("cannot complete the WAV header: ") + std::strerror(errno));
    }
    if (!WriteBytes(m_pFile, header, sizeof header)) {
      CloseFile(&m_pFile);
      return false;
    }
  }
  return CloseFile(&m_pFile) && StreamWriter::Finish();
}

void WavWriter::BuildHeader(uint64_t cbData, uint8_t header[kHeaderSize]) const {
  // RIFF sizes are 32-bit; a longer stream keeps the largest it can say.
  const uint32_t cbDataField =
      static_cast<uint32_t>(std::min<uint64_t>(cbData, 0xFFFFFFFFu - (kHeaderSize - 8)));
  std::memcpy(header, "RIFF", 4);
  StoreLE32(header + 4, cbDataField + (kHeaderSize - 8));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  StoreLE32(header + 16, 16);
  StoreLE16(header + 20, WAVE_FORMAT_PCM);
  StoreLE16(header + 22, m_Format.nChannels);
  StoreLE32(header + 24, m_Format.nSamplesPerSec);
  StoreLE32(header + 28, m_Format.nAvgBytesPerSec);
  StoreLE16(header + 32, m_Format.nBlockAlign);
  StoreLE16(header + 34, m_Format.wBitsPerSample);
  std::memcpy(header + 36, "data", 4);
  StoreLE32(header + 40, cbDataField);
}

}  // namespace flvdmx::cli
