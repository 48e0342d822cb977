// CPushPin: a format-neutral output pin with its own delivery thread. While
// the filter is active the thread runs Process, which pulls the stream's data
// from the file reader and pushes samples downstream; the graph's thread
// starts, restarts and stops it with thread commands. The pin carries the
// pass-through IMediaSeeking (CFilterPassThru) for its filter.
//
// Thread commands (CallWorker):
//   CMD_RUN   the thread acknowledges at once (so the caller is released
//             before the loop starts), runs Process, drains the reader and
//             waits for the next command;
//   CMD_EXIT  the thread acknowledges and ends.
// A command sent while Process runs is seen by Process's CheckRequest after
// its current sample: Process returns and the thread takes the command, so a
// second CMD_RUN restarts the loop on the same thread.
//
// Stopping the thread (Inactive, BreakConnect): a flush bracket is opened on
// the reader so that a read in progress fails, the allocator is decommitted
// so that a wait for a free buffer fails, CMD_EXIT is sent, the bracket is
// closed and the thread is waited for. Flush brackets nest: only the
// outermost open and close reach the reader.
//
// Ownership and lifetime: reference counted by itself, destroyed when the
// last reference goes. The filter's own reference (its pin table's, the owner
// reference) is counted by the pin alone; every other reference also holds
// one on the filter, so a pin kept by a caller keeps its filter alive, and
// filter and pin never hold each other. The counts are atomic and take no
// lock, so that delivery and downstream threads can hold the pin without
// touching the filter lock.
// Holds one reference on the reader from CompleteConnect to BreakConnect (see
// CBaseDmxOutputPin), and the allocator and the peer's IMemInputPin as
// CBaseOutputPin does. The thread exists only between Active and the next
// stop; each activation makes a new one.
//
// Inline delivery (SetInlineDelivery): no thread at all. Active commits the
// allocator and marks the loop as due; RunDueDelivery runs Process and the
// reader drain on the caller's thread; Inactive forgets a due loop and
// decommits. The loop body is the same code, so one deterministic thread can
// drive a whole playback (tests, fuzzing). The default is the thread.
//
// Locks, in nesting order: filter lock (the pin lock) -> the thread's access
// lock (m_AccessLock) -> the reader-flush lock. Active and the thread stop
// hold the access lock, and CallWorker holds it while it waits for the
// worker to take a command. Code on the worker thread never takes the access
// lock or the filter lock.
#pragma once

#include <atomic>

#include "base/block_reader.h"
#include "baseclasses/am_thread.h"
#include "baseclasses/critsec.h"
#include "baseclasses/output_pin.h"
#include "platform/dshow.h"
#include "seeking/filter_pass_thru.h"

namespace flvdmx {

class CPushPin : public CFilterPassThru, public CBaseOutputPin, public CAMThread {
 public:
  enum Command : DWORD { CMD_RUN = 1, CMD_EXIT = 2 };

  CPushPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
           const wchar_t* pName);
  // Stops a thread that is still there.
  ~CPushPin() override;

  // IUnknown of every interface of the pin, to its non-delegating unknown.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IMediaSeeking (the pass-through); then the base output pin's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The pin counts for itself and deletes itself at 0; each of these
  // references also holds one on the filter.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;
  // The filter's own reference on the pin: counted without touching the
  // filter's count.
  void AddOwnerReference();
  void ReleaseOwnerReference();

  // IQualityControl: accepted and ignored.
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

  // Stops the thread, lets go of the reader, then the base (decommits and
  // releases the allocator, releases the peer's IMemInputPin).
  HRESULT BreakConnect() override;
  // Under the access lock: E_UNEXPECTED without an allocator or a reader (not
  // connected); when no thread exists, commits the allocator (its failure is
  // returned) and makes the thread (E_FAIL); then CMD_RUN and its reply.
  HRESULT Active() override;
  // Stops the thread; always S_OK.
  HRESULT Inactive() override;

  // The loop body, run on the pin's thread for each CMD_RUN.
  virtual HRESULT Process() = 0;

  // Chooses inline delivery (true) or the pin's own thread (false, the
  // default). Only while the pin is inactive.
  void SetInlineDelivery(bool bInline) { m_bInline = bInline; }
  // Inline delivery: runs the loop that the last Active made due, on the
  // caller's thread, and returns its result; S_FALSE when none is due (the
  // pin is inactive, or the loop ran since). Never under the filter lock,
  // as a delivery thread would not hold it.
  HRESULT RunDueDelivery();

  // Holds pReader (a reference is added) instead of the current one.
  void SetReader(IAsyncReader* pReader);
  // Where the outermost flush bracket is also announced, so that read-ahead
  // blocks of every delivery thread stop serving while the shared reader
  // flushes (not owned; null: nowhere). Set before the pin connects.
  void SetFlushState(CReaderFlushState* pState) { m_pFlushState = pState; }

  // The flush bracket on the reader. Begin: the first open bracket calls the
  // reader's BeginFlush (a failure is returned and the bracket not opened).
  // End: closing the last one calls EndFlush (a failure is returned and the
  // bracket stays open). S_OK without a reader.
  HRESULT BeginReaderFlush();
  HRESULT EndReaderFlush();

  // Under the access lock. S_FALSE when there is no thread; the reader's
  // refusal to flush (the thread keeps running); E_UNEXPECTED when called on
  // the pin's own thread (a thread cannot wait for its own end); else S_OK
  // once the thread has ended and the allocator is decommitted.
  HRESULT StopThread();

 protected:
  DWORD ThreadProc() override;

 private:
  // Hands back every request still queued on the reader. The reader is
  // flushed only when something is queued: a flush fails the reads of the
  // filter's other pins, which share the reader.
  void DrainReader();

  bool m_bInline = false;
  std::atomic<bool> m_bDeliveryDue{false};
  IAsyncReader* m_pReader = nullptr;
  CReaderFlushState* m_pFlushState = nullptr;
  std::atomic<LONG> m_lReaderFlushCount{0};
  CCritSec m_csReaderFlush;
};

}  // namespace flvdmx
