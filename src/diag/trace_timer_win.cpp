#include <windows.h>

#include <new>

#include "diag/trace_timer.h"

namespace flvdmx {

class CTraceTimer {
 public:
  HANDLE m_hQueue = nullptr;
  HANDLE m_hTimer = nullptr;
  TraceTimerCallback m_pfn = nullptr;
  void* m_pContext = nullptr;
};

namespace {
VOID CALLBACK TimerTick(PVOID pParameter, BOOLEAN) {
  CTraceTimer* timer = static_cast<CTraceTimer*>(pParameter);
  timer->m_pfn(timer->m_pContext);
}
}  // namespace

CTraceTimer* StartTraceTimer(TraceTimerCallback pfn, void* pContext, uint32_t dueMs,
                             uint32_t periodMs) {
  CTraceTimer* timer = new (std::nothrow) CTraceTimer;
  if (!timer) return nullptr;
  timer->m_pfn = pfn;
  timer->m_pContext = pContext;
  timer->m_hQueue = CreateTimerQueue();
  if (timer->m_hQueue &&
      CreateTimerQueueTimer(&timer->m_hTimer, timer->m_hQueue, TimerTick, timer, dueMs, periodMs,
                            WT_EXECUTEDEFAULT)) {
    return timer;
  }
  if (timer->m_hQueue) DeleteTimerQueueEx(timer->m_hQueue, nullptr);
  delete timer;
  return nullptr;
}

void StopTraceTimer(CTraceTimer* pTimer, uint32_t waitMs) {
  if (!pTimer) return;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // With an event the call returns at once and the event is set when a
  // running tick has ended; without one we cannot bound the wait.
  if (done) {
    if (DeleteTimerQueueTimer(pTimer->m_hQueue, pTimer->m_hTimer, done) ||
        GetLastError() == ERROR_IO_PENDING) {
      WaitForSingleObject(done, waitMs);
    }
    DeleteTimerQueueEx(pTimer->m_hQueue, nullptr);
    CloseHandle(done);
  } else {
    DeleteTimerQueueEx(pTimer->m_hQueue, INVALID_HANDLE_VALUE);
  }
  delete pTimer;
}

}  // namespace flvdmx
