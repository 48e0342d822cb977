// Test doubles for the demultiplexer framework: a reader whose flushes are
// counted and whose reads can be made to block until flushed, a source
// filter whose pin offers that reader, a sink filter that counts (and can
// hold) what it receives, a graph that disconnects pins, and CTestDmx, a
// small format filter (CBaseDmx + CSeeking) whose hooks are scripted and
// whose delivery loop reads 4 bytes per sample from the pin's reader.
//
// Everything lives in a namespace of its own so that these inline classes
// cannot clash with same-named helpers linked in from tests/support.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "baseclasses/filter.h"
#include "baseclasses/input_pin.h"
#include "baseclasses/pin.h"
#include "diag/trace.h"
#include "framework/base_dmx.h"
#include "framework/dmx_input_pin.h"
#include "framework/dmx_output_pin.h"
#include "platform/dshow.h"
#include "platform/thread.h"
#include "seeking/filter_seeking_id.h"
#include "seeking/seeking.h"
#include "streams/sample_entry.h"
#include "support/test_filters.h"

namespace flvdmx::fwtest {

using namespace std::chrono_literals;

// Polls `done` until it holds or the time is up; true when it held.
template <class Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// IAsyncReader over an endless run of bytes (each byte is the low byte of
// its offset). Reads fail with VFW_E_WRONG_STATE while flushing; with
// m_bBlockReads a read waits until a flush begins. Samples queued with
// QueueSample come back from WaitForNext. Made with one reference.
class CTestReader : public IAsyncReader {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
      *ppv = static_cast<IAsyncReader*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG c = --m_cRef;
    if (c == 0) delete this;
    return static_cast<ULONG>(c);
  }

  STDMETHODIMP RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
  STDMETHODIMP WaitForNext(DWORD, IMediaSample** ppSample, DWORD_PTR* pdwUser) override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++cWaitForNext;
    if (m_Queued.empty()) {
      *ppSample = nullptr;
      return VFW_E_TIMEOUT;
    }
    if (m_bFlushing) ++cQueuedTakenWhileFlushing;
    *ppSample = m_Queued.front();
    m_Queued.pop_front();
    *pdwUser = 0;
    return m_bFlushing ? VFW_E_WRONG_STATE : S_OK;
  }
  STDMETHODIMP SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override {
    std::unique_lock<std::mutex> lock(m_Mutex);
    ++cReads;
    if (m_bBlockReads && !m_bFlushing) {
      ++cBlockedReads;
      m_Changed.wait(lock, [this] { return m_bFlushing; });
    }
    if (m_bFlushing) {
      ++cFailedReads;
      return VFW_E_WRONG_STATE;
    }
    if (m_hrRead != S_OK) return m_hrRead;
    for (LONG i = 0; i < lLength; ++i) pBuffer[i] = static_cast<BYTE>(llPosition + i);
    return S_OK;
  }
  STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override {
    *pTotal = *pAvailable = 1 << 20;
    return S_OK;
  }
  STDMETHODIMP BeginFlush() override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++cBeginFlush;
    if (FAILED(m_hrBeginFlush)) return m_hrBeginFlush;
    m_bFlushing = true;
    m_Changed.notify_all();
    return S_OK;
  }
  STDMETHODIMP EndFlush() override {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++cEndFlush;
    m_bFlushing = false;
    return S_OK;
  }

  void BlockReads(bool bBlock) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bBlockReads = bBlock;
  }
  // Every read answers hr from now on (S_OK restores them).
  void FailReads(HRESULT hr) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_hrRead = hr;
  }
  void RefuseFlush(HRESULT hr) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_hrBeginFlush = hr;
  }
  // The reader takes over the caller's reference on pSample.
  void QueueSample(IMediaSample* pSample) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Queued.push_back(pSample);
  }
  bool IsFlushing() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bFlushing;
  }
  LONG RefCount() const { return m_cRef; }

  std::atomic<int> cReads{0};
  std::atomic<int> cBlockedReads{0};
  std::atomic<int> cFailedReads{0};
  std::atomic<int> cBeginFlush{0};
  std::atomic<int> cEndFlush{0};
  std::atomic<int> cWaitForNext{0};
  std::atomic<int> cQueuedTakenWhileFlushing{0};

 private:
  virtual ~CTestReader() {
    for (IMediaSample* pSample : m_Queued) pSample->Release();
  }

  std::atomic<LONG> m_cRef{1};
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bFlushing = false;
  bool m_bBlockReads = false;
  HRESULT m_hrBeginFlush = S_OK;
  HRESULT m_hrRead = S_OK;
  std::deque<IMediaSample*> m_Queued;
};

// The stream type of CSourceFilter's pin.
inline const GUID kStreamSubtype = FourccGuid(MakeFourcc('T', 'E', 'S', 'T'));

// A source filter whose one output pin offers MEDIATYPE_Stream and hands out
// its reader when asked for IAsyncReader (null reader: it has none).
class CSourceFilter : public CBaseFilter {
 public:
  class CSourcePin : public CBasePin {
   public:
    CSourcePin(CSourceFilter* pFilter, IAsyncReader* pReader)
        : CBasePin(L"CSourcePin", pFilter, &pFilter->m_Lock, nullptr, L"Output", PINDIR_OUTPUT),
          m_pReader(pReader) {
      if (m_pReader != nullptr) m_pReader->AddRef();
    }
    ~CSourcePin() override {
      if (m_pReader != nullptr) m_pReader->Release();
    }
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
      if (ppv != nullptr && riid == IID_IAsyncReader && m_pReader != nullptr)
        return GetInterface(m_pReader, ppv);
      return CBasePin::NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
      if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
      pmt->SetType(&MEDIATYPE_Stream);
      pmt->SetSubtype(&kStreamSubtype);
      return S_OK;
    }

   private:
    IAsyncReader* m_pReader;
  };

  explicit CSourceFilter(IAsyncReader* pReader)
      : CBaseFilter(L"CSourceFilter", nullptr, &m_Lock, CTestFilter::kClsid),
        m_Pin(std::make_unique<CSourcePin>(this, pReader)) {}

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_Pin.get() : nullptr; }
  CSourcePin* Pin() { return m_Pin.get(); }

  CCritSec m_Lock;

 private:
  std::unique_ptr<CSourcePin> m_Pin;
};

// A sink filter with one input pin that accepts any type and counts what
// arrives. With m_bHoldSamples it keeps every sample (so its allocator runs
// dry) until ReleaseHeld.
class CSinkFilter : public CBaseFilter {
 public:
  class CSinkPin : public CBaseInputPin {
   public:
    explicit CSinkPin(CSinkFilter* pFilter)
        : CBaseInputPin(L"CSinkPin", pFilter, &pFilter->m_Lock, nullptr, L"In") {}
    ~CSinkPin() override { ReleaseHeld(); }

    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    STDMETHODIMP Receive(IMediaSample* pSample) override {
      ++cReceived;
      BYTE* pData = nullptr;
      if (SUCCEEDED(pSample->GetPointer(&pData)) && pSample->GetActualDataLength() >= 1)
        m_lastFirstByte = pData[0];
      if (m_bHoldSamples) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        pSample->AddRef();
        m_Held.push_back(pSample);
      }
      return m_hrReceive;
    }
    STDMETHODIMP EndOfStream() override {
      ++cEndOfStream;
      return S_OK;
    }
    STDMETHODIMP BeginFlush() override {
      ++cBeginFlush;
      return CBaseInputPin::BeginFlush();
    }
    STDMETHODIMP EndFlush() override {
      ++cEndFlush;
      return CBaseInputPin::EndFlush();
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override {
      m_tLastSegmentStart = tStart;
      ++cNewSegment;
      return CBaseInputPin::NewSegment(tStart, tStop, dRate);
    }
    void ReleaseHeld() {
      std::vector<IMediaSample*> held;
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        held.swap(m_Held);
      }
      for (IMediaSample* pSample : held) pSample->Release();
    }

    std::atomic<bool> m_bHoldSamples{false};
    std::atomic<HRESULT> m_hrReceive{S_OK};
    std::atomic<int> cReceived{0};
    std::atomic<int> cEndOfStream{0};
    std::atomic<int> cBeginFlush{0};
    std::atomic<int> cEndFlush{0};
    std::atomic<int> cNewSegment{0};
    // Readable while the delivery threads run (the base pin's copy is not).
    std::atomic<REFERENCE_TIME> m_tLastSegmentStart{-1};
    std::atomic<int> m_lastFirstByte{-1};

   private:
    std::mutex m_Mutex;
    std::vector<IMediaSample*> m_Held;
  };

  CSinkFilter()
      : CBaseFilter(L"CSinkFilter", nullptr, &m_Lock, CTestFilter::kClsid),
        m_Pin(std::make_unique<CSinkPin>(this)) {}

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_Pin.get() : nullptr; }
  CSinkPin* Pin() { return m_Pin.get(); }

  CCritSec m_Lock;

 private:
  std::unique_ptr<CSinkPin> m_Pin;
};

// A graph whose Disconnect disconnects the pin, as the platform's does.
class CDisconnectingGraph : public CTestGraph {
 public:
  STDMETHODIMP Disconnect(IPin* pPin) override {
    ++cDisconnect;
    return pPin->Disconnect();
  }
  std::atomic<int> cDisconnect{0};
};

// A stream description the output pins can be bound to.
struct CTestEntry : SampleEntry {
  uint32_t GetMaxSampleSize() override { return 4; }
};

// The type CTestDmx's output pins offer at position 0 unless told otherwise.
inline CMediaType OutputType(char cTag) {
  return MakeMediaType(MEDIATYPE_Video, FourccGuid(MakeFourcc('O', 'U', 'T', cTag)));
}

// A format filter for the framework's tests. The hooks count their calls and
// answer as scripted; with m_cPinsOnConnect it makes that many output pins
// ("Video" first, then "Audio") when its input connects. Its loop delivers
// m_cSamplesPerRun samples (-1: until told to stop), each 4 bytes read from
// the pin's reader at 4 * sample index, and honours m_bRestart.
class CTestDmx : public CBaseDmx, public CSeeking {
 public:
  static constexpr int kMaxPins = 3;
  static constexpr LONGLONG kTimePerFrame = 400000;  // 25 frames a second

  explicit CTestDmx(int nMaxOutputPins = 2, HRESULT* phr = nullptr)
      : CBaseDmx(CTestFilter::kClsid, L"CTestDmx", nullptr, phr, nMaxOutputPins) {
    for (int i = 0; i < kMaxPins; ++i) m_Offers[i + 1].push_back(OutputType(static_cast<char>('0' + i + 1)));
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return GetOwner()->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IFilterSeeking && m_bOfferSeeking)
      return QuerySeekingInterface(IID_IMediaSeeking, ppv);
    return CBaseDmx::NonDelegatingQueryInterface(riid, ppv);
  }
  STDMETHODIMP Stop() override {
    ClearRecordedSegment();
    return CBaseDmx::Stop();
  }
  STDMETHODIMP Pause() override {
    ClearRecordedSegment();
    return CBaseDmx::Pause();
  }
  STDMETHODIMP Run(REFERENCE_TIME tStart) override {
    ClearRecordedSegment();
    return CBaseDmx::Run(tStart);
  }

  HRESULT StartStreaming() override {
    ++cStartStreaming;
    return m_hrStartStreaming;
  }
  HRESULT StopStreaming() override {
    ++cStopStreaming;
    return m_hrStopStreaming;
  }
  HRESULT PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) override {
    ++cCheckMediaType;
    m_iLastCheckedPin = iPin;
    if (iPin == 0 && m_bInputNeedsStream)
      return *pmt->Type() == MEDIATYPE_Stream ? S_OK : S_FALSE;
    return CBaseDmx::PinCheckMediaType(iPin, pmt, pPin);
  }
  HRESULT PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) override {
    auto it = m_Offers.find(iPin);
    if (it == m_Offers.end()) return CBaseDmx::PinGetMediaType(iPin, iPosition, pmt);
    if (iPosition < 0) return E_INVALIDARG;
    if (static_cast<size_t>(iPosition) >= it->second.size()) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(it->second[static_cast<size_t>(iPosition)]);
  }
  HRESULT PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                              ALLOCATOR_PROPERTIES* pRequest) override {
    ++cDecideBufferSize;
    if (m_bOwnBufferRequest && pRequest != nullptr) *pRequest = m_BufferRequest;
    return CBaseDmx::PinDecideBufferSize(iPin, pAlloc, pRequest);
  }
  HRESULT PinCheckConnect(int iPin, IPin* pPeer) override {
    ++cCheckConnect;
    return FAILED(m_hrCheckConnect) ? m_hrCheckConnect : CBaseDmx::PinCheckConnect(iPin, pPeer);
  }
  HRESULT PinCompleteConnect(int iPin, IPin* pPeer) override {
    ++cCompleteConnect[Slot(iPin)];
    if (iPin == 0) {
      if (FAILED(m_hrInputComplete)) return m_hrInputComplete;
      m_bReaderAtInputComplete = HasReader();
      if (m_cPinsOnConnect > 0) {
        const HRESULT hr = MakeOutputPins();
        if (FAILED(hr)) return hr;
      }
    }
    return CBaseDmx::PinCompleteConnect(iPin, pPeer);
  }
  HRESULT PinBreakConnect(int iPin) override {
    ++cBreakConnect[Slot(iPin)];
    if (iPin == 0 && m_cPinsOnConnect > 0) RemoveAllOutputPins();
    return CBaseDmx::PinBreakConnect(iPin);
  }
  HRESULT PinReceive(int iPin, IMediaSample* pSample) override {
    ++cReceive;
    return CBaseDmx::PinReceive(iPin, pSample);
  }
  HRESULT DeliverEndOfStream() override {
    ++cDeliverEndOfStream;
    return CBaseDmx::DeliverEndOfStream();
  }

  HRESULT PinProcess(int iPin, CBaseDmxOutputPin* pPin) override {
    const int slot = Slot(iPin);
    ++cProcess[slot];
    {
      std::lock_guard<std::mutex> lock(m_ThreadMutex);
      m_ProcessThreads[slot].insert(CurrentThreadId());
    }
    IAsyncReader* pFilterReader = GetReader();  // as a real loop holds one per run
    if (pFilterReader == nullptr) return E_POINTER;
    if (m_bStopFromLoop) hrStopFromLoop = pPin->StopThread();
    const HRESULT hr = DeliverSamples(slot, pPin);
    pFilterReader->Release();
    return hr;
  }

  // CSeeking.
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override {
    if (pDuration == nullptr) return E_POINTER;
    if (m_bMediaTime) {
      *pDuration = m_llDuration;
      return S_OK;
    }
    return ConvertTimeToFrame(m_llDuration, pDuration);
  }
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override {
    if (pCurrent == nullptr) return E_POINTER;
    *pCurrent = m_bMediaTime ? m_llCurrentTime.load() : m_llCurrentFrame.load();
    return S_OK;
  }
  HRESULT UpdateCurrentPosition(BOOL bFlush) override {
    ++cUpdateCurrentPosition;
    m_bLastFlush = bFlush;
    CAutoLock lock(FilterLock());
    if (RecordNewSegment(GetFilterState()) != S_OK) return S_OK;
    ++cSegmentsApplied;
    if (IsStopped()) return S_OK;
    return RestartOutputPins(bFlush);
  }
  HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) override {
    *pllTime = llFrame * kTimePerFrame;
    return S_OK;
  }
  HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) override {
    *pllFrame = llTime / kTimePerFrame;
    return S_OK;
  }

  IBaseFilter* AsFilter() { return static_cast<IBaseFilter*>(this); }
  CBaseDmxOutputPin* VideoPin() const { return m_pVideoPin; }
  CBaseDmxOutputPin* AudioPin() const { return m_pAudioPin; }
  int ProcessThreadCount(int iPin) {
    std::lock_guard<std::mutex> lock(m_ThreadMutex);
    return static_cast<int>(m_ProcessThreads[Slot(iPin)].size());
  }

  // Script.
  std::map<int, std::vector<CMediaType>> m_Offers;  // by pin number
  int m_cPinsOnConnect = 0;
  bool m_bInputNeedsStream = false;
  bool m_bOfferSeeking = true;
  bool m_bOwnBufferRequest = false;
  ALLOCATOR_PROPERTIES m_BufferRequest{2, 64, 1, 0};
  HRESULT m_hrStartStreaming = S_OK;
  HRESULT m_hrStopStreaming = S_OK;
  HRESULT m_hrCheckConnect = S_OK;
  HRESULT m_hrInputComplete = S_OK;
  std::atomic<int> m_cSamplesPerRun{-1};
  std::atomic<bool> m_bStopFromLoop{false};
  LONGLONG m_llDuration = 100 * kTimePerFrame;
  std::array<CTestEntry, kMaxPins> m_Entries;

  // Record.
  std::atomic<int> cStartStreaming{0};
  std::atomic<int> cStopStreaming{0};
  std::atomic<int> cCheckMediaType{0};
  std::atomic<int> cDecideBufferSize{0};
  std::atomic<int> cCheckConnect{0};
  std::array<std::atomic<int>, kMaxPins + 1> cCompleteConnect{};
  std::array<std::atomic<int>, kMaxPins + 1> cBreakConnect{};
  std::atomic<int> cReceive{0};
  std::atomic<int> cDeliverEndOfStream{0};
  std::array<std::atomic<int>, kMaxPins + 1> cProcess{};
  std::array<std::atomic<int>, kMaxPins + 1> cDelivered{};
  std::array<std::atomic<int>, kMaxPins + 1> cRestarts{};
  std::array<std::atomic<int>, kMaxPins + 1> cLoopErrors{};
  std::array<std::atomic<HRESULT>, kMaxPins + 1> hrLoopError{};
  std::atomic<HRESULT> hrStopFromLoop{S_OK};
  std::atomic<int> cUpdateCurrentPosition{0};
  std::atomic<int> cSegmentsApplied{0};
  std::atomic<BOOL> m_bLastFlush{-1};
  int m_iLastCheckedPin = -1;
  bool m_bReaderAtInputComplete = false;

 private:
  static int Slot(int iPin) { return iPin >= 0 && iPin <= kMaxPins ? iPin : 0; }

  bool HasReader() {
    IAsyncReader* pReader = GetReader();
    if (pReader == nullptr) return false;
    pReader->Release();
    return true;
  }

  HRESULT MakeOutputPins() {
    RemoveAllOutputPins();
    static const wchar_t* const kNames[] = {L"Video", L"Audio", L"Data"};
    for (int i = 0; i < m_cPinsOnConnect && i < kMaxPins; ++i) {
      HRESULT hr = AddOutputPin();
      if (FAILED(hr)) return hr;
      CBaseDmxOutputPin* pPin = GetOutputPin(GetOutputPinCount() - 1);
      if (pPin == nullptr) return E_OUTOFMEMORY;
      pPin->SetSampleEntry(&m_Entries[static_cast<size_t>(i)]);
      pPin->SetMaxSampleSize(4);
      hr = pPin->SetName(kNames[i]);
      if (FAILED(hr)) return hr;
      if (i == 0) m_pVideoPin = pPin;
      if (i == 1) m_pAudioPin = pPin;
    }
    return S_OK;
  }

  HRESULT DeliverSamples(int slot, CBaseDmxOutputPin* pPin) {
    IAsyncReader* pReader = pPin->GetReaderNoRef();
    for (;;) {
      pPin->m_bRestart = FALSE;
      LONGLONG llStart = 0;
      LONGLONG llStop = 0;
      double dRate = 1.0;
      GetSegment(&llStart, &llStop, &dRate);
      pPin->DeliverNewSegment(llStart, llStop, dRate);
      bool bRestart = false;
      for (int i = 0; !bRestart && (m_cSamplesPerRun < 0 || i < m_cSamplesPerRun); ++i) {
        IMediaSample* pSample = nullptr;
        REFERENCE_TIME tStart = i * kTimePerFrame;
        REFERENCE_TIME tStop = tStart + kTimePerFrame;
        HRESULT hr = pPin->GetDeliveryBuffer(&pSample, &tStart, &tStop, 0);
        if (FAILED(hr)) {
          RecordLoopError(slot, hr);
          pPin->DeliverEndOfStream();
          return hr;
        }
        BYTE* pData = nullptr;
        pSample->GetPointer(&pData);
        hr = pReader->SyncRead(4 * static_cast<LONGLONG>(i), 4, pData);
        if (hr != S_OK) {
          pSample->Release();
          RecordLoopError(slot, hr);
          pPin->DeliverEndOfStream();
          ReportStreamError(hr);
          return hr;
        }
        pSample->SetActualDataLength(4);
        pSample->SetTime(&tStart, &tStop);
        hr = pPin->Deliver(pSample);
        pSample->Release();
        if (hr != S_OK) return hr;
        ++cDelivered[slot];
        m_llCurrentTime = tStart;
        if (pPin->CheckRequest(nullptr, 0)) {
          pPin->DeliverEndOfStream();
          return S_OK;
        }
        if (pPin->m_bRestart) {
          ++cRestarts[slot];
          bRestart = true;
        }
      }
      if (!bRestart) {
        const HRESULT hr = pPin->DeliverEndOfStream();
        if (FAILED(hr)) ReportStreamError(hr);
        return S_OK;
      }
    }
  }

  void RecordLoopError(int slot, HRESULT hr) {
    ++cLoopErrors[slot];
    hrLoopError[slot] = hr;
  }

  std::mutex m_ThreadMutex;
  std::array<std::set<DWORD>, kMaxPins + 1> m_ProcessThreads;
};

// Creates a filter with a reference held by the test, releases it at the end.
template <class T>
struct Held {
  template <class... Args>
  explicit Held(Args&&... args) : p(new T(std::forward<Args>(args)...)) {
    p->NonDelegatingAddRef();
  }
  ~Held() {
    if (p != nullptr) p->NonDelegatingRelease();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* operator->() const { return p; }
  T* get() const { return p; }
  T* p;
};

// source -> CTestDmx -> one sink per output pin, connected pin to pin; the
// test drives the state changes. The destructor stops the filter,
// disconnects every pin pair and releases everything, then checks that the
// live-object count and the reader's references are back where they began.
class Rig {
 public:
  explicit Rig(int cPins = 2, bool bSourceHasReader = true)
      : m_cObjectsBefore(CUnknown::ObjectsActive()), m_pReader(new CTestReader) {
    m_pSource = new CSourceFilter(bSourceHasReader ? m_pReader : nullptr);
    m_pSource->NonDelegatingAddRef();
    m_pDmx = new CTestDmx(2);
    m_pDmx->NonDelegatingAddRef();
    m_pDmx->m_cPinsOnConnect = cPins;
    for (auto& pSink : m_pSinks) {
      pSink = new CSinkFilter;
      pSink->NonDelegatingAddRef();
    }
  }
  ~Rig() {
    m_pDmx->Stop();
    for (auto* pSink : m_pSinks) pSink->Stop();
    for (int i = 0; i < m_pDmx->GetOutputPinCount(); ++i) {
      CBaseDmxOutputPin* pPin = m_pDmx->GetOutputPin(i);
      if (pPin == nullptr || !pPin->IsConnected()) continue;
      IPin* pPeer = pPin->GetConnected();
      pPeer->AddRef();
      pPin->Disconnect();
      pPeer->Disconnect();
      pPeer->Release();
    }
    m_pSource->Pin()->Disconnect();
    Input()->Disconnect();
    m_pDmx->JoinFilterGraph(nullptr, nullptr);
    m_pDmx->NonDelegatingRelease();
    for (auto* pSink : m_pSinks) pSink->NonDelegatingRelease();
    m_pSource->NonDelegatingRelease();
    EXPECT_EQ(m_pReader->RefCount(), 1) << "the rig's own reference only";
    m_pReader->Release();
    ExpectObjectsActive(m_cObjectsBefore);
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  HRESULT ConnectInput() { return m_pSource->Pin()->Connect(Input(), nullptr); }
  HRESULT ConnectOutput(int iIndex) {
    CBaseDmxOutputPin* pPin = m_pDmx->GetOutputPin(iIndex);
    if (pPin == nullptr) return E_UNEXPECTED;
    return pPin->Connect(Sink(iIndex), nullptr);
  }
  // Input and every output connected.
  void ConnectAll() {
    ASSERT_EQ(ConnectInput(), S_OK);
    for (int i = 0; i < m_pDmx->GetOutputPinCount(); ++i) ASSERT_EQ(ConnectOutput(i), S_OK);
  }

  CTestDmx* Dmx() const { return m_pDmx; }
  CBaseDmxInputPin* Input() const { return m_pDmx->GetInputPin(); }
  CBaseDmxOutputPin* Output(int iIndex) const { return m_pDmx->GetOutputPin(iIndex); }
  CSinkFilter::CSinkPin* Sink(int iIndex) const { return m_pSinks[static_cast<size_t>(iIndex)]->Pin(); }
  CSinkFilter* SinkFilter(int iIndex) const { return m_pSinks[static_cast<size_t>(iIndex)]; }
  CSourceFilter* Source() const { return m_pSource; }
  CTestReader* Reader() const { return m_pReader; }

 private:
  const LONG m_cObjectsBefore;
  CTestReader* m_pReader;
  CSourceFilter* m_pSource = nullptr;
  CTestDmx* m_pDmx = nullptr;
  std::array<CSinkFilter*, 2> m_pSinks{};
};

}  // namespace flvdmx::fwtest
