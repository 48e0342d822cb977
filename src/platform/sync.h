// Synchronisation primitives for the base layer, over the C++ standard
// library so that the code above reads the same on both builds: a recursive
// lock and a manual-reset event that can be waited on with a timeout.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/com.h"

namespace flvdmx {

// A recursive mutual-exclusion lock: the owning thread may take it again.
class CCriticalSection {
 public:
  CCriticalSection() = default;
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Lock() { m_Mutex.lock(); }
  void Unlock() { m_Mutex.unlock(); }

 private:
  std::recursive_mutex m_Mutex;
};

// An event that stays set until it is reset; every waiter is released while
// it is set. Set and Reset publish what the setting thread wrote before them
// to the thread whose Wait sees the change.
class CManualResetEvent {
 public:
  explicit CManualResetEvent(bool bInitiallySet = false) : m_bSet(bInitiallySet) {}
  CManualResetEvent(const CManualResetEvent&) = delete;
  CManualResetEvent& operator=(const CManualResetEvent&) = delete;

  void Set();
  void Reset();
  // True when the event is set within dwMilliseconds (INFINITE: no limit;
  // 0: only looks).
  bool Wait(DWORD dwMilliseconds);
  bool IsSet() const;

 private:
  mutable std::mutex m_Mutex;
  std::condition_variable m_Cond;
  bool m_bSet;
};

}  // namespace flvdmx
