#include "seeking/seeking.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "diag/formatters.h"
#include "diag/trace.h"

namespace flvdmx {

namespace {

constexpr DWORD kPositioningMask = AM_SEEKING_PositioningBitsMask;
// A flag word that reads or writes through its pointer: any positioning
// mode, or the time asked back.
constexpr DWORD kNeedsPointer = AM_SEEKING_PositioningBitsMask | AM_SEEKING_ReturnTime;

bool IsKnownFormat(const GUID& format) {
  return format == TIME_FORMAT_FRAME || format == TIME_FORMAT_MEDIA_TIME;
}

// Positions come from callers; a sum that leaves the range saturates instead
// of wrapping into the opposite sign.
LONGLONG AddPositions(LONGLONG a, LONGLONG b) {
  constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
  constexpr LONGLONG kMin = std::numeric_limits<LONGLONG>::min();
  if (b > 0 && a > kMax - b) return kMax;
  if (b < 0 && a < kMin - b) return kMin;
  return a + b;
}

}  // namespace

STDMETHODIMP CSeeking::GetCapabilities(DWORD* pCapabilities) {
  if (pCapabilities == nullptr) return E_POINTER;
  *pCapabilities = kCapabilities;
  return S_OK;
}

STDMETHODIMP CSeeking::CheckCapabilities(DWORD* pCapabilities) {
  if (pCapabilities == nullptr) return E_POINTER;
  if ((*pCapabilities & ~kCapabilities) == 0) return S_OK;
  *pCapabilities &= kCapabilities;
  return *pCapabilities != 0 ? S_FALSE : E_FAIL;
}

STDMETHODIMP CSeeking::IsFormatSupported(const GUID* pFormat) {
  if (pFormat == nullptr) return E_POINTER;
  return IsKnownFormat(*pFormat) ? S_OK : S_FALSE;
}

STDMETHODIMP CSeeking::QueryPreferredFormat(GUID* pFormat) {
  if (pFormat == nullptr) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP CSeeking::GetTimeFormat(GUID* pFormat) {
  if (pFormat == nullptr) return E_POINTER;
  *pFormat = m_bMediaTime ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME;
  return S_OK;
}

STDMETHODIMP CSeeking::IsUsingTimeFormat(const GUID* pFormat) {
  if (pFormat == nullptr) return E_POINTER;
  const GUID& inUse = m_bMediaTime ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME;
  return *pFormat == inUse ? S_OK : S_FALSE;
}

STDMETHODIMP CSeeking::SetTimeFormat(const GUID* pFormat) {
  if (pFormat == nullptr) return E_POINTER;
  if (*pFormat == TIME_FORMAT_FRAME) {
    if (!m_bMediaTime) return S_OK;
    m_bMediaTime = FALSE;
    LONGLONG llCurrent = m_llCurrent;
    const HRESULT hr = ConvertTimeToFrame(llCurrent, &llCurrent);
    if (FAILED(hr)) {
      m_bMediaTime = TRUE;
      return hr;
    }
    m_llCurrent = llCurrent;
    LONGLONG llStop = m_llStop;
    if (SUCCEEDED(ConvertTimeToFrame(llStop, &llStop))) m_llStop = llStop;
    return S_OK;
  }
  if (*pFormat == TIME_FORMAT_MEDIA_TIME) {
    if (m_bMediaTime) return S_OK;
    m_bMediaTime = TRUE;
    LONGLONG llCurrent = m_llCurrent;
    if (SUCCEEDED(ConvertFrameToTime(llCurrent, &llCurrent))) m_llCurrent = llCurrent;
    LONGLONG llStop = m_llStop;
    if (SUCCEEDED(ConvertFrameToTime(llStop, &llStop))) m_llStop = llStop;
    return S_OK;
  }
  return E_FAIL;
}

STDMETHODIMP CSeeking::GetStopPosition(LONGLONG* pStop) {
  if (pStop == nullptr) return E_POINTER;
  *pStop = m_llStop;
  return S_OK;
}

STDMETHODIMP CSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                         LONGLONG Source, const GUID* pSourceFormat) {
  const GUID& inUse = m_bMediaTime ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME;
  const GUID& source = pSourceFormat != nullptr ? *pSourceFormat : inUse;
  if (!IsKnownFormat(source)) return E_INVALIDARG;
  const GUID& target = pTargetFormat != nullptr ? *pTargetFormat : inUse;
  if (!IsKnownFormat(target)) return E_INVALIDARG;
  if (pTarget == nullptr) return E_POINTER;
  if (source == target) {
    *pTarget = Source;
    return S_OK;
  }
  if (source == TIME_FORMAT_FRAME) return ConvertFrameToTime(Source, pTarget);
  return ConvertTimeToFrame(Source, pTarget);
}

HRESULT CSeeking::ToReferenceTime(LONGLONG llPosition, LONGLONG* pllTime) {
  if (m_bMediaTime) {
    *pllTime = llPosition;
    return S_OK;
  }
  return ConvertFrameToTime(llPosition, pllTime);
}

STDMETHODIMP CSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                    DWORD dwStopFlags) {
  if (TraceEnabled()) {
    Trace("\n+ SetPositions. Current=%s, CurrentFlags=%08X, Stop=%s, StopFlags=%d",
          FormatPosition(pCurrent), static_cast<unsigned>(dwCurrentFlags), FormatPosition(pStop),
          static_cast<int>(dwStopFlags));
  }
  if ((dwCurrentFlags & kNeedsPointer) != 0 && pCurrent == nullptr) return E_POINTER;
  if ((dwStopFlags & kNeedsPointer) != 0 && pStop == nullptr) return E_POINTER;

  const LONGLONG llOldStop = m_llStop;
  LONGLONG llHere = m_llCurrent;
  GetCurrentPosition(&llHere);  // a filter that cannot answer leaves the request

  LONGLONG llNewCurrent = llHere;
  switch (dwCurrentFlags & kPositioningMask) {
    case AM_SEEKING_NoPositioning:
      break;
    case AM_SEEKING_AbsolutePositioning:
      llNewCurrent = *pCurrent;
      break;
    case AM_SEEKING_RelativePositioning:
      llNewCurrent = AddPositions(llHere, *pCurrent);
      break;
    default:
      return E_INVALIDARG;  // incremental positioning needs a reference point
  }
  if ((dwCurrentFlags & AM_SEEKING_ReturnTime) != 0) {
    LONGLONG llTime = 0;
    const HRESULT hr = ToReferenceTime(llNewCurrent, &llTime);
    if (FAILED(hr)) return hr;
    *pCurrent = llTime;
  }

  LONGLONG llNewStop = llOldStop;
  switch (dwStopFlags & kPositioningMask) {
    case AM_SEEKING_NoPositioning:
      break;
    case AM_SEEKING_AbsolutePositioning:
      llNewStop = *pStop;
      break;
    case AM_SEEKING_RelativePositioning:
      llNewStop = AddPositions(llOldStop, *pStop);
      break;
    default:  // incremental: from the new current position
      llNewStop = AddPositions(llNewCurrent, *pStop);
      break;
  }
  if ((dwStopFlags & AM_SEEKING_ReturnTime) != 0) {
    LONGLONG llTime = 0;
    const HRESULT hr = ToReferenceTime(llNewStop, &llTime);
    if (FAILED(hr)) return hr;
    *pStop = llTime;
  }

  m_llStop = llNewStop;
  m_llCurrent = llNewCurrent;
  const BOOL bFlush = ((dwCurrentFlags | dwStopFlags) & AM_SEEKING_NoFlush) == 0;
  const HRESULT hr = UpdateCurrentPosition(bFlush);
  Trace("\n- SetPositions");
  return hr;
}

STDMETHODIMP CSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  GetCurrentPosition(pCurrent);
  return GetStopPosition(pStop);
}

STDMETHODIMP CSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) { return E_NOTIMPL; }

STDMETHODIMP CSeeking::SetRate(double dRate) {
  if (!IsRateSupported(dRate)) return E_INVALIDARG;
  if (dRate == m_dRate) return S_OK;
  Trace("\nCSeeking.SetRate(%f)", dRate);
  m_dRate = dRate;
  return UpdateCurrentPosition(TRUE);
}

STDMETHODIMP CSeeking::GetRate(double* pdRate) {
  if (pdRate == nullptr) return E_POINTER;
  *pdRate = m_dRate;
  return S_OK;
}

STDMETHODIMP CSeeking::GetPreroll(LONGLONG* pllPreroll) { return E_NOTIMPL; }

BOOL CSeeking::IsRateSupported(double dRate) { return dRate > 0.0 ? TRUE : FALSE; }

HRESULT CSeeking::GetSegment(LONGLONG* pllStart, LONGLONG* pllStop, double* pdRate) {
  if (pllStart == nullptr || pllStop == nullptr || pdRate == nullptr) return E_POINTER;
  const LONGLONG llCurrent = m_llCurrent;
  LONGLONG llStop = m_llStop;
  const double dRate = m_dRate;

  LONGLONG llStartTime = 0;
  HRESULT hr = ToReferenceTime(llCurrent, &llStartTime);
  if (FAILED(hr)) return hr;
  // Played backwards, a segment ends at the start of the file.
  if (dRate < 0.0 && llStop > llCurrent) llStop = 0;
  LONGLONG llStopTime = 0;
  hr = ToReferenceTime(llStop, &llStopTime);
  if (FAILED(hr)) return hr;

  *pllStart = llStartTime;
  *pllStop = llStopTime;
  *pdRate = dRate;
  const bool bSame = m_bSegmentValid && llStartTime == m_llSegmentStart &&
                     llStopTime == m_llSegmentStop && dRate == m_dSegmentRate;
  return bSame ? S_FALSE : S_OK;
}

HRESULT CSeeking::RecordNewSegment(FILTER_STATE state) {
  LONGLONG llStart = 0;
  LONGLONG llStop = 0;
  double dRate = 1.0;
  if (GetSegment(&llStart, &llStop, &dRate) != S_OK) return S_FALSE;
  if (state == State_Running) return S_OK;
  m_llSegmentStart = llStart;
  m_llSegmentStop = llStop;
  m_dSegmentRate = dRate;
  m_bSegmentValid = TRUE;
  return S_OK;
}

void CSeeking::ClearRecordedSegment() { m_bSegmentValid = FALSE; }

void CSeeking::ResetPositions() {
  m_bMediaTime = TRUE;
  m_llCurrent = 0;
  m_llCurrentTime = 0;
  m_llCurrentFrame = 0;
}

HRESULT CSeeking::QuerySeekingInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid != IID_IMediaSeeking) {
    *ppv = nullptr;
    return E_NOTIMPL;
  }
  *ppv = static_cast<IMediaSeeking*>(this);
  AddRef();
  return S_OK;
}

const char* CSeeking::FormatPosition(const LONGLONG* pPosition) {
  constexpr int kBuffers = 4;
  constexpr size_t kChars = 260;
  thread_local char s_Text[kBuffers][kChars];
  thread_local int s_iNext = 0;
  char* pText = s_Text[s_iNext];
  s_iNext = (s_iNext + 1) % kBuffers;

  if (pPosition == nullptr) {
    std::snprintf(pText, kChars, "(NULL)");
  } else if (!m_bMediaTime) {
    std::snprintf(pText, kChars, "%u frame", static_cast<unsigned>(*pPosition & 0xFFFFFFFF));
  } else if (*pPosition == kNoStopTime) {
    std::snprintf(pText, kChars, "MAX_INT64");
  } else if (*pPosition == std::numeric_limits<LONGLONG>::min() + 1) {
    std::snprintf(pText, kChars, "MIN_INT64");
  } else {
    std::snprintf(pText, kChars, "%s", FormatMilliseconds(*pPosition / 10000));
  }
  return pText;
}

}  // namespace flvdmx
