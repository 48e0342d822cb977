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
  if (timer->m_hQueue && CreateTimerQueueTimer(&timer->m_hTimer, timer->m_hQueue, TimerTick, timer,
                                               dueMs, periodMs, WT_EXECUTEDEFAULT)) {
    return timer;
  }
  if (timer->m_hQueue) DeleteTimerQueueEx(timer->m_hQueue, nullptr);
  delete timer;
  return nullptr;
}

void StopTraceTimer(CTraceTimer* pTimer) {
  if (!pTimer) return;
  // INVALID_HANDLE_VALUE: return only once a running tick has ended. A wait
  // with a limit would let the tick go on with a writer about to be freed;
  // the tick's own file wait is bounded, so this one ends.
  DeleteTimerQueueEx(pTimer->m_hQueue, INVALID_HANDLE_VALUE);
  delete pTimer;
}

}  // namespace flvdmx
