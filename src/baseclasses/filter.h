// CBaseFilter: the filter object of the base layer. It does the COM plumbing
// of IBaseFilter and IAMovieSetup: state changes fanned out to the connected
// pins, the clock, graph membership, pin enumeration and lookup by name, and
// event notification. A subclass supplies its pins through GetPinCount and
// GetPin and may override the state changes (calling these for the base
// part).
//
// Ownership: holds one reference on the clock; the graph and its event sink
// are held without a reference (the graph owns the filter, not the reverse).
// The state lock belongs to the subclass, which passes it in and keeps it
// alive for the filter's lifetime; the same lock is every pin's lock.
//
// Locks: Stop, Pause, Run, JoinFilterGraph and the clock calls hold the state
// lock. GetState reads the state without it, so it answers at once. The pin
// version changes atomically.
#pragma once

#include <atomic>

#include "base/com_ptr.h"
#include "baseclasses/critsec.h"
#include "baseclasses/unknown.h"
#include "platform/dshow.h"

namespace flvdmx {

class CBasePin;

// What IAMovieSetup::Register tells the filter mapper: class, name, merit and
// the pins (REGFILTER2 version 1).
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const REGFILTERPINS* lpPin;
};

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // pLock: the state lock, owned by the subclass. phr is not changed; it is
  // there for subclasses that report construction failures.
  CBaseFilter(const wchar_t* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid,
              HRESULT* phr = nullptr);
  ~CBaseFilter() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IBaseFilter, IMediaFilter, IPersist, IAMovieSetup; then CUnknown's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* pClsID) override;

  // IMediaFilter. Stop inactivates every connected pin in GetPin order, goes
  // on past a failure and returns the first one. Pause activates the
  // connected pins when leaving Stopped; the first failure is returned and the
  // state stays. Run pauses first (through the virtual Pause) when stopped,
  // then passes Run to every connected pin unless already running.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  // The state at once, whatever the timeout.
  STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
  // Exact, case-sensitive name match, first in GetPin order; else
  // VFW_E_NOT_FOUND with *ppPin null.
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

  // IAMovieSetup: through the filter mapper from GetSetupData; S_FALSE when
  // there is none.
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  // Hooks, in slot order.
  // Clock time minus the start time given to Run; VFW_E_NO_CLOCK without a
  // clock.
  virtual HRESULT StreamTime(REFERENCE_TIME* prtStream);
  // Enumerators remember it and go out of sync when it changes.
  virtual LONG GetPinVersion();
  // Required: the number of pins and pin n (0-based), without a reference;
  // null for a number out of range. Called under the state lock by the state
  // changes, and without it by enumerators and FindPin.
  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;
  // Pin n with a reference for the caller, or null. Enumerators use it so
  // that a filter whose pins come and go can take the reference under the
  // lock that guards its pin table. The default is GetPin, then AddRef.
  virtual IPin* AcquirePin(int n);
  // Optional: registration data; null (the default) means nothing to register.
  virtual const AMOVIESETUP_FILTER* GetSetupData();

  // Call whenever the set of pins changes.
  void IncrementPinVersion();
  // To the graph's event sink; for EC_COMPLETE the second parameter becomes
  // this filter. E_NOTIMPL when the filter is in no graph (or it has no sink).
  HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

  BOOL IsStopped() const { return m_State == State_Stopped; }
  FILTER_STATE GetFilterState() const { return m_State; }
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  IMediaEventSink* GetEventSink() const { return m_pSink; }
  // The name given by JoinFilterGraph, or null.
  LPCWSTR GetName() const { return m_pName; }

 protected:
  std::atomic<FILTER_STATE> m_State{State_Stopped};
  ComPtr<IReferenceClock> m_pClock;
  REFERENCE_TIME m_tStart = 0;
  CLSID m_clsid;
  CCritSec* const m_pLock;
  WCHAR* m_pName = nullptr;
  IFilterGraph* m_pGraph = nullptr;
  IMediaEventSink* m_pSink = nullptr;
  std::atomic<LONG> m_PinVersion{1};
};

}  // namespace flvdmx
