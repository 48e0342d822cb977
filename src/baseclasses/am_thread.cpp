#include "baseclasses/am_thread.h"

namespace flvdmx {

CAMThread::CAMThread() = default;

CAMThread::~CAMThread() { WaitForThreadEnd(); }

BOOL CAMThread::Create() {
  CAutoLock lock(&m_AccessLock);
  if (ThreadExists()) return FALSE;
  m_EventSend.Reset();
  std::unique_ptr<CThreadHandle> handle = CThreadHandle::Start(&CAMThread::InitialThreadProc, this);
  if (!handle) return FALSE;
  m_hThread = handle.release();
  return TRUE;
}

DWORD CAMThread::InitialThreadProc(void* pv) {
  auto* pThread = static_cast<CAMThread*>(pv);
  // A thread without the component runtime can still do most work.
  const HRESULT hrCom = InitializeWorkerCom();
  pThread->m_ThreadId = CurrentThreadId();
  const DWORD dwResult = pThread->ThreadProc();
  if (SUCCEEDED(hrCom)) UninitializeWorkerCom();
  return dwResult;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
  CAutoLock lock(&m_AccessLock);
  if (!ThreadExists()) return static_cast<DWORD>(E_FAIL);
  if (m_EventSend.IsSet())
    m_EventComplete.Wait(INFINITE);
  else
    m_EventComplete.Reset();
  if (!ThreadExists()) return static_cast<DWORD>(E_FAIL);
  m_dwParam = dwParam;
  m_EventSend.Set();
  m_EventComplete.Wait(INFINITE);
  return m_dwReturnVal;
}

DWORD CAMThread::GetRequest() {
  m_EventSend.Wait(INFINITE);
  const DWORD dwParam = m_dwParam;
  m_EventSend.Reset();
  return dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam, DWORD dwTimeout) {
  if (!m_EventSend.Wait(dwTimeout)) return FALSE;
  if (pParam != nullptr) *pParam = m_dwParam;
  return TRUE;
}

void CAMThread::Reply(DWORD dwReply) {
  m_dwReturnVal = dwReply;
  m_EventSend.Reset();
  m_EventComplete.Set();
}

std::unique_ptr<CThreadHandle> CAMThread::TakeThread() {
  return std::unique_ptr<CThreadHandle>(m_hThread.exchange(nullptr));
}

void CAMThread::WaitForThreadEnd() {
  std::unique_ptr<CThreadHandle> handle = TakeThread();
  if (handle && !handle->IsCurrentThread()) handle->Wait();
  m_ThreadId = 0;
}

void CAMThread::Close() {
  TakeThread();  // the handle closes here; the thread runs on
  m_ThreadId = 0;
}

}  // namespace flvdmx
