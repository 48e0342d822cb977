// CFilterPassThru: the IMediaSeeking that every demultiplexer output pin
// carries. Renderers and applications seek through the pins; each call goes
// on to the filter's own seeking object (CSeeking), which the pass-through
// asks the filter for under IID_IFilterSeeking. Of the pins of one filter,
// only the main seeking pin passes on the calls that change the position or
// the rate (SetPositions, SetRate), so that a seek seen on every stream is
// applied once; every other call is forwarded from any pin.
//
// The output pin derives from it (first base) and supplies the IUnknown three
// by delegating to its own non-delegating unknown; the pin answers
// DecideMainSeekingPin when a position or rate call arrives.
//
// Ownership and lifetime: lives inside the pin. m_pFilter is the owning
// filter, without a reference. m_pFilterSeeking is the filter's seeking
// object, also held without a reference: it shares the filter's reference
// count, and the filter holds its pins, so a reference here would keep the
// filter alive through its own pins. Like every pin call that reaches the
// filter, it must not be used after the filter is gone.
//
// Locks: none. Calls arrive on application threads and are forwarded without
// any lock held.
#pragma once

#include <atomic>

#include "platform/com.h"
#include "platform/dshow.h"

namespace flvdmx {

class CFilterPassThru : public IMediaSeeking {
 public:
  // A null filter sets *phr to E_POINTER; the object is built all the same.
  CFilterPassThru(IBaseFilter* pFilter, HRESULT* phr);
  CFilterPassThru(const CFilterPassThru&) = delete;
  CFilterPassThru& operator=(const CFilterPassThru&) = delete;

  // IMediaSeeking. Without the filter's seeking object every method answers
  // E_NOTIMPL, except SetPositions (E_POINTER).
  STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
  STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
  STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
  // Forwarded from every pin, main or not.
  STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
  // GetPinPosition first; when that fails, forwarded.
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                 const GUID* pSourceFormat) override;
  // Main seeking pin: forwarded. Another pin: S_OK, nothing done.
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                            DWORD dwStopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
  // Main seeking pin: forwarded. Another pin: traced and S_OK.
  STDMETHODIMP SetRate(double dRate) override;
  STDMETHODIMP GetRate(double* pdRate) override;
  STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

  virtual ~CFilterPassThru();

  // Hook: the pin's own current position (lArg is 0 from the only caller).
  // Optional; the default answers E_FAIL, so the filter's position is used.
  virtual HRESULT GetPinPosition(LONGLONG* pllPosition, LONG lArg);
  // Hook: whether this pin applies SetPositions and SetRate, asked as each
  // such call arrives, so that an interface kept across a connection change
  // follows the filter's current choice. The default answers the flag.
  virtual BOOL DecideMainSeekingPin();

  // For the pin's NonDelegatingQueryInterface. E_POINTER for null ppv (else
  // *ppv is cleared first); E_NOTIMPL for an identity other than
  // IID_IMediaSeeking, or when the filter has no seeking object; otherwise
  // this object's IMediaSeeking with a reference added. The filter's seeking
  // object is fetched on the first call that succeeds.
  HRESULT QuerySeekingInterface(REFIID riid, void** ppv);

  BOOL IsMainSeekingPin() const { return m_bMainSeekingPin; }

 protected:
  // Set once, by the first lookup that finds it; read by every forwarded call.
  std::atomic<IMediaSeeking*> m_pFilterSeeking{nullptr};
  IBaseFilter* const m_pFilter;
  // Written by the pin's interface lookup and by DecideMainSeekingPin.
  std::atomic<BOOL> m_bMainSeekingPin{TRUE};
};

}  // namespace flvdmx
