// CSeeking: the filter-level IMediaSeeking of a demultiplexer. It keeps the
// requested start and stop positions, the rate and the time format, checks
// and combines SetPositions arguments, converts between frames and media
// time, answers the capability and format queries, and produces the segment
// (start, stop, rate) the output pins announce before they deliver.
// Repositioning itself is the format filter's: every accepted position or
// rate change ends in its UpdateCurrentPosition hook.
//
// A format filter derives from its CBaseDmx and from CSeeking, answers
// IID_IFilterSeeking (filter_seeking_id.h) with QuerySeekingInterface, and
// supplies the abstract members:
//   - the IUnknown three, delegating to the filter's outer unknown, so the
//     seeking object shares the filter's identity and reference count;
//   - GetDuration and GetCurrentPosition, in the time format in use;
//   - the hooks UpdateCurrentPosition, ConvertFrameToTime, ConvertTimeToFrame.
// IsRateSupported and GetSegment have defaults and are normally kept.
//
// Ownership and lifetime: a base of the filter object; it holds nothing.
//
// Locks: none of its own. Application threads call the IMediaSeeking methods;
// delivery threads call GetSegment and write m_llCurrentTime and
// m_llCurrentFrame. The fields are atomics so that these accesses are
// well-defined without a lock; a change of position is made effective only by
// UpdateCurrentPosition, which the filter runs under its filter lock (that
// also serialises RecordNewSegment).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/com.h"
#include "platform/dshow.h"

namespace flvdmx {

// Reference time meaning "no stop": play to the end.
inline constexpr LONGLONG kNoStopTime = 0x7FFFFFFFFFFFFFFFLL;

class CSeeking : public IMediaSeeking {
 public:
  // The seeking capabilities reported: absolute, forwards, backwards, current
  // position, stop position, duration. Never backwards play, segments, source.
  static constexpr DWORD kCapabilities = 0x3F;

  CSeeking() = default;
  CSeeking(const CSeeking&) = delete;
  CSeeking& operator=(const CSeeking&) = delete;

  // IMediaSeeking. Null out-pointers give E_POINTER (GetPositions passes its
  // current pointer to GetCurrentPosition and ignores that result).
  STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
  // S_OK when every requested bit is supported; otherwise the value is masked
  // in place: S_FALSE when some bits remain, E_FAIL when none.
  STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
  // S_OK for TIME_FORMAT_FRAME and TIME_FORMAT_MEDIA_TIME, else S_FALSE.
  STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
  STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
  STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
  // Converts the requested positions in place. Switching to frames fails
  // (format unchanged) when ConvertTimeToFrame cannot convert the start.
  // E_FAIL for any other format.
  STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
  // A null format means the format in use; other formats E_INVALIDARG. A null
  // target is E_POINTER.
  STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                 const GUID* pSourceFormat) override;
  // Combines the flags and values into new positions, stores them and returns
  // UpdateCurrentPosition's result (flush FALSE when either flag word has
  // AM_SEEKING_NoFlush). E_POINTER when a flag word positions or asks for the
  // time back without a pointer; E_INVALIDARG for incremental positioning of
  // the current position; a conversion failure for AM_SEEKING_ReturnTime in
  // frame format. Nothing is stored when it fails before UpdateCurrentPosition.
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                            DWORD dwStopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;  // E_NOTIMPL
  // E_INVALIDARG when IsRateSupported refuses; S_OK without further action for
  // the rate in use; else stores it and returns UpdateCurrentPosition(TRUE).
  STDMETHODIMP SetRate(double dRate) override;
  STDMETHODIMP GetRate(double* pdRate) override;
  STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;  // E_NOTIMPL

  // Required (not defined here): GetDuration and GetCurrentPosition answer in
  // the time format in use.

  // Hooks, in slot order.

  // Required. Called (on the caller's thread, no lock held by CSeeking) after
  // every accepted SetPositions or changed rate, with m_llCurrent, m_llStop
  // and m_dRate already stored. Applies them to streaming; bFlush is FALSE
  // when the caller asked for AM_SEEKING_NoFlush. The result becomes the
  // result of SetPositions or SetRate. The filter takes its filter lock here
  // and calls RecordNewSegment to skip a request that changes nothing.
  virtual HRESULT UpdateCurrentPosition(BOOL bFlush) = 0;
  // Required. Frame number to reference time, and back. Called from any
  // thread that converts (application threads, and delivery threads through
  // GetSegment in frame format). A failure refuses the conversion.
  virtual HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) = 0;
  virtual HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) = 0;
  // Optional: TRUE exactly for rates above 0.0 (NaN refused).
  virtual BOOL IsRateSupported(double dRate);
  // Optional, normally kept. The segment the output pins announce: start and
  // stop as reference times, and the rate. S_FALSE when it equals the one
  // RecordNewSegment recorded; else S_OK; or a conversion failure. Called by
  // the delivery threads without a lock.
  virtual HRESULT GetSegment(LONGLONG* pllStart, LONGLONG* pllStop, double* pdRate);

  // S_FALSE when the current segment is the recorded one (or cannot be
  // computed): nothing new. Otherwise S_OK, and the segment is recorded unless
  // the filter is running, so that while running every request is applied.
  // Called under the filter lock.
  HRESULT RecordNewSegment(FILTER_STATE state);
  // Forgets the recorded segment, so the next request is applied. The filter
  // calls it before each Stop, Pause and Run.
  void ClearRecordedSegment();
  // Media time, start 0, current position 0; the rate stays. Called after a
  // new input was parsed (the filter then sets m_llStop to its duration).
  void ResetPositions();
  // For the filter's NonDelegatingQueryInterface when asked for
  // IID_IFilterSeeking (it passes IID_IMediaSeeking): this object's
  // IMediaSeeking with a reference added. E_POINTER for null ppv, E_NOTIMPL
  // for any other identity.
  HRESULT QuerySeekingInterface(REFIID riid, void** ppv);
  // One position as trace text: "(NULL)", "%u frame", "MAX_INT64",
  // "MIN_INT64", or milliseconds (empty while tracing is off). Four buffers
  // rotate per thread, so up to four results fit in one trace call.
  const char* FormatPosition(const LONGLONG* pPosition);

  // Current position as a reference time and as a frame number: set by
  // UpdateCurrentPosition and by the delivery loops with each sample.
  std::atomic<LONGLONG> m_llCurrentTime{0};
  std::atomic<LONGLONG> m_llCurrentFrame{0};
  // 1: TIME_FORMAT_MEDIA_TIME; 0: TIME_FORMAT_FRAME. m_llCurrent and m_llStop
  // are always in this format.
  std::atomic<BOOL> m_bMediaTime{TRUE};
  std::atomic<LONGLONG> m_llCurrent{0};
  std::atomic<LONGLONG> m_llStop{kNoStopTime};
  std::atomic<double> m_dRate{1.0};
  // The segment RecordNewSegment recorded last (reference times).
  std::atomic<LONGLONG> m_llSegmentStart{0};
  std::atomic<LONGLONG> m_llSegmentStop{0};
  std::atomic<double> m_dSegmentRate{1.0};
  std::atomic<BOOL> m_bSegmentValid{FALSE};

 protected:
  // Deleted only as part of the filter object.
  ~CSeeking() = default;

 private:
  // A position in the format in use as a reference time.
  HRESULT ToReferenceTime(LONGLONG llPosition, LONGLONG* pllTime);
};

}  // namespace flvdmx
