// CFileReader: an IAsyncReader over a file on disk, the stand-in for the
// platform's asynchronous file source. Reads are positional (pread, or
// ReadFile with an offset), so any number of threads may read at once
// without sharing a file offset. The length is the file's size when it was
// opened (total = available). Flush and lifetime: CAsyncReaderBase.
#pragma once

#include <cstdint>

#include "host/async_reader_base.h"

namespace flvdmx {

class CFileReader : public CAsyncReaderBase {
 public:
  // Opens `pszPath` (UTF-8) for reading. S_OK with a reader holding one
  // reference for the caller; otherwise a Win32-style code: 0x80070002 when
  // the file does not exist, 0x80070003 for a missing folder, E_ACCESSDENIED
  // (also for a directory), E_POINTER for null arguments.
  static HRESULT Open(const char* pszPath, CFileReader** ppReader);

  HRESULT STDMETHODCALLTYPE Length(LONGLONG* pTotal, LONGLONG* pAvailable) override;

 private:
#ifdef _WIN32
  using NativeHandle = HANDLE;
#else
  using NativeHandle = int;
#endif
  CFileReader(NativeHandle hFile, int64_t llSize) : m_hFile(hFile), m_llSize(llSize) {}
  ~CFileReader() override;

  HRESULT ReadAt(int64_t llPosition, uint32_t cb, uint8_t* pBuffer, uint32_t* pcbRead) override;

  NativeHandle m_hFile;
  int64_t m_llSize;
};

}  // namespace flvdmx
