// CSinkFilter: what a sink filter at the end of a graph needs beyond the base
// filter, so that a real graph manager treats it as a renderer:
//   - IAMFilterMiscFlags saying AM_FILTER_MISC_FLAGS_IS_RENDERER, so the
//     graph waits for its EC_COMPLETE;
//   - IMediaSeeking on the filter, passed on to the output pin that feeds the
//     sink's input pin: a graph applies IMediaSeeking calls to its renderers,
//     and the upstream filter answers them on its output pins.
// Subclasses name their input pin through SeekingInputPin.
//
// Ownership and lifetime: the seeking object is a member sharing the filter's
// reference count. It holds no reference on the upstream pin between calls:
// each call asks the connected pin afresh, so a reconnection is followed.
//
// Threads: seeking calls come from the application's thread; they never take
// the filter's locks.
#pragma once

#include "baseclasses/filter.h"
#include "platform/dshow.h"

namespace flvdmx {

class CSinkFilter : public CBaseFilter, public IAMFilterMiscFlags {
 public:
  CSinkFilter(const wchar_t* pName, CCritSec* pLock, REFCLSID clsid);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP_(ULONG) GetMiscFlags() override;

 protected:
  // The input pin whose upstream peer answers seeking, without a reference.
  virtual IPin* SeekingInputPin() = 0;

 private:
  class CUpstreamSeeking;
  friend class CUpstreamSeeking;

  // The connected upstream pin's IMediaSeeking, with a reference:
  // VFW_E_NOT_CONNECTED when the input pin is not connected, else what the
  // peer's QueryInterface answers.
  HRESULT GetUpstreamSeeking(IMediaSeeking** ppSeeking);

  class CUpstreamSeeking : public IMediaSeeking {
   public:
    explicit CUpstreamSeeking(CSinkFilter* pFilter) : m_pFilter(pFilter) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                              DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

   private:
    template <typename Call>
    HRESULT Forward(Call call);

    CSinkFilter* const m_pFilter;
  };

  CUpstreamSeeking m_Seeking{this};
};

}  // namespace flvdmx
