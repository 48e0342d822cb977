#include "baseclasses/filter.h"

#include <cwchar>
#include <new>

#include "baseclasses/enum_pins.h"
#include "baseclasses/pin.h"
#include "baseclasses/wide_string.h"

namespace flvdmx {

namespace {

// The mapper's "file not found" when the filter was never registered.
constexpr HRESULT kNotRegistered = static_cast<HRESULT>(0x80070002u);

}  // namespace

CBaseFilter::CBaseFilter(const wchar_t* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid,
                         HRESULT* phr)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() { delete[] m_pName; }

STDMETHODIMP CBaseFilter::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CBaseFilter::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CBaseFilter::Release() { return GetOwner()->Release(); }

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
    return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
  if (pClsID == nullptr) return E_POINTER;
  *pClsID = m_clsid;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hrFirst = S_OK;
  if (m_State != State_Stopped) {
    const int cPins = GetPinCount();
    for (int i = 0; i < cPins; ++i) {
      CBasePin* pPin = GetPin(i);
      if (pPin == nullptr || !pPin->IsConnected()) continue;
      const HRESULT hr = pPin->Inactive();
      if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
    }
  }
  m_State = State_Stopped;
  return hrFirst;
}

STDMETHODIMP CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    const int cPins = GetPinCount();
    for (int i = 0; i < cPins; ++i) {
      CBasePin* pPin = GetPin(i);
      if (pPin == nullptr || !pPin->IsConnected()) continue;
      const HRESULT hr = pPin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Paused;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(m_pLock);
  m_tStart = tStart;
  if (m_State == State_Stopped) {
    // Virtual: a subclass's Pause does its own part of leaving Stopped.
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    const int cPins = GetPinCount();
    for (int i = 0; i < cPins; ++i) {
      CBasePin* pPin = GetPin(i);
      if (pPin == nullptr || !pPin->IsConnected()) continue;
      const HRESULT hr = pPin->Run(tStart);
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Running;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
  if (State == nullptr) return E_POINTER;
  *State = m_State;
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
  CAutoLock lock(m_pLock);
  m_pClock = ComPtr<IReferenceClock>(pClock);
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
  if (pClock == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pClock = ComPtr<IReferenceClock>(m_pClock).Detach();
  return S_OK;
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* prtStream) {
  if (prtStream == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_pClock) return VFW_E_NO_CLOCK;
  REFERENCE_TIME rtNow = 0;
  const HRESULT hr = m_pClock->GetTime(&rtNow);
  if (FAILED(hr)) return hr;
  *prtStream = rtNow - m_tStart;
  return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion; }

void CBaseFilter::IncrementPinVersion() { ++m_PinVersion; }

const AMOVIESETUP_FILTER* CBaseFilter::GetSetupData() { return nullptr; }

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  auto* pEnum = new (std::nothrow) CEnumPins(this, nullptr);
  if (pEnum == nullptr) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  return GetInterface(static_cast<IEnumPins*>(pEnum), reinterpret_cast<void**>(ppEnum));
}

IPin* CBaseFilter::AcquirePin(int n) {
  CBasePin* pPin = GetPin(n);
  if (pPin == nullptr) return nullptr;
  pPin->AddRef();
  return static_cast<IPin*>(pPin);
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  if (ppPin == nullptr) return E_POINTER;
  *ppPin = nullptr;
  if (Id == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  const int cPins = GetPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBasePin* pPin = GetPin(i);
    if (pPin == nullptr || pPin->Name() == nullptr) continue;
    if (std::wcscmp(pPin->Name(), Id) == 0)
      return GetInterface(static_cast<IPin*>(pPin), reinterpret_cast<void**>(ppPin));
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
  if (pInfo == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  CopyWideName(pInfo->achName, MAX_FILTER_NAME, m_pName);
  pInfo->pGraph = m_pGraph;
  if (m_pGraph != nullptr) m_pGraph->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
  CAutoLock lock(m_pLock);
  // No references: the graph holds the filter, and the sink is the graph.
  m_pGraph = pGraph;
  m_pSink = nullptr;
  if (pGraph != nullptr) {
    IMediaEventSink* pSink = nullptr;
    if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink))) &&
        pSink != nullptr) {
      m_pSink = pSink;
      pSink->Release();
    }
  }
  delete[] m_pName;
  m_pName = nullptr;
  if (pName != nullptr) {
    m_pName = DuplicateWideString(pName);
    if (m_pName == nullptr) return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  IMediaEventSink* pSink = m_pSink;
  if (pSink == nullptr) return E_NOTIMPL;
  if (EventCode == EC_COMPLETE)
    EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return pSink->Notify(EventCode, EventParam1, EventParam2);
}

STDMETHODIMP CBaseFilter::Register() {
  const AMOVIESETUP_FILTER* pSetup = GetSetupData();
  if (pSetup == nullptr) return S_FALSE;
  ComPtr<IFilterMapper2> pMapper;
  const HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IFilterMapper2, reinterpret_cast<void**>(pMapper.Put()));
  if (FAILED(hr)) return hr;
  REGFILTER2 rf2{};
  rf2.dwVersion = 1;
  rf2.dwMerit = pSetup->dwMerit;
  rf2.cPins = pSetup->nPins;
  rf2.rgPins = pSetup->lpPin;
  return pMapper->RegisterFilter(*pSetup->clsID, pSetup->strName, nullptr, nullptr, nullptr, &rf2);
}

STDMETHODIMP CBaseFilter::Unregister() {
  const AMOVIESETUP_FILTER* pSetup = GetSetupData();
  if (pSetup == nullptr) return S_FALSE;
  ComPtr<IFilterMapper2> pMapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(pMapper.Put()));
  if (FAILED(hr)) return hr;
  hr = pMapper->UnregisterFilter(nullptr, nullptr, *pSetup->clsID);
  return hr == kNotRegistered ? S_OK : hr;
}

}  // namespace flvdmx
