#include "host/graph.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "base/com_ptr.h"

namespace flvdmx {

namespace {

// A filter's pins at one moment, each with a reference.
class CPinSnapshot {
 public:
  explicit CPinSnapshot(IBaseFilter* pFilter) {
    // A filter whose pins change under the walk (a demultiplexer adding its
    // outputs) puts the enumerator out of sync: start over a few times.
    ComPtr<IEnumPins> pEnum;
    if (FAILED(pFilter->EnumPins(pEnum.Put())) || !pEnum) return;
    for (int attempt = 0; attempt < 4; ++attempt) {
      m_Pins.clear();
      HRESULT hr = S_OK;
      for (;;) {
        ComPtr<IPin> pPin;
        ULONG cFetched = 0;
        hr = pEnum->Next(1, pPin.Put(), &cFetched);
        if (hr != S_OK || cFetched != 1 || !pPin) break;
        m_Pins.push_back(std::move(pPin));
      }
      if (hr != VFW_E_ENUM_OUT_OF_SYNC) break;
      pEnum->Reset();
    }
  }

  const std::vector<ComPtr<IPin>>& Pins() const { return m_Pins; }

 private:
  std::vector<ComPtr<IPin>> m_Pins;
};

PIN_DIRECTION DirectionOf(IPin* pPin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  pPin->QueryDirection(&dir);
  return dir;
}

// The peer of pPin, or null.
ComPtr<IPin> PeerOf(IPin* pPin) {
  ComPtr<IPin> pPeer;
  if (FAILED(pPin->ConnectedTo(pPeer.Put()))) return nullptr;
  return pPeer;
}

// The filter's own IBaseFilter pointer, the identity the graph compares;
// null when it has none.
ComPtr<IBaseFilter> CanonicalFilter(IUnknown* pUnk) {
  ComPtr<IBaseFilter> pFilter;
  if (FAILED(pUnk->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(pFilter.Put()))))
    return nullptr;
  return pFilter;
}

// The filter that owns pPin; null when it does not say.
ComPtr<IBaseFilter> FilterOf(IPin* pPin) {
  PIN_INFO info{};
  if (FAILED(pPin->QueryPinInfo(&info)) || info.pFilter == nullptr) return nullptr;
  const auto pOwner = ComPtr<IBaseFilter>::Attach(info.pFilter);
  return CanonicalFilter(pOwner.Get());
}

bool IsAbort(LONG lCode) {
  return lCode == EC_ERRORABORT || lCode == EC_USERABORT || lCode == EC_ERRORABORTEX;
}

}  // namespace

HRESULT CHostGraph::Create(CHostGraph** ppGraph) {
  if (ppGraph == nullptr) return E_POINTER;
  *ppGraph = new (std::nothrow) CHostGraph();
  return *ppGraph != nullptr ? S_OK : E_OUTOFMEMORY;
}

CHostGraph::~CHostGraph() { RemoveAllFilters(); }

STDMETHODIMP CHostGraph::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IFilterGraph) {
    *ppv = static_cast<IFilterGraph*>(this);
  } else if (riid == IID_IMediaEventSink) {
    *ppv = static_cast<IMediaEventSink*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CHostGraph::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CHostGraph::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP CHostGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
  if (pFilter == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
  ComPtr<IBaseFilter> pCanonical = CanonicalFilter(pFilter);
  if (!pCanonical) return E_NOINTERFACE;
  if (HoldsFilter(pCanonical.Get())) return E_INVALIDARG;
  const std::wstring base = pName != nullptr && pName[0] != L'\0' ? pName : L"Filter";
  std::wstring name = base;
  for (int n = 1; FindFilterByName(name.c_str(), nullptr) == S_OK; ++n) {
    std::wstring number = std::to_wstring(n);
    if (number.size() < 4) number.insert(0, 4 - number.size(), L'0');
    name = base + L" " + number;
  }
  const HRESULT hr = pCanonical->JoinFilterGraph(static_cast<IFilterGraph*>(this), name.c_str());
  if (FAILED(hr)) return hr;
  m_Filters.push_back(Entry{std::move(pCanonical), name});
  return S_OK;
}

STDMETHODIMP CHostGraph::RemoveFilter(IBaseFilter* pFilter) {
  if (pFilter == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
  // Only its address is compared from here on.
  IBaseFilter* const pCanonical = CanonicalFilter(pFilter).Get();
  if (pCanonical == nullptr) return VFW_E_NOT_FOUND;
  auto it = std::find_if(m_Filters.begin(), m_Filters.end(),
                         [&](const Entry& e) { return e.pFilter.Get() == pCanonical; });
  if (it == m_Filters.end()) return VFW_E_NOT_FOUND;
  DisconnectFilter(it->pFilter.Get());
  // Disconnecting may have called back into the graph; find it again.
  it = std::find_if(m_Filters.begin(), m_Filters.end(),
                    [&](const Entry& e) { return e.pFilter.Get() == pCanonical; });
  if (it == m_Filters.end()) return VFW_E_NOT_FOUND;
  const ComPtr<IBaseFilter> pHeld = std::move(it->pFilter);
  m_Filters.erase(it);
  pHeld->JoinFilterGraph(nullptr, nullptr);
  return S_OK;
}

STDMETHODIMP CHostGraph::EnumFilters(IEnumFilters** ppEnum) {
  if (ppEnum != nullptr) *ppEnum = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CHostGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
  if (ppFilter != nullptr) *ppFilter = nullptr;
  if (pName == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  for (const Entry& e : m_Filters) {
    if (e.name != pName) continue;
    if (ppFilter != nullptr) *ppFilter = ComPtr<IBaseFilter>(e.pFilter).Detach();
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CHostGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
  if (ppinOut == nullptr || ppinIn == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!HoldsPinOf(ppinOut) || !HoldsPinOf(ppinIn)) return VFW_E_NOT_IN_GRAPH;
  return ppinOut->Connect(ppinIn, pmt);
}

HRESULT CHostGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
  return ConnectDirect(ppinOut, ppinIn, nullptr);
}

STDMETHODIMP CHostGraph::Reconnect(IPin* ppin) { return E_NOTIMPL; }

STDMETHODIMP CHostGraph::Disconnect(IPin* ppin) {
  if (ppin == nullptr) return E_POINTER;
  return ppin->Disconnect();
}

STDMETHODIMP CHostGraph::SetDefaultSyncSource() {
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  HRESULT hrFirst = S_OK;
  for (const Entry& e : m_Filters) {
    const HRESULT hr = e.pFilter->SetSyncSource(nullptr);
    if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
  }
  return hrFirst;
}

STDMETHODIMP CHostGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  std::lock_guard<std::mutex> lock(m_EventMutex);
  if (EventCode == EC_COMPLETE && m_Sinks.count(EventParam2) != 0) {
    if (m_bCompletePosted) return S_OK;
    m_Completed.insert(EventParam2);
    if (m_Completed.size() < m_Sinks.size()) return S_OK;
    m_bCompletePosted = true;
    QueueEventLocked(EC_COMPLETE, S_OK, 0);
    if (m_lOutcome == 0) m_lOutcome = EC_COMPLETE;
  } else {
    QueueEventLocked(EventCode, EventParam1, EventParam2);
    // An abort outranks a completion that nobody has taken yet.
    if (IsAbort(EventCode) && (m_lOutcome == 0 || m_lOutcome == EC_COMPLETE))
      m_lOutcome = EventCode;
  }
  m_EventArrived.notify_all();
  return S_OK;
}

HRESULT CHostGraph::Pause() {
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  if (m_State == State_Stopped) StartRun();
  const HRESULT hr = PauseFilters();
  if (FAILED(hr)) {
    Stop();
    return hr;
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CHostGraph::Run() {
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  if (m_State == State_Running) return S_OK;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  const HRESULT hr = RunFilters();
  if (FAILED(hr)) {
    Stop();
    return hr;
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CHostGraph::Stop() {
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  const HRESULT hr = StopFilters();
  {
    std::lock_guard<std::mutex> eventLock(m_EventMutex);
    m_State = State_Stopped;
  }
  // A waiter gives up: nothing more will complete.
  m_EventArrived.notify_all();
  return hr;
}

FILTER_STATE CHostGraph::GetState() { return m_State; }

HRESULT CHostGraph::WaitForCompletion(DWORD dwTimeoutMs, LONG* plEventCode) {
  if (plEventCode == nullptr) return E_POINTER;
  *plEventCode = 0;
  std::unique_lock<std::mutex> lock(m_EventMutex);
  const auto done = [this] { return m_lOutcome != 0 || m_State == State_Stopped; };
  if (dwTimeoutMs == INFINITE)
    m_EventArrived.wait(lock, done);
  else
    m_EventArrived.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), done);
  if (m_lOutcome != 0) {
    *plEventCode = m_lOutcome;
    m_lOutcome = 0;
    return S_OK;
  }
  return m_State == State_Stopped ? VFW_E_WRONG_STATE : E_ABORT;
}

HRESULT CHostGraph::GetEvent(LONG* plEventCode, LONG_PTR* plParam1, LONG_PTR* plParam2,
                             DWORD dwTimeoutMs) {
  if (plEventCode == nullptr || plParam1 == nullptr || plParam2 == nullptr) return E_POINTER;
  *plEventCode = 0;
  *plParam1 = *plParam2 = 0;
  std::unique_lock<std::mutex> lock(m_EventMutex);
  const auto queued = [this] { return !m_Events.empty(); };
  if (dwTimeoutMs == INFINITE)
    m_EventArrived.wait(lock, queued);
  else
    m_EventArrived.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), queued);
  if (m_Events.empty()) return E_ABORT;
  const Event event = m_Events.front();
  m_Events.pop_front();
  *plEventCode = event.lCode;
  *plParam1 = event.lParam1;
  *plParam2 = event.lParam2;
  return S_OK;
}

std::vector<CHostGraph::Event> CHostGraph::PeekEvents() {
  std::lock_guard<std::mutex> lock(m_EventMutex);
  return std::vector<Event>(m_Events.begin(), m_Events.end());
}

HRESULT CHostGraph::GetSeeking(IMediaSeeking** ppSeeking) {
  if (ppSeeking == nullptr) return E_POINTER;
  *ppSeeking = nullptr;
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  for (IBaseFilter* pSink : Sinks()) {
    CPinSnapshot pins(pSink);
    for (const ComPtr<IPin>& pPin : pins.Pins()) {
      if (DirectionOf(pPin.Get()) != PINDIR_INPUT) continue;
      const ComPtr<IPin> pPeer = PeerOf(pPin.Get());
      if (!pPeer) continue;
      const HRESULT hr =
          pPeer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppSeeking));
      if (SUCCEEDED(hr) && *ppSeeking != nullptr) return S_OK;
      *ppSeeking = nullptr;
    }
  }
  return E_NOINTERFACE;
}

HRESULT CHostGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                 DWORD dwStopFlags) {
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  ComPtr<IMediaSeeking> pSeeking;
  const HRESULT hr = GetSeeking(pSeeking.Put());
  if (FAILED(hr)) return hr;
  if (((dwCurrentFlags | dwStopFlags) & AM_SEEKING_NoFlush) == 0) {
    std::lock_guard<std::mutex> eventLock(m_EventMutex);
    RestartCompletionLocked();
  }
  return pSeeking->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
}

HRESULT CHostGraph::RemoveAllFilters() {
  std::lock_guard<std::recursive_mutex> lock(m_GraphMutex);
  const HRESULT hr = Stop();
  for (IBaseFilter* pFilter : DownstreamFirst()) DisconnectFilter(pFilter);
  std::vector<Entry> filters;
  filters.swap(m_Filters);
  for (Entry& e : filters) {
    e.pFilter->JoinFilterGraph(nullptr, nullptr);
    e.pFilter.Reset();
  }
  return hr;
}

bool CHostGraph::HoldsFilter(IBaseFilter* pFilter) {
  return std::any_of(m_Filters.begin(), m_Filters.end(),
                     [&](const Entry& e) { return e.pFilter.Get() == pFilter; });
}

bool CHostGraph::HoldsPinOf(IPin* pPin) {
  const ComPtr<IBaseFilter> pFilter = FilterOf(pPin);
  return pFilter && HoldsFilter(pFilter.Get());
}

std::vector<IBaseFilter*> CHostGraph::DownstreamFirst() {
  const size_t n = m_Filters.size();
  // feeds[i]: the filters that filter i's connected output pins lead to.
  std::vector<std::vector<size_t>> feeds(n);
  for (size_t i = 0; i < n; ++i) {
    CPinSnapshot pins(m_Filters[i].pFilter.Get());
    for (const ComPtr<IPin>& pPin : pins.Pins()) {
      if (DirectionOf(pPin.Get()) != PINDIR_OUTPUT) continue;
      const ComPtr<IPin> pPeer = PeerOf(pPin.Get());
      if (!pPeer) continue;
      const ComPtr<IBaseFilter> pDown = FilterOf(pPeer.Get());
      if (!pDown) continue;
      for (size_t j = 0; j < n; ++j)
        if (m_Filters[j].pFilter.Get() == pDown.Get()) feeds[i].push_back(j);
    }
  }
  // Distance from the sinks; n rounds settle any graph without a cycle and
  // bound one that has one.
  std::vector<size_t> depth(n, 0);
  for (size_t round = 0; round < n; ++round) {
    bool bChanged = false;
    for (size_t i = 0; i < n; ++i) {
      for (size_t j : feeds[i]) {
        if (depth[j] + 1 > depth[i] && depth[j] < n) {
          depth[i] = depth[j] + 1;
          bChanged = true;
        }
      }
    }
    if (!bChanged) break;
  }
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return depth[a] < depth[b]; });
  std::vector<IBaseFilter*> filters;
  filters.reserve(n);
  for (size_t i : order) filters.push_back(m_Filters[i].pFilter.Get());
  return filters;
}

std::vector<IBaseFilter*> CHostGraph::Sinks() {
  std::vector<IBaseFilter*> sinks;
  for (const Entry& e : m_Filters) {
    bool bFed = false;
    bool bFeeds = false;
    CPinSnapshot pins(e.pFilter.Get());
    for (const ComPtr<IPin>& pPin : pins.Pins()) {
      if (!PeerOf(pPin.Get())) continue;
      (DirectionOf(pPin.Get()) == PINDIR_INPUT ? bFed : bFeeds) = true;
    }
    if (bFed && !bFeeds) sinks.push_back(e.pFilter.Get());
  }
  return sinks;
}

HRESULT CHostGraph::PauseFilters() {
  for (IBaseFilter* pFilter : DownstreamFirst()) {
    const HRESULT hr = pFilter->Pause();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CHostGraph::RunFilters() {
  for (IBaseFilter* pFilter : DownstreamFirst()) {
    const HRESULT hr = pFilter->Run(0);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CHostGraph::StopFilters() {
  HRESULT hrFirst = S_OK;
  for (IBaseFilter* pFilter : DownstreamFirst()) {
    const HRESULT hr = pFilter->Stop();
    if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
  }
  return hrFirst;
}

HRESULT CHostGraph::DisconnectFilter(IBaseFilter* pFilter) {
  CPinSnapshot pins(pFilter);
  for (const ComPtr<IPin>& pPin : pins.Pins()) {
    const ComPtr<IPin> pPeer = PeerOf(pPin.Get());
    if (!pPeer) continue;
    pPeer->Disconnect();
    pPin->Disconnect();
  }
  return S_OK;
}

void CHostGraph::StartRun() {
  const std::vector<IBaseFilter*> sinks = Sinks();
  std::lock_guard<std::mutex> lock(m_EventMutex);
  m_Sinks.clear();
  for (IBaseFilter* pSink : sinks) m_Sinks.insert(reinterpret_cast<LONG_PTR>(pSink));
  RestartCompletionLocked();
  m_lOutcome = 0;
}

void CHostGraph::QueueEventLocked(LONG lCode, LONG_PTR lParam1, LONG_PTR lParam2) {
  if (m_Events.size() >= kMaxQueuedEvents) m_Events.pop_front();
  m_Events.push_back(Event{lCode, lParam1, lParam2});
}

void CHostGraph::RestartCompletionLocked() {
  m_Completed.clear();
  m_bCompletePosted = false;
  if (m_lOutcome == EC_COMPLETE) m_lOutcome = 0;
}

}  // namespace flvdmx
