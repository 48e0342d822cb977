// The trace file writer and the module's hold on it.
//
// CTraceWriter: one per module and trace file. Modules of one process share
// only the file, never a writer: a writer holds the module's own code (its
// timer, its file system object), which must not be reached from another
// module after this one unloads. Blocks from several writers stay whole
// through the file's own lock (WriteTraceBlock waits for another writer).
// Callers append to memory; a timer writes the pending text to the file
// every 500 ms.
//
// CTraceHolder: one per module. Makes its writer on the first file line and
// frees it on Close (DllCanUnloadNow, the end of the CLI) or when the path
// changes, after its timer has stopped.
//
// Locks, in nesting order: holder lock -> writer lock -> writer file lock.
// The timer takes only the writer lock and the file lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "diag/trace_file.h"
#include "diag/trace_timer.h"
#include "base/buffer.h"

namespace flvdmx {

class CTraceWriter {
 public:
  // On the process heap, with one block of text in mind; null when memory
  // runs out or the path is too long. Users start at 0.
  static CTraceWriter* Create(const wchar_t* pszPath, CTraceFileSystem& fs);
  static void Destroy(CTraceWriter* pWriter);

  // Adds text with CR LF line ends to the pending text and starts the timer
  // when none runs. E_OUTOFMEMORY drops the text.
  HRESULT Append(const char* pText, size_t cb);

  // Writes the pending text now if the writer lock can be had within
  // maxWaitMs (tried every 100 ms). Used on close.
  void Flush(uint32_t maxWaitMs);

  // Stops the timer; a running tick is waited for, so none outlives the
  // writer.
  void StopTimer();

  // One timer tick: writes the pending text unless the last write was less
  // than 51 ms ago or another tick is still running.
  void Tick();

  CTraceWriter(const CTraceWriter&) = delete;
  CTraceWriter& operator=(const CTraceWriter&) = delete;

 private:
  CTraceWriter(const wchar_t* pszPath, CTraceFileSystem& fs);
  ~CTraceWriter() = default;

  // Takes the pending text out and writes it. Called with m_Lock held by
  // `held`; releases it before the file is touched, keeping the order of
  // blocks through the file lock.
  void WritePending(std::unique_lock<std::mutex>& held);

  static int64_t NowMs();

  std::mutex m_Lock;      // the pending text and the timer
  std::mutex m_FileLock;  // one file write at a time, in the order taken out
  CHeapBuffer m_Pending;
  std::atomic<int64_t> m_llLastFlushMs;  // the stopwatch, restarted by each write
  CTraceTimer* m_pTimer = nullptr;
  std::atomic<int32_t> m_lTicking{0};
  CTraceFileSystem& m_Fs;
  BOOL m_bFirstAttempt = TRUE;      // under m_FileLock
  wchar_t m_szPath[kMaxTracePath];  // under m_FileLock
};

class CTraceHolder;

// The module's holder, the one the trace call writes through.
CTraceHolder& TheTraceHolder();

class CTraceHolder {
 public:
  CTraceHolder() = default;

  // Hands a finished line to the module's writer, making it first. The line
  // is dropped when the writer cannot be made.
  void Append(const char* pszLine, size_t cb);

  // Stops the writer's timer, writes out the pending text and frees the
  // writer.
  void Close();

  // The path for the next writer; closes the current one when it differs.
  // E_POINTER for null, E_INVALIDARG for an empty or too long path.
  HRESULT SetPath(const wchar_t* pszPath);

  // The file system the next writer uses; null for the platform's. It must
  // outlive that writer.
  void SetFileSystem(CTraceFileSystem* pFs);

 private:
  void CloseLocked();

  std::mutex m_Lock;
  CTraceWriter* m_pWriter = nullptr;
  CTraceFileSystem* m_pFs = nullptr;
  wchar_t m_szPath[kMaxTracePath] = L"c:\\OrvexTrace.txt";
};

}  // namespace flvdmx
