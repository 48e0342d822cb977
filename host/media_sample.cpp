#include "host/media_sample.h"

#include <cstddef>
#include <cstring>

#include "baseclasses/mediatype.h"
#include "host/allocator.h"

namespace flvdmx {

CMediaSample::CMediaSample(CMemAllocator* pAllocator, BYTE* pBuffer, LONG cbBuffer)
    : m_pAllocator(pAllocator), m_pBuffer(pBuffer), m_cbBuffer(cbBuffer), m_lActual(cbBuffer) {}

CMediaSample::~CMediaSample() {
  if (m_pMediaType != nullptr) DeleteMediaType(m_pMediaType);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMediaSample || riid == IID_IMediaSample2) {
    *ppv = static_cast<IMediaSample2*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() { return static_cast<ULONG>(++m_cRef); }

STDMETHODIMP_(ULONG) CMediaSample::Release() {
  const LONG lRef = --m_cRef;
  if (lRef == 0) {
    ClearState();
    // May free this sample: nothing of it is touched afterwards.
    m_pAllocator->ReleaseBuffer(this);
  }
  return static_cast<ULONG>(lRef);
}

void CMediaSample::ClearState() {
  m_dwFlags = 0;
  m_dwTypeSpecificFlags = 0;
  m_dwStreamId = AM_STREAM_MEDIA;
  m_bMediaTimeValid = false;
  if (m_pMediaType != nullptr) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
}

void CMediaSample::ResetForUse() {
  ClearState();
  m_lActual = m_cbBuffer;
  m_cRef = 1;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
  if (ppBuffer == nullptr) return E_POINTER;
  *ppBuffer = m_pBuffer;
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() { return m_cbBuffer; }

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
  if ((m_dwFlags & AM_SAMPLE_TIMEVALID) == 0) return VFW_E_SAMPLE_TIME_NOT_SET;
  *pTimeStart = m_tStart;
  if ((m_dwFlags & AM_SAMPLE_STOPVALID) == 0) {
    *pTimeEnd = m_tStart + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *pTimeEnd = m_tStop;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  m_dwFlags &= ~static_cast<DWORD>(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
  if (pTimeStart == nullptr) return S_OK;
  m_tStart = *pTimeStart;
  m_dwFlags |= AM_SAMPLE_TIMEVALID;
  if (pTimeEnd != nullptr) {
    m_tStop = *pTimeEnd;
    m_dwFlags |= AM_SAMPLE_STOPVALID;
  }
  return S_OK;
}

namespace {

HRESULT TestFlag(DWORD dwFlags, DWORD dwBit) { return (dwFlags & dwBit) != 0 ? S_OK : S_FALSE; }

void ChangeFlag(DWORD* pdwFlags, DWORD dwBit, BOOL bSet) {
  if (bSet)
    *pdwFlags |= dwBit;
  else
    *pdwFlags &= ~dwBit;
}

}  // namespace

STDMETHODIMP CMediaSample::IsSyncPoint() { return TestFlag(m_dwFlags, AM_SAMPLE_SPLICEPOINT); }
STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
  ChangeFlag(&m_dwFlags, AM_SAMPLE_SPLICEPOINT, bIsSyncPoint);
  return S_OK;
}
STDMETHODIMP CMediaSample::IsPreroll() { return TestFlag(m_dwFlags, AM_SAMPLE_PREROLL); }
STDMETHODIMP CMediaSample::SetPreroll(BOOL bIsPreroll) {
  ChangeFlag(&m_dwFlags, AM_SAMPLE_PREROLL, bIsPreroll);
  return S_OK;
}
STDMETHODIMP CMediaSample::IsDiscontinuity() {
  return TestFlag(m_dwFlags, AM_SAMPLE_DATADISCONTINUITY);
}
STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
  ChangeFlag(&m_dwFlags, AM_SAMPLE_DATADISCONTINUITY, bDiscontinuity);
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() { return m_lActual; }

STDMETHODIMP CMediaSample::SetActualDataLength(LONG lLen) {
  if (lLen < 0 || lLen > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = lLen;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
  if (ppMediaType == nullptr) return E_POINTER;
  *ppMediaType = nullptr;
  if (m_pMediaType == nullptr) return S_FALSE;
  *ppMediaType = CreateMediaType(m_pMediaType);
  return *ppMediaType == nullptr ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
  AM_MEDIA_TYPE* pCopy = nullptr;
  if (pMediaType != nullptr) {
    pCopy = CreateMediaType(pMediaType);
    if (pCopy == nullptr) return E_OUTOFMEMORY;
  }
  if (m_pMediaType != nullptr) DeleteMediaType(m_pMediaType);
  m_pMediaType = pCopy;
  ChangeFlag(&m_dwFlags, AM_SAMPLE_TYPECHANGED, pCopy != nullptr);
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
  if (!m_bMediaTimeValid) return VFW_E_MEDIA_TIME_NOT_SET;
  *pTimeStart = m_llMediaStart;
  *pTimeEnd = m_llMediaStop;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (pTimeStart == nullptr) {
    m_bMediaTimeValid = false;
    return S_OK;
  }
  if (pTimeEnd == nullptr) return E_POINTER;
  m_llMediaStart = *pTimeStart;
  m_llMediaStop = *pTimeEnd;
  m_bMediaTimeValid = true;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
  if (cbProperties == 0) return S_OK;
  if (pbProperties == nullptr) return E_POINTER;
  if (cbProperties > sizeof(AM_SAMPLE2_PROPERTIES)) return E_INVALIDARG;
  AM_SAMPLE2_PROPERTIES props{};
  props.cbData = cbProperties;
  props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
  props.dwSampleFlags = m_dwFlags;
  props.lActual = m_lActual;
  props.tStart = m_tStart;
  props.tStop = m_tStop;
  props.dwStreamId = m_dwStreamId;
  props.pMediaType = m_pMediaType;
  props.pbBuffer = m_pBuffer;
  props.cbBuffer = m_cbBuffer;
  std::memcpy(pbProperties, &props, cbProperties);
  return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
  if (pbProperties == nullptr) return E_POINTER;
  // At least the flags must be there; the rest is optional from the end.
  if (cbProperties < offsetof(AM_SAMPLE2_PROPERTIES, lActual) ||
      cbProperties > sizeof(AM_SAMPLE2_PROPERTIES))
    return E_INVALIDARG;
  AM_SAMPLE2_PROPERTIES props{};
  GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
  std::memcpy(&props, pbProperties, cbProperties);
  if (props.pbBuffer != m_pBuffer || props.cbBuffer != m_cbBuffer) return E_INVALIDARG;
  if (props.lActual < 0 || props.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;

  AM_MEDIA_TYPE* pNewType = m_pMediaType;
  const bool bTypeChanged = (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0;
  if (!bTypeChanged) {
    pNewType = nullptr;
  } else if (props.pMediaType != m_pMediaType) {
    if (props.pMediaType == nullptr) return E_INVALIDARG;
    pNewType = CreateMediaType(props.pMediaType);
    if (pNewType == nullptr) return E_OUTOFMEMORY;
  }
  if (pNewType != m_pMediaType && m_pMediaType != nullptr) DeleteMediaType(m_pMediaType);
  m_pMediaType = pNewType;
  m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
  m_dwFlags = props.dwSampleFlags;
  m_lActual = props.lActual;
  m_tStart = props.tStart;
  m_tStop = props.tStop;
  m_dwStreamId = props.dwStreamId;
  return S_OK;
}

}  // namespace flvdmx
