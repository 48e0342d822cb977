#include "baseclasses/output_pin.h"

#include "diag/media_type_text.h"
#include "diag/trace.h"

namespace flvdmx {

CBaseOutputPin::CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                               HRESULT* phr, const wchar_t* pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  if (m_pAllocator != nullptr) m_pAllocator->Release();
  if (m_pInputPin != nullptr) m_pInputPin->Release();
}

STDMETHODIMP CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
  HRESULT hr = CBasePin::CheckConnect(pPin);
  if (FAILED(hr)) return hr;
  IMemInputPin* pInputPin = nullptr;
  hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&pInputPin));
  if (FAILED(hr)) return hr;
  if (pInputPin == nullptr) return E_NOINTERFACE;
  if (m_pInputPin != nullptr) m_pInputPin->Release();
  m_pInputPin = pInputPin;
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = DecideAllocator(m_pInputPin, &m_pAllocator);
  if (SUCCEEDED(hr)) Trace("\n%S: connected with %s", Name(), DescribeMediaType(&m_mt));
  return hr;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    const HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::Active() {
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = FALSE;
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  if (pPin == nullptr || ppAlloc == nullptr) return E_POINTER;
  if (*ppAlloc != nullptr) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }
  ALLOCATOR_PROPERTIES required{};
  pPin->GetAllocatorRequirements(&required);  // optional for the peer
  if (required.cbAlign == 0) required.cbAlign = 1;

  // Each candidate is sized from the peer's requirements afresh.
  ALLOCATOR_PROPERTIES request = required;
  HRESULT hr = pPin->GetAllocator(ppAlloc);
  if (SUCCEEDED(hr) && *ppAlloc != nullptr) {
    hr = DecideBufferSize(*ppAlloc, &request);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
    if (SUCCEEDED(hr)) return S_OK;
  }
  if (*ppAlloc != nullptr) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }

  request = required;
  hr = InitAllocator(ppAlloc);
  if (SUCCEEDED(hr) && *ppAlloc == nullptr) hr = E_NOINTERFACE;
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*ppAlloc, &request);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
    if (SUCCEEDED(hr)) return S_OK;
  }
  if (*ppAlloc != nullptr) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }
  return hr;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  if (m_pAllocator == nullptr) return E_NOINTERFACE;
  return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
  if (m_pInputPin == nullptr) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
  return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(tStart, tStop, dRate);
}

void CBaseOutputPin::SetReconnectWhenActive(bool bCanReconnect) {
  m_bCanReconnectWhenActive = bCanReconnect ? TRUE : FALSE;
}

void CBaseOutputPin::SetTryMyTypesFirst(bool bTryMyTypesFirst) {
  m_bTryMyTypesFirst = bTryMyTypesFirst ? TRUE : FALSE;
}

HRESULT CBaseOutputPin::OnError(HRESULT hr) { return hr; }

}  // namespace flvdmx
