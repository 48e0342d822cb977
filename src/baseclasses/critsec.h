// CCritSec, the base layer's lock, and CAutoLock, which holds one for a scope.
// The lock is recursive: a thread that holds a filter's state lock may call
// back into the filter and its pins, which take it again.
#pragma once

#include "platform/sync.h"

namespace flvdmx {

class CCritSec {
 public:
  CCritSec() = default;
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;

  void Lock() { m_Lock.Lock(); }
  void Unlock() { m_Lock.Unlock(); }

 private:
  CCriticalSection m_Lock;
};

// Holds the lock from construction to the end of the scope.
class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* pLock) : m_pLock(pLock) { m_pLock->Lock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;
  ~CAutoLock() { m_pLock->Unlock(); }

 private:
  CCritSec* const m_pLock;
};

}  // namespace flvdmx
