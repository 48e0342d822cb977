#include "diag/trace_file.h"

#include <cwchar>

namespace flvdmx {
namespace {

constexpr uint64_t kMaxTraceLockWaitMs = 1000;

bool IsSeparator(wchar_t c) {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == L'/';
#endif
}

}  // namespace

bool MovePathIntoDirectory(wchar_t* pszPath) {
  const size_t length = std::wcslen(pszPath);
  size_t nameStart = length;
  while (nameStart > 0 && !IsSeparator(pszPath[nameStart - 1])) --nameStart;
  const size_t nameLength = length - nameStart;
  if (nameLength == 0 || length + 1 + nameLength + 1 > kMaxTracePath) return false;
#ifdef _WIN32
  pszPath[length] = L'\\';
#else
  pszPath[length] = L'/';
#endif
  std::wmemmove(pszPath + length + 1, pszPath + nameStart, nameLength);
  pszPath[length + 1 + nameLength] = L'\0';
  return true;
}

HRESULT WriteTraceBlock(CTraceFileSystem& fs, wchar_t* pszPath, BOOL* pbFirstAttempt,
                        const void* pData, size_t cb) {
  intptr_t hFile = 0;
  DWORD error = fs.Open(pszPath, &hFile);
  if (error == ERROR_ACCESS_DENIED && *pbFirstAttempt) {
    // A path where a file may not be created, but a directory may (the root of
    // a system drive), still gets its trace: inside a directory of that name.
    const CTraceFileSystem::PathKind kind = fs.Kind(pszPath);
    const bool haveDirectory = kind == CTraceFileSystem::kDirectory ||
                               (kind == CTraceFileSystem::kMissing && fs.MakeDirectory(pszPath));
    if (haveDirectory && MovePathIntoDirectory(pszPath)) {
      *pbFirstAttempt = FALSE;
      error = fs.Open(pszPath, &hFile);
    }
  }
  // Another module or process is between its open and its close: wait it out.
  const uint64_t startMs = fs.NowMs();
  while ((error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) &&
         fs.NowMs() - startMs < kMaxTraceLockWaitMs) {
    fs.SleepMs(1);
    error = fs.Open(pszPath, &hFile);
  }
  if (error != 0) return HRESULT_FROM_WIN32(error);

  static const uint8_t kBom[] = {0xEF, 0xBB, 0xBF};
  bool ok = true;
  if (fs.Size(hFile) == 0) ok = fs.Append(hFile, kBom, sizeof kBom);
  if (ok && cb) ok = fs.Append(hFile, pData, cb);
  fs.Close(hFile);
  return ok ? S_OK : E_FAIL;
}

}  // namespace flvdmx
