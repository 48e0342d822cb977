#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "diag/trace_file.h"
#include "diag/trace_os.h"

namespace flvdmx {
namespace {

std::string ToUtf8(const wchar_t* wide) {
  std::string out;
  for (; *wide; ++wide) {
    uint32_t c = static_cast<uint32_t>(*wide);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The Windows codes that the write rules tell apart; opening a directory
// is access denied there too.
DWORD ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

// Windows refuses a second writer while the file is open; an exclusive
// advisory lock gives writers in other processes the same refusal here,
// while readers are not affected.
class CPosixTraceFileSystem : public CTraceFileSystem {
 public:
  DWORD Open(const wchar_t* pszPath, intptr_t* phFile) override {
    const int fd = ::open(ToUtf8(pszPath).c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return ErrorFromErrno(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      return ErrorFromErrno(error);
    }
    *phFile = fd;
    return 0;
  }

  int64_t Size(intptr_t hFile) override {
    struct stat st;
    return ::fstat(static_cast<int>(hFile), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }

  bool Append(intptr_t hFile, const void* pData, size_t cb) override {
    const char* p = static_cast<const char*>(pData);
    while (cb > 0) {
      const ssize_t n = ::write(static_cast<int>(hFile), p, cb);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      cb -= static_cast<size_t>(n);
    }
    return true;
  }

  void Close(intptr_t hFile) override { ::close(static_cast<int>(hFile)); }

  PathKind Kind(const wchar_t* pszPath) override {
    struct stat st;
    if (::stat(ToUtf8(pszPath).c_str(), &st) != 0) return kMissing;
    return S_ISDIR(st.st_mode) ? kDirectory : kFile;
  }

  bool MakeDirectory(const wchar_t* pszPath) override {
    return ::mkdir(ToUtf8(pszPath).c_str(), 0777) == 0;
  }

  void SleepMs(uint32_t ms) override { traceos::SleepMs(ms); }
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
};

}  // namespace

CTraceFileSystem& CTraceFileSystem::Platform() {
  // Never destroyed: a trace line may be flushed while statics are torn down.
  static CPosixTraceFileSystem* fs = new CPosixTraceFileSystem;
  return *fs;
}

}  // namespace flvdmx
