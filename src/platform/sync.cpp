#include "platform/sync.h"

#include <chrono>

namespace flvdmx {

void CManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bSet = true;
  }
  m_Cond.notify_all();
}

void CManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_bSet = false;
}

bool CManualResetEvent::Wait(DWORD dwMilliseconds) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  // A poll (the delivery loops ask after every sample) needs no timed wait,
  // which would cost a system call each time.
  if (m_bSet || dwMilliseconds == 0) return m_bSet;
  if (dwMilliseconds == INFINITE) {
    m_Cond.wait(lock, [this] { return m_bSet; });
    return true;
  }
  return m_Cond.wait_for(lock, std::chrono::milliseconds(dwMilliseconds),
                         [this] { return m_bSet; });
}

bool CManualResetEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_bSet;
}

}  // namespace flvdmx
