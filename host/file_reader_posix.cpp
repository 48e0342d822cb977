#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "host/file_reader.h"

namespace flvdmx {

namespace {

// Large reads go in pieces so that a flush can end them between pieces.
constexpr uint32_t kReadPiece = 1u << 20;

// ENOENT covers a missing folder too; Windows tells the two apart.
HRESULT ResultFromMissing(const char* pszPath) {
  std::string folder(pszPath);
  const size_t slash = folder.find_last_of('/');
  if (folder.empty() || slash == std::string::npos) {
    folder = folder.empty() ? std::string() : ".";
  } else {
    folder.resize(slash == 0 ? 1 : slash);
  }
  struct stat st {};
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT ResultFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EISDIR:
      return E_ACCESSDENIED;
    case ENOMEM:
      return E_OUTOFMEMORY;
    case EBADF:
      return E_HANDLE;
    default:
      return E_FAIL;
  }
}

}  // namespace

HRESULT CFileReader::Open(const char* pszPath, CFileReader** ppReader) {
  if (!pszPath || !ppReader) return E_POINTER;
  *ppReader = nullptr;
  const int fd = ::open(pszPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ResultFromMissing(pszPath) : ResultFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const HRESULT hr = ResultFromErrno(errno);
    ::close(fd);
    return hr;
  }
  // A directory opens for reading here but not on Windows; other non-files
  // (pipes, terminals) cannot be read by position.
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return E_ACCESSDENIED;
  }
  *ppReader = new CFileReader(fd, static_cast<int64_t>(st.st_size));
  return S_OK;
}

CFileReader::~CFileReader() { ::close(m_hFile); }

HRESULT CFileReader::ReadAt(int64_t llPosition, uint32_t cb, uint8_t* pBuffer, uint32_t* pcbRead) {
  uint32_t done = 0;
  while (done < cb && !IsFlushing()) {
    const uint32_t piece = std::min(cb - done, kReadPiece);
    const ssize_t n =
        ::pread(m_hFile, pBuffer + done, piece, static_cast<off_t>(llPosition + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ResultFromErrno(errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<uint32_t>(n);
  }
  *pcbRead = done;
  return S_OK;
}

}  // namespace flvdmx
