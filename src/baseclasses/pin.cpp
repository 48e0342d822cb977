#include "baseclasses/pin.h"

#include <new>

#include "base/com_ptr.h"
#include "baseclasses/enum_media_types.h"
#include "baseclasses/filter.h"
#include "baseclasses/wide_string.h"

namespace flvdmx {

namespace {

// Failures that say only "not this type": a more specific one from another
// attempt tells the caller more.
bool IsVagueRefusal(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace

CBasePin::CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   const wchar_t* pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr), m_dir(dir), m_pLock(pLock), m_pFilter(pFilter) {
  if (pName != nullptr) {
    m_pName = DuplicateWideString(pName);
    if (m_pName == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  }
}

CBasePin::~CBasePin() {
  delete[] m_pName;
  if (m_Connected != nullptr) m_Connected->Release();
}

STDMETHODIMP CBasePin::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CBasePin::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CBasePin::Release() { return GetOwner()->Release(); }

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

BOOL CBasePin::IsStopped() const { return m_pFilter->IsStopped(); }

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  if (pReceivePin == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;

  HRESULT hr = S_OK;
  CMediaType mtPartial;
  if (pmt != nullptr) hr = mtPartial.Set(*pmt);
  if (SUCCEEDED(hr)) hr = AgreeMediaType(pReceivePin, pmt == nullptr ? nullptr : &mtPartial);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
  if (pmt != nullptr && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);

  HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int pass = 0; pass < 2; ++pass) {
    // Pass 0 asks the peer first unless this pin's types are to go first.
    const bool bPeer = (pass == 0) != (m_bTryMyTypesFirst != FALSE);
    ComPtr<IEnumMediaTypes> pEnum;
    HRESULT hr = bPeer ? pReceivePin->EnumMediaTypes(pEnum.Put()) : EnumMediaTypes(pEnum.Put());
    if (FAILED(hr) || !pEnum) continue;
    hr = TryMediaTypes(pReceivePin, pmt, pEnum.Get());
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsVagueRefusal(hr) && hr != VFW_E_NO_ACCEPTABLE_TYPES) hrFailure = hr;
  }
  return hrFailure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
  HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
  bool bResetOnce = false;
  for (;;) {
    AM_MEDIA_TYPE* pMediaType = nullptr;
    ULONG cFetched = 0;
    const HRESULT hrNext = pEnum->Next(1, &pMediaType, &cFetched);
    if (hrNext == VFW_E_ENUM_OUT_OF_SYNC && !bResetOnce) {
      // The pin's types changed under us: start over once.
      bResetOnce = true;
      pEnum->Reset();
      continue;
    }
    if (hrNext != S_OK || cFetched != 1 || pMediaType == nullptr) {
      if (pMediaType != nullptr) DeleteMediaType(pMediaType);
      return hrFailure;
    }
    HRESULT hr = S_OK;
    CMediaType mt(*pMediaType, &hr);
    DeleteMediaType(pMediaType);
    if (FAILED(hr)) return hr;
    if (pmt == nullptr || mt.MatchesPartial(pmt)) {
      hr = AttemptConnection(pReceivePin, &mt);
      if (SUCCEEDED(hr)) return S_OK;
      if (!IsVagueRefusal(hr)) hrFailure = hr;
    }
  }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
  HRESULT hr = CheckConnect(pReceivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    m_Connected = pReceivePin;
    m_Connected->AddRef();
    hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
    if (SUCCEEDED(hr)) {
      hr = SetMediaType(pmt);
      if (SUCCEEDED(hr)) hr = CompleteConnect(pReceivePin);
      if (SUCCEEDED(hr)) return S_OK;
      // The peer took the connection; give it back.
      pReceivePin->Disconnect();
    }
    m_Connected->Release();
    m_Connected = nullptr;
  } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  if (pConnector == nullptr || pmt == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;

  HRESULT hr = CheckConnect(pConnector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  CMediaType mt(*pmt, &hr);
  if (SUCCEEDED(hr)) hr = CheckMediaType(&mt);
  if (hr != S_OK) {
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
    BreakConnect();
    return hr;
  }
  m_Connected = pConnector;
  m_Connected->AddRef();
  hr = SetMediaType(&mt);
  if (SUCCEEDED(hr)) hr = CompleteConnect(pConnector);
  if (FAILED(hr)) {
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
  }
  return S_OK;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  if (m_Connected == nullptr) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected->Release();
  m_Connected = nullptr;
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
  if (pPin == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pPin = m_Connected;
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected == nullptr) {
    *pmt = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
  if (pInfo == nullptr) return E_POINTER;
  pInfo->pFilter = static_cast<IBaseFilter*>(m_pFilter);
  pInfo->pFilter->AddRef();
  pInfo->dir = m_dir;
  CAutoLock lock(&m_csName);
  CopyWideName(pInfo->achName, MAX_PIN_NAME, m_pName);
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (pPinDir == nullptr) return E_POINTER;
  *pPinDir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
  if (Id == nullptr) return E_POINTER;
  CAutoLock lock(&m_csName);
  *Id = TaskMemWideString(m_pName);
  return *Id == nullptr ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  CMediaType mt(*pmt, &hr);
  if (FAILED(hr)) return S_FALSE;
  // Any answer but S_OK is a refusal; a success code such as
  // VFW_S_NO_MORE_ITEMS would pass a caller's SUCCEEDED() test.
  return CheckMediaType(&mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  auto* pEnum = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (pEnum == nullptr) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  return GetInterface(static_cast<IEnumMediaTypes*>(pEnum), reinterpret_cast<void**>(ppEnum));
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin** apPin, ULONG* nPin) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::EndOfStream() { return S_OK; }

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  CAutoLock lock(m_pLock);
  m_tStart = tStart;
  m_tStop = tStop;
  m_dRate = dRate;
  m_bRunTimeError = FALSE;
  return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter* pSender, Quality q) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
  CAutoLock lock(m_pLock);
  m_pQSink = piqc;
  return S_OK;
}

LONG CBasePin::GetMediaTypeVersion() { return m_TypeVersion; }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() {
  m_bRunTimeError = FALSE;
  return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME tStart) { return S_OK; }

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) { return m_mt.Set(*pmt); }

HRESULT CBasePin::CheckConnect(IPin* pPin) {
  PIN_DIRECTION pd = PINDIR_INPUT;
  const HRESULT hr = pPin->QueryDirection(&pd);
  if (FAILED(hr)) return hr;
  return pd == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin* pReceivePin) { return S_OK; }

HRESULT CBasePin::GetMediaType(int iPosition, CMediaType* pMediaType) { return E_UNEXPECTED; }

}  // namespace flvdmx
