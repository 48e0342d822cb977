#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "diag/trace_timer.h"

namespace flvdmx {

// One thread that sleeps on a condition variable between ticks, so that a stop
// wakes it at once instead of after the period.
class CTraceTimer {
 public:
  CTraceTimer(TraceTimerCallback pfn, void* pContext) : m_pfn(pfn), m_pContext(pContext) {}

  void Run(uint32_t dueMs, uint32_t periodMs) {
    auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(dueMs);
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
      if (m_wake.wait_until(lock, next, [this] { return m_bStop; })) return;
      lock.unlock();
      m_pfn(m_pContext);
      lock.lock();
      next += std::chrono::milliseconds(periodMs);
      const auto now = std::chrono::steady_clock::now();
      if (next < now) next = now;  // a slow tick does not cause a burst of ticks
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_bStop = true;
    }
    m_wake.notify_all();
    // A tick takes only the writer's lock and writes one block of text, so
    // the join ends; a limit would leave a thread running on freed memory.
    if (m_thread.joinable()) m_thread.join();
  }

  std::thread m_thread;

 private:
  TraceTimerCallback m_pfn;
  void* m_pContext;
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_bStop = false;
};

CTraceTimer* StartTraceTimer(TraceTimerCallback pfn, void* pContext, uint32_t dueMs,
                             uint32_t periodMs) {
  CTraceTimer* timer = new (std::nothrow) CTraceTimer(pfn, pContext);
  if (!timer) return nullptr;
  try {
    timer->m_thread = std::thread([timer, dueMs, periodMs] { timer->Run(dueMs, periodMs); });
  } catch (const std::system_error&) {
    delete timer;
    return nullptr;
  }
  return timer;
}

void StopTraceTimer(CTraceTimer* pTimer) {
  if (!pTimer) return;
  pTimer->Stop();
  delete pTimer;
}

}  // namespace flvdmx
