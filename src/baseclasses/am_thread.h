// CAMThread: a worker thread driven by commands. A caller posts a command
// with CallWorker and waits until the worker replies; the worker takes
// commands with GetRequest, peeks with CheckRequest (so a long job can notice
// a pending command and return), and answers with Reply.
//
// Ownership: owns the thread handle from Create until Close, TakeThread or
// destruction; the destructor waits for the thread to end (unless it runs on
// that thread itself), so a subclass must make its ThreadProc return first
// (usually with an exit command) and must not rely on its own members after
// its destructor has begun.
//
// Locks: the access lock serialises callers of Create and CallWorker and is
// held while CallWorker waits for the reply; the worker thread must never
// take it. The worker lock is free for the subclass. The worker touches only
// the two events and the command and reply values.
#pragma once

#include <atomic>
#include <memory>

#include "baseclasses/critsec.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace flvdmx {

class CAMThread {
 public:
  CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;
  virtual ~CAMThread();

  // Starts the thread at ThreadProc. FALSE when a thread exists already or
  // the system refuses one.
  BOOL Create();
  // Posts dwParam and waits, without limit, for the worker's reply, which it
  // returns. E_FAIL when there is no thread. If an earlier command is still
  // pending (not yet taken), waits for that one's completion first.
  DWORD CallWorker(DWORD dwParam);

  // Worker side: waits for a command, takes it and returns it.
  DWORD GetRequest();
  // Worker side: TRUE with the pending command in *pParam (not taken) when one
  // arrives within dwTimeout milliseconds; else FALSE.
  BOOL CheckRequest(DWORD* pParam, DWORD dwTimeout = 0);
  // Worker side: answers the command taken last and releases its caller.
  void Reply(DWORD dwReply);

  BOOL ThreadExists() const { return m_hThread.load() != nullptr; }
  // The worker's system thread identifier once it has started; 0 before and
  // after Close.
  DWORD GetThreadId() const { return m_ThreadId; }
  // Takes the handle away (the thread runs on); for a caller that waits for
  // the thread's end itself. Null when there is no thread.
  std::unique_ptr<CThreadHandle> TakeThread();
  // TakeThread, then, unless called on the worker itself, waits for the
  // thread to end; forgets the thread identifier.
  void WaitForThreadEnd();
  // Closes the handle without waiting and forgets the thread identifier.
  void Close();

  CCritSec m_AccessLock;
  CCritSec m_WorkerLock;

 protected:
  // Required: the worker's body; its result is the thread's exit code.
  virtual DWORD ThreadProc() = 0;

  // Atomic so that a caller and the worker never race on them, whatever
  // order a subclass's protocol puts them in.
  std::atomic<DWORD> m_dwParam{0};
  std::atomic<DWORD> m_dwReturnVal{0};
  CManualResetEvent m_EventSend;
  CManualResetEvent m_EventComplete;

 private:
  static DWORD InitialThreadProc(void* pv);

  std::atomic<CThreadHandle*> m_hThread{nullptr};
  std::atomic<DWORD> m_ThreadId{0};
};

}  // namespace flvdmx
