#include <windows.h>

#include "diag/trace_file.h"

namespace flvdmx {
namespace {

class CWinTraceFileSystem : public CTraceFileSystem {
 public:
  DWORD Open(const wchar_t* pszPath, intptr_t* phFile) override {
    HANDLE h = CreateFileW(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    *phFile = reinterpret_cast<intptr_t>(h);
    return 0;
  }

  int64_t Size(intptr_t hFile) override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(hFile), &size)) return -1;
    return size.QuadPart;
  }

  bool Append(intptr_t hFile, const void* pData, size_t cb) override {
    HANDLE h = reinterpret_cast<HANDLE>(hFile);
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) return false;
    const char* p = static_cast<const char*>(pData);
    while (cb > 0) {
      const DWORD chunk = cb > 0x40000000u ? 0x40000000u : static_cast<DWORD>(cb);
      DWORD written = 0;
      if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0) return false;
      p += written;
      cb -= written;
    }
    return true;
  }

  void Close(intptr_t hFile) override { CloseHandle(reinterpret_cast<HANDLE>(hFile)); }

  PathKind Kind(const wchar_t* pszPath) override {
    const DWORD attributes = GetFileAttributesW(pszPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kDirectory : kFile;
  }

  bool MakeDirectory(const wchar_t* pszPath) override {
    return CreateDirectoryW(pszPath, nullptr) != FALSE;
  }

  void SleepMs(uint32_t ms) override { Sleep(ms); }
  uint64_t NowMs() override { return GetTickCount64(); }
};

}  // namespace

CTraceFileSystem& CTraceFileSystem::Platform() {
  // Never destroyed: a trace line may be flushed while statics are torn down.
  static CWinTraceFileSystem* fs = new CWinTraceFileSystem;
  return *fs;
}

}  // namespace flvdmx
