// Appending one block of trace text to the trace file, with the rules for a
// file that cannot be created (a directory of the same name) or that another
// writer holds open (short retries). The file system is reached through
// CTraceFileSystem so that those rules can be exercised without the rights
// or the races that cause them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com.h"

namespace flvdmx {

// Longest trace file path, in wide characters with the terminator; leaves
// room for the file name to be repeated once inside a directory.
constexpr size_t kMaxTracePath = 1024;

class CTraceFileSystem {
 public:
  enum PathKind { kMissing, kFile, kDirectory };

  virtual ~CTraceFileSystem() = default;
  // Opens for reading and writing, letting others only read, and creates the
  // file when missing. 0 with *phFile set, or the system error code
  // (ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ...).
  virtual DWORD Open(const wchar_t* pszPath, intptr_t* phFile) = 0;
  // Size in bytes, or -1.
  virtual int64_t Size(intptr_t hFile) = 0;
  // Writes all bytes at the end of the file.
  virtual bool Append(intptr_t hFile, const void* pData, size_t cb) = 0;
  virtual void Close(intptr_t hFile) = 0;
  virtual PathKind Kind(const wchar_t* pszPath) = 0;
  virtual bool MakeDirectory(const wchar_t* pszPath) = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // A monotonic clock in milliseconds: a sleep may last longer than asked
  // (a whole scheduler tick on Windows), so waits are measured with it.
  virtual uint64_t NowMs() = 0;

  // The real file system of this platform (trace_file_*.cpp).
  static CTraceFileSystem& Platform();
};

// Appends cb bytes to the file at pszPath (kMaxTracePath characters of room),
// writing the UTF-8 byte-order mark first when the file is empty. When the
// file cannot be created for lack of rights and *pbFirstAttempt is set, the
// file moves into a directory of the same name (pszPath is updated and the
// flag cleared); while another writer holds it, retries every 1 ms until
// 1000 ms have passed by NowMs. S_OK, or the failure as an HRESULT; the text is then dropped.
HRESULT WriteTraceBlock(CTraceFileSystem& fs, wchar_t* pszPath, BOOL* pbFirstAttempt,
                        const void* pData, size_t cb);

// pszPath + separator + its own last component ("a/b.txt" -> "a/b.txt/b.txt").
// False when the result would not fit in kMaxTracePath characters.
bool MovePathIntoDirectory(wchar_t* pszPath);

}  // namespace flvdmx
