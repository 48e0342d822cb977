// CMediaSample: one buffer of a CMemAllocator seen as IMediaSample2: data
// pointer and size, actual length, start/stop and media times, the sync
// point / preroll / discontinuity flags, and an optional media type.
//
// Ownership: the allocator owns the sample object and its memory. A sample is
// lent out by GetBuffer with one reference; when the last reference goes, the
// sample clears its per-use state and returns itself to the allocator (which
// may then free it, so nothing touches the sample after that). The sample
// owns the media type attached to it. Not locked: one holder uses a sample at
// a time.
#pragma once

#include <atomic>

#include "platform/dshow.h"

namespace flvdmx {

class CMemAllocator;

class CMediaSample : public IMediaSample2 {
 public:
  CMediaSample(CMemAllocator* pAllocator, BYTE* pBuffer, LONG cbBuffer);
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;
  virtual ~CMediaSample();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  // At 0 the sample goes back to its allocator.
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  // VFW_E_SAMPLE_TIME_NOT_SET without a time; VFW_S_NO_STOP_TIME (stop =
  // start + 1) with a start time only.
  STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  // Null start clears both times; null end sets the start only.
  STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  // VFW_E_BUFFER_OVERFLOW for a length below 0 or above the buffer size.
  STDMETHODIMP SetActualDataLength(LONG lLen) override;
  // S_FALSE and null when no type is attached; else a task-allocated copy.
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
  // Null detaches the type.
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

  // IMediaSample2: up to sizeof(AM_SAMPLE2_PROPERTIES) bytes of the record.
  // The media type pointer given out is the sample's own.
  STDMETHODIMP GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
  STDMETHODIMP SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

  // For the allocator: fresh state for a new lending.
  void ResetForUse();
  LONG RefCount() const { return m_cRef; }

 private:
  void ClearState();

  CMemAllocator* const m_pAllocator;
  BYTE* const m_pBuffer;
  const LONG m_cbBuffer;
  std::atomic<LONG> m_cRef{0};
  DWORD m_dwFlags = 0;  // AM_SAMPLE_* bits
  DWORD m_dwTypeSpecificFlags = 0;
  DWORD m_dwStreamId = AM_STREAM_MEDIA;
  LONG m_lActual;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = 0;
  bool m_bMediaTimeValid = false;
  LONGLONG m_llMediaStart = 0;
  LONGLONG m_llMediaStop = 0;
  AM_MEDIA_TYPE* m_pMediaType = nullptr;
};

}  // namespace flvdmx
