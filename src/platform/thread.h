// Threads for the base layer: an owning handle over one started thread, the
// calling thread's identifier, and the per-thread component-runtime set-up
// that worker threads do.
#pragma once

#include <memory>
#include <thread>

#include "platform/com.h"

namespace flvdmx {

// The system's identifier of the calling thread (as trace lines print it).
DWORD CurrentThreadId();

// Initialises the component runtime on the calling thread for a worker
// (multithreaded, no OLE1 DDE). On Windows the entry point is looked up in
// "ole32.dll" at run time, so that a module that never starts a thread does
// not bind to it. A failure is for the caller to tolerate.
HRESULT InitializeWorkerCom();
// Undoes a successful InitializeWorkerCom on the same thread.
void UninitializeWorkerCom();

// Owns one thread from Start until Wait has seen it end, or until the handle
// is destroyed first, which lets the thread run on by itself (closing a
// handle does not stop a thread).
class CThreadHandle {
 public:
  using ThreadProc = DWORD (*)(void* pArg);

  // Starts pfn(pArg) on a new thread; null when the system refuses one.
  static std::unique_ptr<CThreadHandle> Start(ThreadProc pfn, void* pArg);

  CThreadHandle(const CThreadHandle&) = delete;
  CThreadHandle& operator=(const CThreadHandle&) = delete;
  ~CThreadHandle();

  // Blocks until the thread has ended. Must not be called on the thread
  // itself (IsCurrentThread tells).
  void Wait();
  bool IsCurrentThread() const { return std::this_thread::get_id() == m_Id; }

 private:
  CThreadHandle() = default;

  std::thread m_Thread;
  std::thread::id m_Id;
};

}  // namespace flvdmx
