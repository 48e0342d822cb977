#include "host/sink_filter.h"

#include "base/com_ptr.h"

namespace flvdmx {

CSinkFilter::CSinkFilter(const wchar_t* pName, CCritSec* pLock, REFCLSID clsid)
    : CBaseFilter(pName, nullptr, pLock, clsid) {}

STDMETHODIMP CSinkFilter::QueryInterface(REFIID riid, void** ppv) {
  return CBaseFilter::QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CSinkFilter::AddRef() { return CBaseFilter::AddRef(); }
STDMETHODIMP_(ULONG) CSinkFilter::Release() { return CBaseFilter::Release(); }

STDMETHODIMP CSinkFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IAMFilterMiscFlags)
    return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(&m_Seeking), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CSinkFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

HRESULT CSinkFilter::GetUpstreamSeeking(IMediaSeeking** ppSeeking) {
  *ppSeeking = nullptr;
  IPin* pInput = SeekingInputPin();
  ComPtr<IPin> pPeer;
  if (pInput == nullptr || FAILED(pInput->ConnectedTo(pPeer.Put())) || !pPeer)
    return VFW_E_NOT_CONNECTED;
  return pPeer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppSeeking));
}

template <typename Call>
HRESULT CSinkFilter::CUpstreamSeeking::Forward(Call call) {
  ComPtr<IMediaSeeking> pSeeking;
  const HRESULT hr = m_pFilter->GetUpstreamSeeking(pSeeking.Put());
  if (FAILED(hr)) return hr;
  return call(pSeeking.Get());
}

STDMETHODIMP CSinkFilter::CUpstreamSeeking::QueryInterface(REFIID riid, void** ppv) {
  return m_pFilter->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CSinkFilter::CUpstreamSeeking::AddRef() { return m_pFilter->AddRef(); }
STDMETHODIMP_(ULONG) CSinkFilter::CUpstreamSeeking::Release() { return m_pFilter->Release(); }

STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetCapabilities(DWORD* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetCapabilities(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::CheckCapabilities(DWORD* p) {
  return Forward([&](IMediaSeeking* s) { return s->CheckCapabilities(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::IsFormatSupported(const GUID* p) {
  return Forward([&](IMediaSeeking* s) { return s->IsFormatSupported(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::QueryPreferredFormat(GUID* p) {
  return Forward([&](IMediaSeeking* s) { return s->QueryPreferredFormat(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetTimeFormat(GUID* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetTimeFormat(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::IsUsingTimeFormat(const GUID* p) {
  return Forward([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::SetTimeFormat(const GUID* p) {
  return Forward([&](IMediaSeeking* s) { return s->SetTimeFormat(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetDuration(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetDuration(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetStopPosition(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetStopPosition(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetCurrentPosition(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetCurrentPosition(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::ConvertTimeFormat(LONGLONG* pTarget,
                                                              const GUID* pTargetFormat,
                                                              LONGLONG Source,
                                                              const GUID* pSourceFormat) {
  return Forward([&](IMediaSeeking* s) {
    return s->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat);
  });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                                         LONGLONG* pStop, DWORD dwStopFlags) {
  return Forward([&](IMediaSeeking* s) {
    return s->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
  });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  return Forward([&](IMediaSeeking* s) { return s->GetPositions(pCurrent, pStop); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  return Forward([&](IMediaSeeking* s) { return s->GetAvailable(pEarliest, pLatest); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::SetRate(double dRate) {
  return Forward([&](IMediaSeeking* s) { return s->SetRate(dRate); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetRate(double* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetRate(p); });
}
STDMETHODIMP CSinkFilter::CUpstreamSeeking::GetPreroll(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetPreroll(p); });
}

}  // namespace flvdmx
