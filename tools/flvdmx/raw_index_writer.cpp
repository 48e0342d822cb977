#include "raw_index_writer.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace flvdmx::cli {

RawIndexWriter::~RawIndexWriter() {
  CloseFile(&m_pData);
  CloseFile(&m_pIndex);
}

bool RawIndexWriter::Open(const std::string& path) {
  return OpenFile(path, &m_pData) && OpenFile(path + ".jsonl", &m_pIndex);
}

bool RawIndexWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) {
  if (m_pData == nullptr || m_pIndex == nullptr) return false;
  ++m_cSamples;
  if (!WriteBytes(m_pData, pData, cb)) return false;
  if (std::fprintf(m_pIndex, "{\"time\":%" PRId64 ",\"size\":%" PRIu64 ",\"key\":%s}\n",
                   static_cast<int64_t>(tStart), static_cast<uint64_t>(cb),
                   bSync ? "true" : "false") < 0) {
    return Fail(std::string("cannot write the index: ") + std::strerror(errno));
  }
  return true;
}

bool RawIndexWriter::Finish() {
  const bool bData = CloseFile(&m_pData);
  const bool bIndex = CloseFile(&m_pIndex);
  return bData && bIndex && StreamWriter::Finish();
}

}  // namespace flvdmx::cli
