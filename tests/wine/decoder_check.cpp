// The filter in front of the platform's own decoders, as a player's graph
// would use it (run under Wine against the registered OXFLVDmxx.dll):
//   decoder_check audio FILE [MS] - async file source -> the filter ->
//       intelligent connect from the "Audio" pin to a sample grabber that
//       takes only PCM (so the graph inserts a decoder) -> null renderer; no
//       clock; run until EC_COMPLETE, an abort, or MS milliseconds (8000).
//       Exit 0 on EC_COMPLETE, 1 otherwise.
//   decoder_check video FILE      - the same connection from the "Video" pin
//       to a grabber that takes only RGB24. Exit 0 when the graph refuses it
//       (no decoder fits), 1 when it connects.
//   decoder_check refuse FILE     - the "Audio" pin straight into a sink of
//       our own that refuses the third sample with VFW_E_INVALIDMEDIATYPE,
//       as a decoder may: the filter must end the run with EC_ERRORABORT
//       carrying that code. Exit 0 when it does within 10 s, 1 otherwise.
// Prints "key: value" lines: decoder, input, output, bytes, event, result,
// time.
#include <windows.h>

#include <dshow.h>
#include <mmreg.h>
#include <objbase.h>
#include <qedit.h>

#include <atomic>

#include "host/sink.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// {E2B7DF43-38C5-11D5-91F6-00104BDB8FF9}
const CLSID kClsidFlvDmx = {
    0xE2B7DF43, 0x38C5, 0x11D5, {0x91, 0xF6, 0x00, 0x10, 0x4B, 0xDB, 0x8F, 0xF9}};
const CLSID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// Releases what it holds when it goes.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (m_p != nullptr) m_p->Release();
  }
  T** operator&() { return &m_p; }
  T* operator->() const { return m_p; }
  T* get() const { return m_p; }
  void** out() { return reinterpret_cast<void**>(&m_p); }

 private:
  T* m_p = nullptr;
};

// Counts the bytes of every sample the grabber sees; lives on the stack of main.
class CByteCounter : public ISampleGrabberCB {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == __uuidof(ISampleGrabberCB)) {
      *ppv = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double, IMediaSample* pSample) override {
    m_cBytes += pSample->GetActualDataLength();
    ++m_cSamples;
    return S_OK;
  }
  STDMETHODIMP BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

  std::atomic<long long> m_cBytes{0};
  std::atomic<long> m_cSamples{0};
};

void Fail(const char* what, HRESULT hr) {
  std::printf("result: failed %s 0x%08lX\n", what, static_cast<unsigned long>(hr));
}

// The pin of pFilter with this direction and, when pName is given, this name.
HRESULT FindPin(IBaseFilter* pFilter, PIN_DIRECTION dir, const wchar_t* pName, IPin** ppPin) {
  Ref<IEnumPins> pEnum;
  HRESULT hr = pFilter->EnumPins(&pEnum);
  if (FAILED(hr)) return hr;
  IPin* pPin = nullptr;
  while (pEnum->Next(1, &pPin, nullptr) == S_OK) {
    PIN_INFO info{};
    pPin->QueryPinInfo(&info);
    if (info.pFilter != nullptr) info.pFilter->Release();
    if (info.dir == dir && (pName == nullptr || std::wcscmp(info.achName, pName) == 0)) {
      *ppPin = pPin;
      return S_OK;
    }
    pPin->Release();
  }
  return VFW_E_NOT_FOUND;
}

void PrintGuid(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  std::printf("%ls", text);
}

// The filter behind pOut's connection: a decoder, or the grabber itself.
void PrintDecoder(IPin* pOut, IBaseFilter* pGrabber) {
  Ref<IPin> pPeer;
  PIN_INFO info{};
  if (FAILED(pOut->ConnectedTo(&pPeer)) || FAILED(pPeer->QueryPinInfo(&info))) return;
  FILTER_INFO filterInfo{};
  info.pFilter->QueryFilterInfo(&filterInfo);
  if (filterInfo.pGraph != nullptr) filterInfo.pGraph->Release();
  CLSID clsid = GUID_NULL;
  info.pFilter->GetClassID(&clsid);
  if (info.pFilter == pGrabber) {
    std::printf("decoder: none\n");
  } else {
    std::printf("decoder: %ls ", filterInfo.achName);
    PrintGuid(clsid);
    std::printf("\n");
  }
  info.pFilter->Release();
}

void PrintWaveFormat(const char* what, const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX)) return;
  const auto* pWave = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  std::printf("%s: tag 0x%04X %lu Hz %u ch %u bit\n", what, pWave->wFormatTag,
              static_cast<unsigned long>(pWave->nSamplesPerSec), pWave->nChannels,
              pWave->wBitsPerSample);
}

void PrintPinFormat(const char* what, IPin* pPin) {
  AM_MEDIA_TYPE mt{};
  if (FAILED(pPin->ConnectionMediaType(&mt))) return;
  PrintWaveFormat(what, mt);
  if (mt.pbFormat != nullptr) CoTaskMemFree(mt.pbFormat);
  if (mt.pUnk != nullptr) mt.pUnk->Release();
}

// Waits for the end of the run. After the first event GetEvent may answer
// E_ABORT at once rather than waiting, so the loop keeps to its own deadline.
int WaitForEnd(IMediaEvent* pEvent, DWORD dwDeadlineMs, DWORD dwStart) {
  for (;;) {
    const DWORD dwElapsed = GetTickCount() - dwStart;
    if (dwElapsed >= dwDeadlineMs) {
      std::printf("result: timeout\n");
      return 1;
    }
    long lCode = 0;
    LONG_PTR lParam1 = 0, lParam2 = 0;
    const DWORD dwWait = dwDeadlineMs - dwElapsed < 100 ? dwDeadlineMs - dwElapsed : 100;
    if (pEvent->GetEvent(&lCode, &lParam1, &lParam2, static_cast<long>(dwWait)) != S_OK) {
      Sleep(5);
      continue;
    }
    pEvent->FreeEventParams(lCode, lParam1, lParam2);
    std::printf("event: 0x%02lX 0x%08lX\n", static_cast<unsigned long>(lCode),
                static_cast<unsigned long>(lParam1));
    if (lCode == EC_COMPLETE) {
      std::printf("result: complete\n");
      return 0;
    }
    if (lCode == EC_ERRORABORT || lCode == EC_USERABORT || lCode == EC_ERRORABORTEX) {
      std::printf("result: abort 0x%08lX\n", static_cast<unsigned long>(lParam1));
      return 1;
    }
  }
}

struct Graph {
  Ref<IGraphBuilder> pGraph;
  Ref<IBaseFilter> pSource, pDmx, pGrabber, pNull;
  Ref<IPin> pSourceOut, pDmxIn, pDmxOut;
};

// Source -> filter, connected directly; a grabber that takes only this type.
HRESULT Build(Graph& g, const wchar_t* pFile, const wchar_t* pPinName, const GUID& major,
              const GUID& subtype) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                g.pGraph.out());
  if (FAILED(hr)) return Fail("to create the graph", hr), hr;
  hr = g.pGraph->AddSourceFilter(pFile, L"Source", &g.pSource);
  if (FAILED(hr)) return Fail("AddSourceFilter", hr), hr;
  hr = CoCreateInstance(kClsidFlvDmx, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, g.pDmx.out());
  if (SUCCEEDED(hr)) hr = g.pGraph->AddFilter(g.pDmx.get(), L"FLV Demultiplexer");
  if (FAILED(hr)) return Fail("to add the filter", hr), hr;
  hr = FindPin(g.pSource.get(), PINDIR_OUTPUT, nullptr, &g.pSourceOut);
  if (SUCCEEDED(hr)) hr = FindPin(g.pDmx.get(), PINDIR_INPUT, nullptr, &g.pDmxIn);
  if (SUCCEEDED(hr)) hr = g.pGraph->ConnectDirect(g.pSourceOut.get(), g.pDmxIn.get(), nullptr);
  if (SUCCEEDED(hr)) hr = FindPin(g.pDmx.get(), PINDIR_OUTPUT, pPinName, &g.pDmxOut);
  if (FAILED(hr)) return Fail("to connect the source", hr), hr;

  Ref<ISampleGrabber> pGrab;
  hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        g.pGrabber.out());
  if (SUCCEEDED(hr)) hr = g.pGrabber->QueryInterface(__uuidof(ISampleGrabber), pGrab.out());
  if (FAILED(hr)) return Fail("to create the sample grabber", hr), hr;
  AM_MEDIA_TYPE mt{};
  mt.majortype = major;
  mt.subtype = subtype;
  pGrab->SetMediaType(&mt);
  pGrab->SetBufferSamples(FALSE);
  pGrab->SetOneShot(FALSE);
  hr = g.pGraph->AddFilter(g.pGrabber.get(), L"Sample Grabber");
  if (FAILED(hr)) return Fail("to add the sample grabber", hr), hr;
  return S_OK;
}

int CheckAudio(const wchar_t* pFile, DWORD dwDeadlineMs) {
  CByteCounter counter;  // outlives the graph, which holds it
  Graph g;
  HRESULT hr = Build(g, pFile, L"Audio", MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
  if (FAILED(hr)) return 1;
  Ref<ISampleGrabber> pGrab;
  g.pGrabber->QueryInterface(__uuidof(ISampleGrabber), pGrab.out());
  pGrab->SetCallback(&counter, 0);

  Ref<IPin> pGrabIn, pGrabOut, pNullIn;
  FindPin(g.pGrabber.get(), PINDIR_INPUT, nullptr, &pGrabIn);
  FindPin(g.pGrabber.get(), PINDIR_OUTPUT, nullptr, &pGrabOut);
  hr = g.pGraph->Connect(g.pDmxOut.get(), pGrabIn.get());
  if (FAILED(hr)) return Fail("to connect Audio to PCM", hr), 1;
  PrintDecoder(g.pDmxOut.get(), g.pGrabber.get());
  PrintPinFormat("input", g.pDmxOut.get());
  PrintPinFormat("output", pGrabIn.get());

  hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        g.pNull.out());
  if (SUCCEEDED(hr)) hr = g.pGraph->AddFilter(g.pNull.get(), L"Null Renderer");
  if (SUCCEEDED(hr)) hr = FindPin(g.pNull.get(), PINDIR_INPUT, nullptr, &pNullIn);
  if (SUCCEEDED(hr)) hr = g.pGraph->ConnectDirect(pGrabOut.get(), pNullIn.get(), nullptr);
  if (FAILED(hr)) return Fail("to connect the null renderer", hr), 1;

  Ref<IMediaFilter> pMediaFilter;
  Ref<IMediaControl> pControl;
  Ref<IMediaEvent> pEvent;
  g.pGraph->QueryInterface(IID_IMediaFilter, pMediaFilter.out());
  g.pGraph->QueryInterface(IID_IMediaControl, pControl.out());
  g.pGraph->QueryInterface(IID_IMediaEvent, pEvent.out());
  pMediaFilter->SetSyncSource(nullptr);  // as fast as the decoder goes
  const DWORD dwStart = GetTickCount();
  hr = pControl->Run();
  if (FAILED(hr)) return Fail("Run", hr), 1;
  const int rc = WaitForEnd(pEvent.get(), dwDeadlineMs, dwStart);
  const DWORD dwTime = GetTickCount() - dwStart;
  pControl->Stop();
  std::printf("bytes: %lld\nsamples: %ld\ntime: %lu.%03lu s\n", counter.m_cBytes.load(),
              counter.m_cSamples.load(), static_cast<unsigned long>(dwTime / 1000),
              static_cast<unsigned long>(dwTime % 1000));
  return rc;
}

int CheckVideo(const wchar_t* pFile) {
  Graph g;
  if (FAILED(Build(g, pFile, L"Video", MEDIATYPE_Video, MEDIASUBTYPE_RGB24))) return 1;
  Ref<IPin> pGrabIn;
  FindPin(g.pGrabber.get(), PINDIR_INPUT, nullptr, &pGrabIn);
  const DWORD dwStart = GetTickCount();
  const HRESULT hr = g.pGraph->Connect(g.pDmxOut.get(), pGrabIn.get());
  const DWORD dwTime = GetTickCount() - dwStart;
  if (SUCCEEDED(hr)) PrintDecoder(g.pDmxOut.get(), g.pGrabber.get());
  std::printf("result: %s 0x%08lX\ntime: %lu.%03lu s\n", SUCCEEDED(hr) ? "connected" : "refused",
              static_cast<unsigned long>(hr), static_cast<unsigned long>(dwTime / 1000),
              static_cast<unsigned long>(dwTime % 1000));
  return SUCCEEDED(hr) ? 1 : 0;
}

int CheckRefusal(const wchar_t* pFile) {
  Graph g;
  if (FAILED(Build(g, pFile, L"Audio", MEDIATYPE_Audio, MEDIASUBTYPE_PCM))) return 1;
  flvdmx::CRecordingSink* pSinkRaw = nullptr;
  HRESULT hr = flvdmx::CRecordingSink::Create(&pSinkRaw);
  if (FAILED(hr)) return Fail("to create the refusing sink", hr), 1;
  Ref<IBaseFilter> pSink;
  *&pSink = pSinkRaw->AsBaseFilter();  // adopts the reference Create gave
  pSinkRaw->SetRefusal(2, VFW_E_INVALIDMEDIATYPE);
  hr = g.pGraph->AddFilter(pSink.get(), L"Refusing Sink");
  if (SUCCEEDED(hr)) hr = g.pGraph->ConnectDirect(g.pDmxOut.get(), pSinkRaw->InputPin(), nullptr);
  if (FAILED(hr)) return Fail("to connect the refusing sink", hr), 1;

  Ref<IMediaFilter> pMediaFilter;
  Ref<IMediaControl> pControl;
  Ref<IMediaEvent> pEvent;
  g.pGraph->QueryInterface(IID_IMediaFilter, pMediaFilter.out());
  g.pGraph->QueryInterface(IID_IMediaControl, pControl.out());
  g.pGraph->QueryInterface(IID_IMediaEvent, pEvent.out());
  pMediaFilter->SetSyncSource(nullptr);
  const DWORD dwStart = GetTickCount();
  hr = pControl->Run();
  if (FAILED(hr)) return Fail("Run", hr), 1;
  const int rc = WaitForEnd(pEvent.get(), 10000, dwStart);
  pControl->Stop();
  std::printf("samples: %llu\n", static_cast<unsigned long long>(pSinkRaw->SampleCount()));
  return rc;  // 1: an abort (expected) or a timeout; the script reads "result:"
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || (std::wcscmp(argv[1], L"audio") != 0 && std::wcscmp(argv[1], L"video") != 0 &&
                   std::wcscmp(argv[1], L"refuse") != 0)) {
    std::fprintf(stderr, "usage: decoder_check audio FILE [MS] | video FILE | refuse FILE\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int rc = 1;
  if (std::wcscmp(argv[1], L"audio") == 0) {
    rc = CheckAudio(argv[2],
                    argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : 8000);
  } else if (std::wcscmp(argv[1], L"video") == 0) {
    rc = CheckVideo(argv[2]);
  } else {
    rc = CheckRefusal(argv[2]);
  }
  std::fflush(stdout);
  CoUninitialize();
  return rc;
}
