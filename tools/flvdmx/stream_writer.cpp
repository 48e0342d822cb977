#include "stream_writer.h"

#include <cerrno>
#include <cstring>

namespace flvdmx::cli {

namespace {
// Big stdio buffers: samples arrive in many small writes.
constexpr size_t kFileBuffer = 1 << 20;
}  // namespace

StreamWriter::~StreamWriter() = default;

bool StreamWriter::Finish() { return m_Error.empty(); }

bool StreamWriter::OpenFile(const std::string& path, std::FILE** ppFile) {
  *ppFile = std::fopen(path.c_str(), "wb");
  if (*ppFile == nullptr) return Fail("cannot create " + path + ": " + std::strerror(errno));
  std::setvbuf(*ppFile, nullptr, _IOFBF, kFileBuffer);
  m_Files.push_back(path);
  return true;
}

bool StreamWriter::WriteBytes(std::FILE* pFile, const void* pData, size_t cb) {
  if (cb == 0 || std::fwrite(pData, 1, cb, pFile) == cb) return true;
  return Fail(std::string("write failed: ") + std::strerror(errno));
}

bool StreamWriter::CloseFile(std::FILE** ppFile) {
  if (*ppFile == nullptr) return true;
  const int rc = std::fclose(*ppFile);
  *ppFile = nullptr;
  if (rc != 0) return Fail(std::string("write failed: ") + std::strerror(errno));
  return true;
}

bool StreamWriter::Fail(const std::string& error) {
  if (m_Error.empty()) m_Error = error;
  return false;
}

}  // namespace flvdmx::cli
