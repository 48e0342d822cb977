#include "baseclasses/input_pin.h"

#include "baseclasses/filter.h"

namespace flvdmx {

namespace {

// The properties of a sample that offers only IMediaSample. The media type,
// when there is one, is a copy for the caller to delete.
void ReadSampleProperties(IMediaSample* pSample, AM_SAMPLE2_PROPERTIES* pProps) {
  *pProps = AM_SAMPLE2_PROPERTIES{};
  pProps->cbData = sizeof(*pProps);
  pProps->dwStreamId = AM_STREAM_MEDIA;
  if (pSample->IsSyncPoint() == S_OK) pProps->dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
  if (pSample->IsPreroll() == S_OK) pProps->dwSampleFlags |= AM_SAMPLE_PREROLL;
  if (pSample->IsDiscontinuity() == S_OK) pProps->dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
  const HRESULT hrTime = pSample->GetTime(&pProps->tStart, &pProps->tStop);
  if (SUCCEEDED(hrTime)) {
    pProps->dwSampleFlags |= AM_SAMPLE_TIMEVALID;
    if (hrTime == S_OK) pProps->dwSampleFlags |= AM_SAMPLE_STOPVALID;
  }
  if (pSample->GetMediaType(&pProps->pMediaType) == S_OK && pProps->pMediaType != nullptr)
    pProps->dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
  else
    pProps->pMediaType = nullptr;
  if (FAILED(pSample->GetPointer(&pProps->pbBuffer))) pProps->pbBuffer = nullptr;
  pProps->cbBuffer = pSample->GetSize();
  pProps->lActual = pSample->GetActualDataLength();
}

}  // namespace

CBaseInputPin::CBaseInputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                             HRESULT* phr, const wchar_t* pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() = default;

STDMETHODIMP CBaseInputPin::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CBaseInputPin::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CBaseInputPin::Release() { return GetOwner()->Release(); }

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  if (ppAllocator == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  *ppAllocator = nullptr;
  if (!m_pAllocator) {
    const HRESULT hr =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(m_pAllocator.Put()));
    if (FAILED(hr)) {
      m_pAllocator.Reset();
      return hr;
    }
  }
  *ppAllocator = ComPtr<IMemAllocator>(m_pAllocator).Detach();
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  if (pAllocator == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  m_pAllocator = ComPtr<IMemAllocator>(pAllocator);
  m_bReadOnly = bReadOnly;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
  return E_NOTIMPL;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
  if (pSample == nullptr) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;

  // A type copied out of a plain IMediaSample is ours to delete; the one
  // IMediaSample2 points at belongs to the sample.
  AM_MEDIA_TYPE* pOwnedType = nullptr;
  IMediaSample2* pSample2 = nullptr;
  if (SUCCEEDED(pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&pSample2))) &&
      pSample2 != nullptr) {
    hr = pSample2->GetProperties(sizeof(m_SampleProps), reinterpret_cast<BYTE*>(&m_SampleProps));
    pSample2->Release();
    if (FAILED(hr)) return hr;
  } else {
    ReadSampleProperties(pSample, &m_SampleProps);
    pOwnedType = m_SampleProps.pMediaType;
  }

  if ((m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0 &&
      m_SampleProps.pMediaType != nullptr) {
    CMediaType mt(*m_SampleProps.pMediaType, &hr);
    if (SUCCEEDED(hr)) hr = CheckMediaType(&mt);
    if (pOwnedType != nullptr) {
      DeleteMediaType(pOwnedType);
      m_SampleProps.pMediaType = nullptr;
    }
    if (hr != S_OK) {
      m_bRunTimeError = TRUE;
      EndOfStream();
      m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      return VFW_E_INVALIDMEDIATYPE;
    }
  }
  return S_OK;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                            LONG* nSamplesProcessed) {
  if (nSamplesProcessed == nullptr) return E_POINTER;
  *nSamplesProcessed = 0;
  if (nSamples > 0 && pSamples == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  while (*nSamplesProcessed < nSamples) {
    hr = Receive(pSamples[*nSamplesProcessed]);
    if (hr != S_OK) break;
    ++*nSamplesProcessed;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
  int cOutputPins = 0;
  const int cPins = m_pFilter->GetPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBasePin* pPin = m_pFilter->GetPin(i);
    if (pPin == nullptr) continue;
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (FAILED(pPin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) continue;
    ++cOutputPins;
    IPin* pPeer = pPin->GetConnected();
    if (pPeer == nullptr) continue;
    IMemInputPin* pInput = nullptr;
    if (FAILED(pPeer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&pInput))) ||
        pInput == nullptr)
      return S_OK;  // a peer we cannot ask might block
    const HRESULT hr = pInput->ReceiveCanBlock();
    pInput->Release();
    if (hr != S_FALSE) return S_OK;
  }
  return cOutputPins == 0 ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = TRUE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = FALSE;
  m_bRunTimeError = FALSE;
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = FALSE;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  m_bFlushing = FALSE;
  return m_pAllocator->Decommit();
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) {
    const HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator.Reset();
  }
  return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

}  // namespace flvdmx
