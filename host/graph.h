// CHostGraph: the minimal filter graph the host supplies where the platform's
// is missing. It holds the filters, connects pins through the ordinary
// IPin::Connect protocol, moves every filter through Stop, Pause and Run with
// the most downstream filters first (sinks, then the filters feeding them,
// then the sources), and is the filters' IMediaEventSink:
//   - EC_COMPLETE from a sink is counted; once every sink of the run has
//     reported, the graph posts one EC_COMPLETE for the application;
//   - EC_ERRORABORT, EC_USERABORT and EC_ERRORABORTEX end the wait at once,
//     and take the place of a completion not yet taken;
//   - every event is queued for GetEvent (the oldest are dropped beyond
//     kMaxQueuedEvents).
// A sink is a filter with a connected input pin and no connected output pin,
// counted when the graph leaves Stopped. Seeking reaches the output pin that
// feeds the first sink (GetSeeking); SetPositions through the graph also
// restarts the completion count when the seek flushes (a seek without flush
// does not restart streams that have ended, so their completion stands). A
// sink that ends its stream just as a flushing seek begins may still be
// counted for the old run. There is no reference clock: every filter runs
// with none and start time 0.
//
// Ownership and lifetime: made with one reference (Create); holds one
// reference on every filter it holds. Filters point back at the graph without
// a reference. The last Release stops the graph, disconnects every pin and
// lets go of the filters.
//
// Threads and locks: the application's thread makes the calls that change
// the graph (filters, connections, state, seeking) under the graph lock,
// which is recursive because filters call back into the graph (a demultiplexer
// disconnects its output pins through Disconnect while its input pin
// disconnects). Notify comes from any thread, streaming threads included,
// and takes only the event lock, never the graph lock: the graph lock is held
// while a filter stops its threads, and those threads may be notifying.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "platform/dshow.h"

namespace flvdmx {

class CHostGraph final : public IFilterGraph, public IMediaEventSink {
 public:
  static constexpr size_t kMaxQueuedEvents = 1000;

  struct Event {
    LONG lCode;
    LONG_PTR lParam1;
    LONG_PTR lParam2;
  };

  // E_POINTER, E_OUTOFMEMORY.
  static HRESULT Create(CHostGraph** ppGraph);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IFilterGraph. AddFilter: only while stopped (VFW_E_NOT_STOPPED); a null
  // name becomes "Filter", a name in use gets " 0001", " 0002", ...;
  // E_INVALIDARG for a filter already held. RemoveFilter: only while
  // stopped; disconnects the filter's pins first; VFW_E_NOT_FOUND for a
  // filter not held. ConnectDirect: only while stopped, both pins' filters in
  // this graph (VFW_E_NOT_IN_GRAPH); then the output pin's Connect. Disconnect
  // is the pin's own. EnumFilters and Reconnect: E_NOTIMPL.
  STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
  STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
  STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
  STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
  STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Reconnect(IPin* ppin) override;
  STDMETHODIMP Disconnect(IPin* ppin) override;
  // Every filter runs without a clock.
  STDMETHODIMP SetDefaultSyncSource() override;

  // IMediaEventSink.
  STDMETHODIMP Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

  // ConnectDirect without a media type: the pins agree on one.
  HRESULT Connect(IPin* ppinOut, IPin* ppinIn);

  // State changes, most downstream filter first. Pause and Run from Stopped
  // start a new run (sinks counted afresh, earlier events of completion
  // forgotten). A filter's failure stops every filter again and is returned.
  // Stop visits every filter and returns the first failure.
  HRESULT Pause();
  HRESULT Run();
  HRESULT Stop();
  FILTER_STATE GetState();

  // Waits until the run completes (EC_COMPLETE from the graph) or is aborted,
  // and gives the event code; the completion is taken, so the next wait waits
  // for the next one. E_ABORT (code 0) when dwTimeoutMs passes first;
  // VFW_E_WRONG_STATE when stopped with nothing to report.
  HRESULT WaitForCompletion(DWORD dwTimeoutMs, LONG* plEventCode);
  // The oldest queued event, waiting up to dwTimeoutMs (INFINITE: no limit);
  // E_ABORT when none came.
  HRESULT GetEvent(LONG* plEventCode, LONG_PTR* plParam1, LONG_PTR* plParam2, DWORD dwTimeoutMs);
  // Every queued event, oldest first, without taking them.
  std::vector<Event> PeekEvents();

  // IMediaSeeking of the output pin that feeds the first sink, with a
  // reference; E_NOINTERFACE when no sink's peer offers it.
  HRESULT GetSeeking(IMediaSeeking** ppSeeking);
  // GetSeeking's SetPositions; a flushing seek first restarts the count of
  // completed sinks.
  HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                       DWORD dwStopFlags);

  // Stops, disconnects every pin and lets go of every filter.
  HRESULT RemoveAllFilters();

 private:
  struct Entry {
    ComPtr<IBaseFilter> pFilter;
    std::wstring name;
  };

  CHostGraph() = default;
  ~CHostGraph();

  CHostGraph(const CHostGraph&) = delete;
  CHostGraph& operator=(const CHostGraph&) = delete;

  // Under the graph lock.
  bool HoldsFilter(IBaseFilter* pFilter);
  bool HoldsPinOf(IPin* pPin);
  // The filters, most downstream first (a filter comes after every filter
  // its output pins feed).
  std::vector<IBaseFilter*> DownstreamFirst();
  std::vector<IBaseFilter*> Sinks();
  HRESULT PauseFilters();
  HRESULT RunFilters();
  HRESULT StopFilters();
  HRESULT DisconnectFilter(IBaseFilter* pFilter);
  void StartRun();

  // Under the event lock.
  void QueueEventLocked(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2);
  void RestartCompletionLocked();

  std::atomic<ULONG> m_cRef{1};

  std::recursive_mutex m_GraphMutex;
  std::vector<Entry> m_Filters;
  std::atomic<FILTER_STATE> m_State{State_Stopped};

  std::mutex m_EventMutex;
  std::condition_variable m_EventArrived;
  std::deque<Event> m_Events;
  std::set<LONG_PTR> m_Sinks;      // filters (as their IBaseFilter) that must complete
  std::set<LONG_PTR> m_Completed;  // sinks that have
  bool m_bCompletePosted = false;
  // The code that ends WaitForCompletion, 0 while there is none.
  LONG m_lOutcome = 0;
};

}  // namespace flvdmx
