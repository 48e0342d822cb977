#include <algorithm>
#include <string>

#include "host/file_reader.h"

namespace flvdmx {

namespace {

constexpr DWORD kReadPiece = 1u << 20;

std::wstring WidenUtf8(const char* psz) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, psz, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, psz, -1, &wide[0], n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

}  // namespace

HRESULT CFileReader::Open(const char* pszPath, CFileReader** ppReader) {
  if (!pszPath || !ppReader) return E_POINTER;
  *ppReader = nullptr;
  const std::wstring path = WidenUtf8(pszPath);
  // Shared for writing too, so a file still being written can be inspected.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    CloseHandle(h);
    return hr;
  }
  *ppReader = new CFileReader(h, size.QuadPart);
  return S_OK;
}

CFileReader::~CFileReader() { CloseHandle(m_hFile); }

HRESULT CFileReader::ReadAt(int64_t llPosition, uint32_t cb, uint8_t* pBuffer, uint32_t* pcbRead) {
  uint32_t done = 0;
  while (done < cb && !IsFlushing()) {
    const DWORD piece = std::min<DWORD>(cb - done, kReadPiece);
    const uint64_t offset = static_cast<uint64_t>(llPosition) + done;
    // The offset travels with the call: no shared file pointer between threads.
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    if (!ReadFile(m_hFile, pBuffer + done, piece, &n, &ov)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return HRESULT_FROM_WIN32(error);
    }
    if (n == 0) break;
    done += n;
  }
  *pcbRead = done;
  return S_OK;
}

}  // namespace flvdmx
