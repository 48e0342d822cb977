#include "framework/push_pin.h"

#include "baseclasses/filter.h"

namespace flvdmx {

CPushPin::CPushPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   const wchar_t* pName)
    : CFilterPassThru(pFilter != nullptr ? static_cast<IBaseFilter*>(pFilter) : nullptr, phr),
      CBaseOutputPin(pObjectName, pFilter, pLock, phr, pName) {}

CPushPin::~CPushPin() {
  StopThread();
  SetReader(nullptr);
}

STDMETHODIMP CPushPin::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CPushPin::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CPushPin::Release() { return GetOwner()->Release(); }

STDMETHODIMP CPushPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking) return QuerySeekingInterface(riid, ppv);
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CPushPin::NonDelegatingAddRef() {
  if (CBasePin::m_pFilter != nullptr) CBasePin::m_pFilter->AddRef();
  return CUnknown::NonDelegatingAddRef();
}

STDMETHODIMP_(ULONG) CPushPin::NonDelegatingRelease() {
  // The pin goes first: the filter's last release destroys its table, which
  // releases the owner reference of a pin still in it.
  CBaseFilter* const pFilter = CBasePin::m_pFilter;
  const ULONG cRef = CUnknown::NonDelegatingRelease();
  if (pFilter != nullptr) pFilter->Release();
  return cRef;
}

void CPushPin::AddOwnerReference() { CUnknown::NonDelegatingAddRef(); }

void CPushPin::ReleaseOwnerReference() { CUnknown::NonDelegatingRelease(); }

STDMETHODIMP CPushPin::Notify(IBaseFilter* pSender, Quality q) { return S_OK; }

HRESULT CPushPin::BreakConnect() {
  StopThread();
  SetReader(nullptr);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CPushPin::Active() {
  CAutoLock lock(&m_AccessLock);
  if (m_pAllocator == nullptr || m_pReader == nullptr) return E_UNEXPECTED;
  if (m_bInline) {
    // A stop decommitted it; Commit on a committed allocator is harmless.
    const HRESULT hr = m_pAllocator->Commit();
    if (FAILED(hr)) return hr;
    m_bDeliveryDue = true;
    return S_OK;
  }
  if (!ThreadExists()) {
    const HRESULT hr = m_pAllocator->Commit();
    if (FAILED(hr)) return hr;
    if (!Create()) return E_FAIL;
  }
  return static_cast<HRESULT>(CallWorker(CMD_RUN));
}

HRESULT CPushPin::Inactive() {
  StopThread();
  return S_OK;
}

void CPushPin::SetReader(IAsyncReader* pReader) {
  if (pReader != nullptr) pReader->AddRef();
  IAsyncReader* pOld = nullptr;
  {
    CAutoLock lock(&m_csReaderFlush);
    pOld = m_pReader;
    m_pReader = pReader;
    // A bracket left open on the old reader is closed for the readers too.
    if (m_pFlushState != nullptr && m_lReaderFlushCount > 0) m_pFlushState->End();
    m_lReaderFlushCount = 0;
  }
  if (pOld != nullptr) pOld->Release();
}

HRESULT CPushPin::BeginReaderFlush() {
  CAutoLock lock(&m_csReaderFlush);
  if (m_pReader == nullptr) return S_OK;
  if (++m_lReaderFlushCount == 1) {
    // Announced first: no cached block is served once the reads fail.
    if (m_pFlushState != nullptr) m_pFlushState->Begin();
    const HRESULT hr = m_pReader->BeginFlush();
    if (FAILED(hr)) {
      if (m_pFlushState != nullptr) m_pFlushState->End();
      --m_lReaderFlushCount;
      return hr;
    }
  }
  return S_OK;
}

HRESULT CPushPin::EndReaderFlush() {
  CAutoLock lock(&m_csReaderFlush);
  if (m_pReader == nullptr) return S_OK;
  if (m_lReaderFlushCount <= 0) return E_UNEXPECTED;  // no bracket is open
  if (m_lReaderFlushCount-- == 1) {
    const HRESULT hr = m_pReader->EndFlush();
    if (FAILED(hr)) {
      ++m_lReaderFlushCount;
      return hr;
    }
    if (m_pFlushState != nullptr) m_pFlushState->End();
  }
  return S_OK;
}

HRESULT CPushPin::RunDueDelivery() {
  if (!m_bDeliveryDue.exchange(false)) return S_FALSE;
  const HRESULT hr = Process();
  DrainReader();
  return hr;
}

HRESULT CPushPin::StopThread() {
  CAutoLock lock(&m_AccessLock);
  if (m_bInline) {
    // Nothing runs between calls: forgetting the due loop stops it.
    m_bDeliveryDue = false;
    if (m_pAllocator != nullptr) m_pAllocator->Decommit();
    return S_OK;
  }
  if (!ThreadExists()) return S_FALSE;
  // CMD_EXIT from the worker itself would wait for its own reply.
  if (GetThreadId() == CurrentThreadId()) return E_UNEXPECTED;

  HRESULT hr = BeginReaderFlush();
  if (FAILED(hr)) return hr;
  // A loop waiting for a free buffer wakes with a failure, as one blocked in
  // a read does through the flush.
  if (m_pAllocator != nullptr) m_pAllocator->Decommit();
  CallWorker(CMD_EXIT);
  EndReaderFlush();
  WaitForThreadEnd();
  if (m_pAllocator != nullptr) m_pAllocator->Decommit();
  return S_OK;
}

DWORD CPushPin::ThreadProc() {
  for (;;) {
    const DWORD dwCommand = GetRequest();
    switch (dwCommand) {
      case CMD_EXIT:
        Reply(0);
        return 0;
      case CMD_RUN:
        Reply(0);  // release the caller before the loop starts
        Process();
        DrainReader();
        break;
      default:
        Reply(static_cast<DWORD>(E_NOTIMPL));
        break;
    }
  }
}

void CPushPin::DrainReader() {
  IAsyncReader* pReader = m_pReader;
  if (pReader == nullptr) return;
  IMediaSample* pSample = nullptr;
  DWORD_PTR dwUser = 0;
  pReader->WaitForNext(0, &pSample, &dwUser);
  if (pSample == nullptr) return;
  const HRESULT hrFlush = BeginReaderFlush();
  while (pSample != nullptr) {
    pSample->Release();
    pSample = nullptr;
    pReader->WaitForNext(0, &pSample, &dwUser);
  }
  if (SUCCEEDED(hrFlush)) EndReaderFlush();
}

}  // namespace flvdmx
