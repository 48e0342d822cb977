#include "counting_reader.h"

namespace flvdmx::cli {

CCountingReader::CCountingReader(IAsyncReader* pInner) : m_pInner(pInner) {}

CCountingReader::~CCountingReader() = default;

STDMETHODIMP CCountingReader::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
    *ppv = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CCountingReader::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CCountingReader::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP CCountingReader::RequestAllocator(IMemAllocator* pPreferred,
                                               ALLOCATOR_PROPERTIES* pProps,
                                               IMemAllocator** ppActual) {
  return m_pInner->RequestAllocator(pPreferred, pProps, ppActual);
}

STDMETHODIMP CCountingReader::Request(IMediaSample* pSample, DWORD_PTR dwUser) {
  return m_pInner->Request(pSample, dwUser);
}

STDMETHODIMP CCountingReader::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample,
                                          DWORD_PTR* pdwUser) {
  return m_pInner->WaitForNext(dwTimeout, ppSample, pdwUser);
}

STDMETHODIMP CCountingReader::SyncReadAligned(IMediaSample* pSample) {
  return m_pInner->SyncReadAligned(pSample);
}

STDMETHODIMP CCountingReader::SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
  const HRESULT hr = m_pInner->SyncRead(llPosition, lLength, pBuffer);
  if (hr == S_OK || hr == S_FALSE) {
    m_cReads.fetch_add(1, std::memory_order_relaxed);
    if (lLength > 0) m_cbRead.fetch_add(static_cast<uint64_t>(lLength), std::memory_order_relaxed);
  }
  if (hr == S_FALSE && lLength > 0) {
    LONGLONG llTotal = 0;
    LONGLONG llAvailable = 0;
    if (m_pInner->Length(&llTotal, &llAvailable) == S_OK && llPosition + lLength <= llAvailable)
      RememberFailure(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
  } else if (FAILED(hr) && hr != VFW_E_WRONG_STATE) {
    RememberFailure(hr);
  }
  return hr;
}

void CCountingReader::RememberFailure(HRESULT hr) {
  HRESULT hrNone = S_OK;
  m_hrFirstFailure.compare_exchange_strong(hrNone, hr);
}

STDMETHODIMP CCountingReader::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
  return m_pInner->Length(pTotal, pAvailable);
}

STDMETHODIMP CCountingReader::BeginFlush() { return m_pInner->BeginFlush(); }

STDMETHODIMP CCountingReader::EndFlush() { return m_pInner->EndFlush(); }

void CCountingReader::ResetCounters() {
  m_cReads = 0;
  m_cbRead = 0;
  m_hrFirstFailure = S_OK;
}

}  // namespace flvdmx::cli
