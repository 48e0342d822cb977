// The shared demultiplexer doubles: CToyDmx over a file of fixed-size chunks
// (stream 0's, then stream 1's; chunk i starts at i * its duration, every key
// interval-th is a key chunk), CTestReader in front of it, and ToyRig, which
// plays it into recording sinks and checks every segment they saw.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "framework/base_dmx.h"
#include "framework/dmx_output_pin.h"
#include "host/file_source.h"
#include "host/graph.h"
#include "host/memory_reader.h"
#include "host/sink.h"
#include "seeking/seeking.h"
#include "streams/sample_entry.h"

namespace flvdmx {

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Polls until pred holds or the time is up.
template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit = 10000ms) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Runs fn and aborts the process on a deadlock rather than hang the run.
void WithDeadline(const char* what, std::chrono::seconds limit, const std::function<void()>& fn);

struct ToyStream {
  uint32_t cChunks;
  REFERENCE_TIME rtChunk;
  uint32_t nKeyInterval;
  // The key chunk at or before rt (the first one for times before the file).
  uint32_t KeyChunkAt(REFERENCE_TIME rt) const {
    uint32_t i = rt <= 0 ? 0 : static_cast<uint32_t>(std::min<LONGLONG>(rt / rtChunk, cChunks - 1));
    return i - i % nKeyInterval;
  }
};

struct ToyLayout {
  std::array<ToyStream, 2> streams{{{50, 400000, 5}, {86, 232200, 1}}};
  uint32_t cbChunk = 64;

  LONGLONG ChunkOffset(int iStream, uint32_t nIndex) const {
    return static_cast<LONGLONG>((iStream == 0 ? 0 : streams[0].cChunks) + nIndex) * cbChunk;
  }
  std::vector<uint8_t> MakeFile() const;
};

// IAsyncReader in front of another. Armed with CloseAt, a read that covers
// the offset waits for a flush (and fails) or Open. Made with one reference.
class CTestReader final : public IAsyncReader {
 public:
  explicit CTestReader(IAsyncReader* pInner) : m_pInner(pInner) { m_pInner->AddRef(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP RequestAllocator(IMemAllocator* p, ALLOCATOR_PROPERTIES* pProps,
                                IMemAllocator** pp) override {
    return m_pInner->RequestAllocator(p, pProps, pp);
  }
  STDMETHODIMP Request(IMediaSample* p, DWORD_PTR dwUser) override {
    return m_pInner->Request(p, dwUser);
  }
  STDMETHODIMP WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override;
  STDMETHODIMP SyncReadAligned(IMediaSample* p) override { return m_pInner->SyncReadAligned(p); }
  STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;
  STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override {
    return m_pInner->Length(pTotal, pAvailable);
  }
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  void CloseAt(LONGLONG llOffset) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_llGate = llOffset;
    m_bArmed = true;
  }
  void Open();
  bool WaitUntilBlocked(int count, std::chrono::milliseconds limit = 10000ms);
  // BeginFlush answers hr from now on (S_OK restores it).
  void RefuseFlush(HRESULT hr) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_hrBeginFlush = hr;
  }
  // WaitForNext hands pSample back, taking over the caller's reference.
  void QueueSample(IMediaSample* p) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Queued.push_back(p);
  }
  bool IsFlushing() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bFlushing;
  }
  ULONG RefCount() const { return m_cRef; }

  std::atomic<int> cBeginFlush{0}, cEndFlush{0}, cQueuedTakenWhileFlushing{0};

 private:
  ~CTestReader();

  std::atomic<ULONG> m_cRef{1};
  IAsyncReader* const m_pInner;
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bArmed = false;
  bool m_bFlushing = false;
  LONGLONG m_llGate = 0;
  int m_cBlocked = 0;
  HRESULT m_hrBeginFlush = S_OK;
  std::deque<IMediaSample*> m_Queued;
};

struct ToyEntry : SampleEntry {
  uint32_t GetMaxSampleSize() override { return m_cbChunk; }
  int m_iStream = 0;
  uint32_t m_cbChunk = 0;
};

// CToyDmx: connecting the input makes "Stream 0" (video) and "Stream 1"
// (audio). Each loop plays its stream's chunks from the key chunk at or before
// the segment start to the segment stop. Public members script hooks and
// count (indexed by pin number 1 or 2). Made with one reference (Create).
class CToyDmx : public CBaseDmx, public CSeeking {
 public:
  static HRESULT Create(const ToyLayout& layout, CToyDmx** ppDmx);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return GetOwner()->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // Each state change may repeat the last segment.
  STDMETHODIMP Stop() override {
    ClearRecordedSegment();
    return CBaseDmx::Stop();
  }
  STDMETHODIMP Pause() override {
    ClearRecordedSegment();
    return CBaseDmx::Pause();
  }
  STDMETHODIMP Run(REFERENCE_TIME t) override {
    ClearRecordedSegment();
    return CBaseDmx::Run(t);
  }

  HRESULT StopStreaming() override {
    ++cStopStreaming;
    return S_OK;
  }
  HRESULT PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) override;
  HRESULT PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) override;
  HRESULT PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                              ALLOCATOR_PROPERTIES* pRequest) override;
  HRESULT PinCompleteConnect(int iPin, IPin* pPeer) override;
  HRESULT PinBreakConnect(int iPin) override;
  HRESULT PinProcess(int iPin, CBaseDmxOutputPin* pPin) override;

  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* p) override {
    *p = m_bMediaTime ? m_llCurrentTime.load() : m_llCurrentFrame.load();
    return S_OK;
  }
  HRESULT UpdateCurrentPosition(BOOL bFlush) override;
  HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* p) override {
    *p = llFrame * m_Layout.streams[0].rtChunk;
    return S_OK;
  }
  HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* p) override {
    *p = llTime / m_Layout.streams[0].rtChunk;
    return S_OK;
  }

  IBaseFilter* AsBaseFilter() { return static_cast<IBaseFilter*>(this); }
  CBaseDmxOutputPin* StreamPin(int iStream);
  int ProcessThreadCount(int iPin);

  std::map<int, std::vector<CMediaType>> m_Offers;  // instead of the stream's type
  std::atomic<LONG> m_cBuffers{4};
  // Called with the pin number first thing in PinBreakConnect.
  std::function<void(int)> m_OnBreakConnect;

  std::atomic<int> cStopStreaming{0};
  std::atomic<int> cRestarts{0};  // repositionings while not stopped
  std::array<std::atomic<int>, 3> cProcess{}, cDelivered{};

 private:
  CToyDmx(const ToyLayout& layout, HRESULT* phr);
  HRESULT DeliverStream(int iPin, CBaseDmxOutputPin* pPin, int iStream, IAsyncReader* pReader);

  const ToyLayout m_Layout;
  std::array<ToyEntry, 2> m_Entries;
  std::mutex m_ThreadMutex;
  std::array<std::set<DWORD>, 3> m_ProcessThreads;
};

int CountKind(const std::vector<SinkEvent>& events, SinkEvent::Kind kind);

// test reader -> file source -> CToyDmx -> a recording sink per stream, in a
// host graph; the destructor checks that every object is gone.
class ToyRig {
 public:
  explicit ToyRig(const ToyLayout& layout = ToyLayout());
  ~ToyRig();
  ToyRig(const ToyRig&) = delete;
  ToyRig& operator=(const ToyRig&) = delete;

  // Adds the filters; connects the input and, with bOutputs, every stream.
  ::testing::AssertionResult Build(LONG nBuffers = 4, bool bOutputs = true);
  IPin* Input() { return static_cast<IPin*>(dmx->GetPin(0)); }
  CBaseDmxOutputPin* Pin(int iStream) { return dmx->StreamPin(iStream); }
  CRecordingSink* Sink(int iStream) { return sinks[static_cast<size_t>(iStream)]; }
  // The graph's completion within `limit`; 0 when none came.
  LONG Completion(std::chrono::milliseconds limit = 20000ms);
  bool HasEvent(LONG lCode);
  // Every segment the sink saw has the right chunks, times and flags, and the
  // last one ended (with bEndMeansEnd, after its last chunk).
  ::testing::AssertionResult CheckStream(int iStream, bool bEndMeansEnd = true,
                                         size_t* pLastCount = nullptr);

  const ToyLayout layout;
  const std::vector<uint8_t> bytes;
  CMemoryReader* memory = nullptr;
  CTestReader* reader = nullptr;
  CHostGraph* graph = nullptr;
  CFileSource* source = nullptr;
  CToyDmx* dmx = nullptr;
  std::array<CRecordingSink*, 2> sinks{};

 private:
  const LONG m_cObjectsBefore;
};

}  // namespace flvdmx
