#include "ivf_writer.h"

#include <cerrno>
#include <cstring>

namespace flvdmx::cli {

namespace {

void StoreLE(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

IvfWriter::IvfWriter(const char* fourcc, uint16_t width, uint16_t height)
    : StreamWriter(std::string("IVF ") + fourcc), m_wWidth(width), m_wHeight(height) {
  std::memcpy(m_Fourcc, fourcc, 4);
}

IvfWriter::~IvfWriter() { CloseFile(&m_pFile); }

bool IvfWriter::Open(const std::string& path) {
  if (!OpenFile(path, &m_pFile)) return false;
  uint8_t header[kHeaderSize];
  BuildHeader(header);  // the frame count is filled in by Finish
  return WriteBytes(m_pFile, header, sizeof header);
}

bool IvfWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool) {
  if (m_pFile == nullptr) return false;
  uint8_t frame[12];
  StoreLE(frame, cb, 4);
  // Milliseconds, the header's time base; times before the start stay signed.
  StoreLE(frame + 4, static_cast<uint64_t>(tStart / 10000), 8);
  ++m_cSamples;
  return WriteBytes(m_pFile, frame, sizeof frame) && WriteBytes(m_pFile, pData, cb);
}

bool IvfWriter::Finish() {
  if (m_pFile != nullptr) {
    uint8_t header[kHeaderSize];
    BuildHeader(header);
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0) {
      CloseFile(&m_pFile);
      return Fail(std::string("cannot complete the IVF header: ") + std::strerror(errno));
    }
    if (!WriteBytes(m_pFile, header, sizeof header)) {
      CloseFile(&m_pFile);
      return false;
    }
  }
  return CloseFile(&m_pFile) && StreamWriter::Finish();
}

void IvfWriter::BuildHeader(uint8_t header[kHeaderSize]) const {
  std::memset(header, 0, kHeaderSize);
  std::memcpy(header, "DKIF", 4);
  StoreLE(header + 4, 0, 2);  // version
  StoreLE(header + 6, kHeaderSize, 2);
  std::memcpy(header + 8, m_Fourcc, 4);
  StoreLE(header + 12, m_wWidth, 2);
  StoreLE(header + 14, m_wHeight, 2);
  StoreLE(header + 16, 1000, 4);  // time base 1/1000
  StoreLE(header + 20, 1, 4);
  StoreLE(header + 24, static_cast<uint32_t>(m_cSamples), 4);
}

}  // namespace flvdmx::cli
