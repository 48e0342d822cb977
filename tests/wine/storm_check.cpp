// The filter in the platform's graph under a storm and under failing reads
// (run under Wine against the registered OXFLVDmxx.dll; both pins go into
// recording sinks of ours, whose buffers come from the platform's allocator):
//   storm_check storm FILE SEEKS - Stop/Pause/Run cycles, then SEEKS seeks
//       through the graph's IMediaSeeking::SetPositions while slow sinks
//       keep both pins busy, a Pause/Run or Stop/Run every 20 seeks. The run
//       must end with EC_COMPLETE, and after the last seek each pin must
//       deliver exactly what a single seek to that target delivers.
//   storm_check fault FILE N     - the filter reads the platform's file
//       source through a reader whose reads fail from number N (counting
//       from 0) on with ERROR_NETNAME_DELETED, as a network share that goes
//       away. Either the connection fails with that code, or the run ends
//       with EC_ERRORABORT carrying it (EC_COMPLETE only when no read
//       failed); Stop returns within 2 s.
// Both then take the graph apart and require DllCanUnloadNow to answer S_OK:
// no object of the filter is left alive. Prints "key: value" lines (result,
// reads, stop, unload); exit 0 when every check holds, 1 otherwise.
#include <windows.h>

#include <dshow.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "counting_reader.h"
#include "counting_source_pin.h"
#include "host/sink.h"

namespace {

using flvdmx::ComPtr;
using flvdmx::CRecordingSink;
using flvdmx::SinkEvent;

// {E2B7DF43-38C5-11D5-91F6-00104BDB8FF9}
const CLSID kClsidFlvDmx = {
    0xE2B7DF43, 0x38C5, 0x11D5, {0x91, 0xF6, 0x00, 0x10, 0x4B, 0xDB, 0x8F, 0xF9}};
const HRESULT kGone = HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED);

// Passes everything to the source's reader; SyncRead fails from read
// number m_nFail on.
class CFailingReader final : public IAsyncReader {
 public:
  CFailingReader(IAsyncReader* pInner, unsigned long long nFail)
      : m_pInner(pInner), m_nFail(nFail) {
    m_pInner->AddRef();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IAsyncReader) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG cRef = --m_cRef;
    if (cRef == 0) delete this;
    return cRef;
  }
  STDMETHODIMP RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                IMemAllocator** ppActual) override {
    return m_pInner->RequestAllocator(pPreferred, pProps, ppActual);
  }
  STDMETHODIMP Request(IMediaSample* pSample, DWORD_PTR dwUser) override {
    return m_pInner->Request(pSample, dwUser);
  }
  STDMETHODIMP WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override {
    return m_pInner->WaitForNext(dwTimeout, ppSample, pdwUser);
  }
  STDMETHODIMP SyncReadAligned(IMediaSample* pSample) override {
    return m_pInner->SyncReadAligned(pSample);
  }
  STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override {
    if (m_cReads++ >= m_nFail) return kGone;
    return m_pInner->SyncRead(llPosition, lLength, pBuffer);
  }
  STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override {
    return m_pInner->Length(pTotal, pAvailable);
  }
  STDMETHODIMP BeginFlush() override { return m_pInner->BeginFlush(); }
  STDMETHODIMP EndFlush() override { return m_pInner->EndFlush(); }

  unsigned long long Reads() const { return m_cReads.load(); }

 private:
  ~CFailingReader() { m_pInner->Release(); }

  std::atomic<ULONG> m_cRef{1};
  IAsyncReader* const m_pInner;
  const unsigned long long m_nFail;
  std::atomic<unsigned long long> m_cReads{0};
};

bool Check(bool ok, const char* what, HRESULT hr) {
  if (!ok) std::printf("failed: %s 0x%08lX\n", what, static_cast<unsigned long>(hr));
  return ok;
}

ComPtr<IPin> FindPin(IBaseFilter* pFilter, PIN_DIRECTION dir, const wchar_t* pName) {
  ComPtr<IEnumPins> pEnum;
  if (FAILED(pFilter->EnumPins(pEnum.Put()))) return {};
  ComPtr<IPin> pPin;
  while (pEnum->Next(1, pPin.Put(), nullptr) == S_OK) {
    PIN_INFO info{};
    pPin->QueryPinInfo(&info);
    if (info.pFilter != nullptr) info.pFilter->Release();
    if (info.dir == dir && (pName == nullptr || std::wcscmp(info.achName, pName) == 0)) return pPin;
  }
  return {};
}

// Source -> filter -> a recording sink on each output pin there is.
struct Graph {
  ComPtr<IGraphBuilder> pGraph;
  ComPtr<IMediaControl> pControl;
  ComPtr<IMediaEvent> pEvent;
  ComPtr<IMediaSeeking> pSeeking;
  ComPtr<IBaseFilter> pSource, pDmx;
  std::vector<ComPtr<CRecordingSink>> sinks;
  ComPtr<CFailingReader> pFailing;  // fault runs only

  ~Graph() {
    if (pControl) pControl->Stop();
    // Taking the filters out disconnects them: no pin keeps a filter alive.
    for (auto& pSink : sinks) pGraph->RemoveFilter(pSink->AsBaseFilter());
    if (pDmx) pGraph->RemoveFilter(pDmx.Get());
    if (pSource) pGraph->RemoveFilter(pSource.Get());
  }
};

// The source's pin into the filter, straight or through a failing reader.
HRESULT ConnectSource(Graph& g, bool bFailing, unsigned long long nFail) {
  const ComPtr<IPin> pOut = FindPin(g.pSource.Get(), PINDIR_OUTPUT, nullptr);
  const ComPtr<IPin> pIn = FindPin(g.pDmx.Get(), PINDIR_INPUT, nullptr);
  if (!pOut || !pIn) return VFW_E_NOT_FOUND;
  if (!bFailing) return g.pGraph->ConnectDirect(pOut.Get(), pIn.Get(), nullptr);
  ComPtr<IAsyncReader> pSourceReader;
  HRESULT hr =
      pOut->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(pSourceReader.Put()));
  if (FAILED(hr)) return hr;
  g.pFailing = ComPtr<CFailingReader>::Attach(new CFailingReader(pSourceReader.Get(), nFail));
  auto pCounting = ComPtr<flvdmx::cli::CCountingReader>::Attach(
      new flvdmx::cli::CCountingReader(g.pFailing.Get()));
  auto pPin = ComPtr<flvdmx::cli::CCountingSourcePin>::Attach(
      new flvdmx::cli::CCountingSourcePin(pOut.Get(), pCounting.Get()));
  return g.pGraph->ConnectDirect(pPin.Get(), pIn.Get(), nullptr);
}

HRESULT Build(Graph& g, const wchar_t* pFile, bool bFailing, unsigned long long nFail) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(g.pGraph.Put()));
  if (SUCCEEDED(hr))
    hr = g.pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(g.pControl.Put()));
  if (SUCCEEDED(hr))
    hr = g.pGraph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(g.pEvent.Put()));
  if (SUCCEEDED(hr))
    hr = g.pGraph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(g.pSeeking.Put()));
  if (SUCCEEDED(hr)) hr = g.pGraph->AddSourceFilter(pFile, L"Source", g.pSource.Put());
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(kClsidFlvDmx, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(g.pDmx.Put()));
  if (SUCCEEDED(hr)) hr = g.pGraph->AddFilter(g.pDmx.Get(), L"FLV Demultiplexer");
  if (!Check(SUCCEEDED(hr), "to build the graph", hr)) return hr;
  return ConnectSource(g, bFailing, nFail);
}

HRESULT ConnectSinks(Graph& g, int msDelay) {
  for (const wchar_t* pName : {L"Video", L"Audio"}) {
    const ComPtr<IPin> pOut = FindPin(g.pDmx.Get(), PINDIR_OUTPUT, pName);
    if (!pOut) continue;
    ComPtr<CRecordingSink> pSink;
    HRESULT hr = CRecordingSink::Create(pSink.Put());
    if (SUCCEEDED(hr)) hr = g.pGraph->AddFilter(pSink->AsBaseFilter(), pName);
    if (SUCCEEDED(hr)) hr = g.pGraph->ConnectDirect(pOut.Get(), pSink->InputPin(), nullptr);
    if (!Check(SUCCEEDED(hr), "to connect a sink", hr)) return hr;
    pSink->SetSampleDelay(std::chrono::milliseconds(msDelay));
    g.sinks.push_back(std::move(pSink));
  }
  ComPtr<IMediaFilter> pMediaFilter;
  g.pGraph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(pMediaFilter.Put()));
  pMediaFilter->SetSyncSource(nullptr);  // as fast as the sinks take it
  return g.sinks.empty() ? VFW_E_NOT_FOUND : S_OK;
}

// The next event within the deadline: its code (0: none in time).
long NextEvent(IMediaEvent* pEvent, DWORD dwDeadline, LONG_PTR* plParam1) {
  while (GetTickCount() < dwDeadline) {
    long lCode = 0;
    LONG_PTR lParam1 = 0, lParam2 = 0;
    // After the first event GetEvent may answer E_ABORT at once.
    if (pEvent->GetEvent(&lCode, &lParam1, &lParam2, 100) != S_OK) {
      Sleep(5);
      continue;
    }
    pEvent->FreeEventParams(lCode, lParam1, lParam2);
    if (plParam1 != nullptr) *plParam1 = lParam1;
    return lCode;
  }
  return 0;
}

// A sink's samples since its last new segment, when that segment starts at
// tTarget and has ended; otherwise false.
bool LastSegment(CRecordingSink* pSink, REFERENCE_TIME tTarget, std::vector<SinkEvent>* pSamples) {
  const std::vector<SinkEvent> events = pSink->Events();
  size_t begin = events.size();
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i].kind == SinkEvent::kNewSegment) begin = i;
  if (begin == events.size() || events[begin].tStart != tTarget) return false;
  if (events.back().kind != SinkEvent::kEndOfStream || events.back().bIgnored) return false;
  pSamples->clear();
  for (size_t i = begin; i < events.size(); ++i)
    if (events[i].kind == SinkEvent::kSample) pSamples->push_back(events[i]);
  return true;
}

// Waits until EC_COMPLETE came and every sink ended the segment at tTarget.
bool WaitForSegmentEnd(Graph& g, REFERENCE_TIME tTarget,
                       std::vector<std::vector<SinkEvent>>* pSamples) {
  const DWORD dwDeadline = GetTickCount() + 60000;
  bool bComplete = false;
  pSamples->assign(g.sinks.size(), {});
  for (;;) {
    bool bEnded = true;
    for (size_t i = 0; i < g.sinks.size(); ++i)
      bEnded = LastSegment(g.sinks[i].Get(), tTarget, &(*pSamples)[i]) && bEnded;
    if (bEnded && bComplete) return true;
    LONG_PTR lParam1 = 0;
    const long lCode =
        NextEvent(g.pEvent.Get(), bEnded ? GetTickCount() + 2000 : dwDeadline, &lParam1);
    if (lCode == 0) return Check(false, "EC_COMPLETE after the last seek", E_ABORT);
    if (lCode == EC_ERRORABORT || lCode == EC_ERRORABORTEX)
      return Check(false, "the run aborted", static_cast<HRESULT>(lParam1));
    if (lCode == EC_COMPLETE) bComplete = true;
  }
}

HRESULT SeekTo(Graph& g, REFERENCE_TIME tTarget) {
  LONGLONG llStart = tTarget;
  return g.pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning);
}

bool StateCycles(Graph& g) {
  for (int i = 0; i < 20; ++i) {
    HRESULT hr = g.pControl->Run();
    if (!Check(SUCCEEDED(hr), "Run", hr)) return false;
    Sleep(static_cast<DWORD>(i % 7));
    hr = i % 2 ? g.pControl->Pause() : g.pControl->Stop();
    if (!Check(SUCCEEDED(hr), i % 2 ? "Pause" : "Stop", hr)) return false;
  }
  return true;
}

// The storm proper: returns the last target, or -1 when a call failed.
REFERENCE_TIME SeekStorm(Graph& g, int cSeeks) {
  LONGLONG llDuration = 0;
  HRESULT hr = g.pSeeking->GetDuration(&llDuration);
  if (!Check(SUCCEEDED(hr) && llDuration > 0, "GetDuration", hr)) return -1;
  hr = g.pControl->Run();
  if (!Check(SUCCEEDED(hr), "Run", hr)) return -1;
  std::mt19937 random(5);
  REFERENCE_TIME tTarget = 0;
  for (int i = 0; i < cSeeks; ++i) {
    // Targets on whole milliseconds in the first half: no segment ends
    // before the next seek.
    tTarget =
        static_cast<REFERENCE_TIME>(random() % static_cast<uint32_t>(llDuration / 20000)) * 10000;
    hr = SeekTo(g, tTarget);
    if (!Check(SUCCEEDED(hr), "SetPositions", hr)) return -1;
    if (i % 20 == 19) {
      hr = i % 40 == 19 ? g.pControl->Pause() : g.pControl->Stop();
      if (SUCCEEDED(hr)) hr = g.pControl->Run();
      if (!Check(SUCCEEDED(hr), "a state change between seeks", hr)) return -1;
    }
    Sleep(random() % 3);
  }
  return tTarget;
}

bool SameSamples(const std::vector<std::vector<SinkEvent>>& a,
                 const std::vector<std::vector<SinkEvent>>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    std::printf("pin %zu: %zu samples after the storm, %zu after one seek\n", i, a[i].size(),
                b[i].size());
    if (a[i].size() != b[i].size() || a[i].empty()) return false;
    for (size_t k = 0; k < a[i].size(); ++k) {
      if (a[i][k].tStart != b[i][k].tStart || a[i][k].dwCrc32 != b[i][k].dwCrc32 ||
          a[i][k].bDiscontinuity != b[i][k].bDiscontinuity)
        return false;
    }
  }
  return true;
}

bool Storm(const wchar_t* pFile, int cSeeks) {
  Graph g;
  if (FAILED(Build(g, pFile, false, 0)) || FAILED(ConnectSinks(g, 1))) return false;
  if (!StateCycles(g)) return false;
  const REFERENCE_TIME tTarget = SeekStorm(g, cSeeks);
  if (tTarget < 0) return false;
  std::vector<std::vector<SinkEvent>> afterStorm, afterOneSeek;
  if (!WaitForSegmentEnd(g, tTarget, &afterStorm)) return false;
  HRESULT hr = g.pControl->Stop();
  if (SUCCEEDED(hr)) hr = SeekTo(g, tTarget);
  if (SUCCEEDED(hr)) hr = g.pControl->Run();
  if (!Check(SUCCEEDED(hr), "the single seek", hr)) return false;
  if (!WaitForSegmentEnd(g, tTarget, &afterOneSeek)) return false;
  std::printf("last target: %lld ms\n", static_cast<long long>(tTarget / 10000));
  const bool bSame = SameSamples(afterStorm, afterOneSeek);
  std::printf("result: %s\n", bSame ? "complete, same samples" : "samples differ");
  return bSame;
}

// One fault run: true when it ended as the platform expects.
bool Fault(const wchar_t* pFile, unsigned long long nFail) {
  Graph g;
  HRESULT hr = Build(g, pFile, true, nFail);
  if (FAILED(hr)) {
    std::printf("result: connect failed 0x%08lX\nreads: %llu\n", static_cast<unsigned long>(hr),
                g.pFailing ? g.pFailing->Reads() : 0ull);
    return hr == kGone && g.pDmx && !FindPin(g.pDmx.Get(), PINDIR_OUTPUT, nullptr);
  }
  if (FAILED(ConnectSinks(g, 0))) return false;
  hr = g.pControl->Run();
  if (!Check(SUCCEEDED(hr), "Run", hr)) return false;
  LONG_PTR lParam1 = 0;
  long lCode = 0;
  const DWORD dwDeadline = GetTickCount() + 20000;
  do {
    lCode = NextEvent(g.pEvent.Get(), dwDeadline, &lParam1);
  } while (lCode != 0 && lCode != EC_COMPLETE && lCode != EC_ERRORABORT);
  const DWORD dwStop = GetTickCount();
  hr = g.pControl->Stop();
  const DWORD msStop = GetTickCount() - dwStop;
  std::printf("result: %s 0x%08lX\nreads: %llu\nstop: %lu ms\n",
              lCode == EC_COMPLETE     ? "complete"
              : lCode == EC_ERRORABORT ? "abort"
                                       : "timeout",
              static_cast<unsigned long>(lParam1), g.pFailing->Reads(),
              static_cast<unsigned long>(msStop));
  // A source gone during playback must not pass for a complete file.
  const bool bReadFailed = g.pFailing->Reads() > nFail;
  return SUCCEEDED(hr) && msStop < 2000 &&
         ((lCode == EC_COMPLETE && !bReadFailed) || (lCode == EC_ERRORABORT && lParam1 == kGone));
}

// DllCanUnloadNow of the filter's module, once COM let go of what it caches.
bool Unloads() {
  CoFreeUnusedLibraries();
  HMODULE hModule = GetModuleHandleW(L"OXFLVDmxx.dll");
  if (hModule == nullptr) return Check(false, "the filter's module is loaded", E_FAIL);
  using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
      reinterpret_cast<void*>(GetProcAddress(hModule, "DllCanUnloadNow")));
  const HRESULT hr = canUnloadNow != nullptr ? canUnloadNow() : E_FAIL;
  std::printf("unload: 0x%08lX\n", static_cast<unsigned long>(hr));
  return hr == S_OK;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool bStorm = argc == 4 && std::wcscmp(argv[1], L"storm") == 0;
  const bool bFault = argc == 4 && std::wcscmp(argv[1], L"fault") == 0;
  if (!bStorm && !bFault) {
    std::fprintf(stderr, "usage: storm_check storm FILE SEEKS | fault FILE N\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const unsigned long long n = std::wcstoull(argv[3], nullptr, 10);
  bool ok = bStorm ? Storm(argv[2], static_cast<int>(n)) : Fault(argv[2], n);
  ok = Unloads() && ok;
  std::fflush(stdout);
  CoUninitialize();
  return ok ? 0 : 1;
}
