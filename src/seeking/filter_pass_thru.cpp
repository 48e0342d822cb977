#include "seeking/filter_pass_thru.h"

#include "diag/trace.h"
#include "seeking/filter_seeking_id.h"

namespace flvdmx {

CFilterPassThru::CFilterPassThru(IBaseFilter* pFilter, HRESULT* phr) : m_pFilter(pFilter) {
  if (pFilter == nullptr && phr != nullptr) *phr = E_POINTER;
}

CFilterPassThru::~CFilterPassThru() { m_pFilterSeeking = nullptr; }

HRESULT CFilterPassThru::QuerySeekingInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IMediaSeeking) return E_NOTIMPL;
  if (m_pFilterSeeking == nullptr && m_pFilter != nullptr) {
    IMediaSeeking* pSeeking = nullptr;
    if (SUCCEEDED(
            m_pFilter->QueryInterface(IID_IFilterSeeking, reinterpret_cast<void**>(&pSeeking))) &&
        pSeeking != nullptr) {
      // Kept without its reference (see the header): it lives as long as the
      // filter that owns this pin.
      m_pFilterSeeking = pSeeking;
      pSeeking->Release();
    }
  }
  if (m_pFilterSeeking == nullptr) return E_NOTIMPL;
  *ppv = static_cast<IMediaSeeking*>(this);
  AddRef();
  return S_OK;
}

HRESULT CFilterPassThru::GetPinPosition(LONGLONG* pllPosition, LONG lArg) { return E_FAIL; }

BOOL CFilterPassThru::DecideMainSeekingPin() { return m_bMainSeekingPin; }

STDMETHODIMP CFilterPassThru::GetCapabilities(DWORD* pCapabilities) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetCapabilities(pCapabilities) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::CheckCapabilities(DWORD* pCapabilities) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->CheckCapabilities(pCapabilities) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::IsFormatSupported(const GUID* pFormat) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->IsFormatSupported(pFormat) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::QueryPreferredFormat(GUID* pFormat) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->QueryPreferredFormat(pFormat) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::GetTimeFormat(GUID* pFormat) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetTimeFormat(pFormat) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::IsUsingTimeFormat(const GUID* pFormat) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->IsUsingTimeFormat(pFormat) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::SetTimeFormat(const GUID* pFormat) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->SetTimeFormat(pFormat) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::GetDuration(LONGLONG* pDuration) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetDuration(pDuration) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::GetStopPosition(LONGLONG* pStop) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetStopPosition(pStop) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::GetCurrentPosition(LONGLONG* pCurrent) {
  if (SUCCEEDED(GetPinPosition(pCurrent, 0))) return S_OK;
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetCurrentPosition(pCurrent) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                LONGLONG Source, const GUID* pSourceFormat) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr
             ? pSeeking->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat)
             : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                           LONGLONG* pStop, DWORD dwStopFlags) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  if (pSeeking == nullptr) return E_POINTER;
  if (!DecideMainSeekingPin()) return S_OK;
  return pSeeking->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
}

STDMETHODIMP CFilterPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetPositions(pCurrent, pStop) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetAvailable(pEarliest, pLatest) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::SetRate(double dRate) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  if (pSeeking == nullptr) return E_NOTIMPL;
  if (!DecideMainSeekingPin()) {
    Trace("\nPassThru_SetRate(%f) ignored, because I am not the main seeking pin", dRate);
    return S_OK;
  }
  return pSeeking->SetRate(dRate);
}

STDMETHODIMP CFilterPassThru::GetRate(double* pdRate) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetRate(pdRate) : E_NOTIMPL;
}

STDMETHODIMP CFilterPassThru::GetPreroll(LONGLONG* pllPreroll) {
  IMediaSeeking* pSeeking = m_pFilterSeeking;
  return pSeeking != nullptr ? pSeeking->GetPreroll(pllPreroll) : E_NOTIMPL;
}

}  // namespace flvdmx
