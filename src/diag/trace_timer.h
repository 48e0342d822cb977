// The periodic timer that flushes the trace writer: a timer queue with one
// timer on Windows, a thread of its own elsewhere (trace_timer_*.cpp).
#pragma once

#include <cstdint>

namespace flvdmx {

class CTraceTimer;  // defined by each platform's implementation

using TraceTimerCallback = void (*)(void* pContext);

// Calls pfn(pContext) after dueMs and then every periodMs, on a thread that
// is not the caller's. Null when the system refuses.
CTraceTimer* StartTraceTimer(TraceTimerCallback pfn, void* pContext, uint32_t dueMs,
                             uint32_t periodMs);

// No tick runs after this returns: a tick already running is waited for
// without a limit (the context it uses may be freed next), so the caller must
// not hold anything that tick needs. Frees the timer; null is ignored.
void StopTraceTimer(CTraceTimer* pTimer);

}  // namespace flvdmx
