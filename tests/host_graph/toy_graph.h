// The end-to-end rig for the host graph tests: a toy file in memory behind a
// gated reader, the host's file source, CToyDmx and one recording sink per
// stream, all in a CHostGraph; and ToyOracle, which checks what a sink
// recorded against the file: every segment starts at the right key chunk,
// carries consecutive chunks with the right times and flags, and ends where
// it must when it ends with end-of-stream.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "baseclasses/unknown.h"
#include "diag/crc32.h"
#include "host/file_source.h"
#include "host/graph.h"
#include "host/memory_reader.h"
#include "host/sink.h"
#include "host_graph/gated_reader.h"
#include "seeking/seeking.h"
#include "support/toy_format.h"

namespace flvdmx {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

using namespace std::chrono_literals;

// Runs fn on a thread of its own and waits up to `limit`. A call that does not
// return by then is a deadlock: nothing would end the test, so it fails
// loudly and the process ends.
template <class Fn>
void WithDeadline(const char* what, std::chrono::seconds limit, Fn fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "\n%s did not return within %lld s: deadlock\n", what,
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::abort();
  }
  worker.join();
}

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

// Holds a sink's streaming thread inside Receive once it has seen a number
// of samples, until opened: a stream that is certainly still running, with no
// timing involved. Install it as the sink's event callback. It runs under the
// sink's record lock, so while it holds a thread the test must not call that
// sink (nor flush it, which takes the same lock): open it first.
class CValve {
 public:
  explicit CValve(uint64_t nAfter) : m_nAfter(nAfter) {}

  void OnEvent(const SinkEvent& e) {
    if (e.kind != SinkEvent::kSample) return;
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (++m_cSeen != m_nAfter || m_bOpen) return;
    m_bHolding = true;
    m_Changed.notify_all();
    m_Changed.wait(lock, [this] { return m_bOpen; });
    m_bHolding = false;
  }
  CRecordingSink::EventCallback Callback() {
    return [this](const SinkEvent& e, const BYTE*) { OnEvent(e); };
  }
  bool WaitUntilHolding(std::chrono::milliseconds limit = 10000ms) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, limit, [this] { return m_bHolding; });
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bOpen = true;
    }
    m_Changed.notify_all();
  }

 private:
  const uint64_t m_nAfter;
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  uint64_t m_cSeen = 0;
  bool m_bHolding = false;
  bool m_bOpen = false;
};

// The usual file: stream 0 at 25 chunks a second with a key chunk every 5th,
// stream 1 at about 43 a second, all key chunks.
inline toy::Layout DefaultLayout(uint32_t cVideo = 50, uint32_t cAudio = 86) {
  toy::Layout layout;
  layout.streams[0] = {cVideo, 400000, 5};
  layout.streams[1] = {cAudio, 232200, 1};
  layout.cbChunk = 64;
  return layout;
}

// What one sink saw between two boundaries (a new segment opens one; a flush
// closes it).
struct SegmentRecord {
  SinkEvent segment;
  std::vector<SinkEvent> samples;
  bool bEndOfStream = false;  // an end-of-stream that the sink reported
};

class ToyOracle {
 public:
  ToyOracle(const toy::Layout& layout, const std::vector<uint8_t>& bytes) : m_Layout(layout) {
    const std::vector<toy::Chunk> chunks = toy::ChunkOrder(layout);
    for (size_t i = 0; i < chunks.size(); ++i) {
      const uint8_t* p = &bytes[toy::kFileHeaderSize + i * layout.cbChunk];
      m_ByCrc[Crc32(p, layout.cbChunk)] = chunks[i];
    }
    EXPECT_EQ(m_ByCrc.size(), chunks.size()) << "chunk CRCs must tell the chunks apart";
  }

  // The stream's key chunk at or before the start (its first chunk when the
  // start comes first).
  uint32_t FirstIndex(int iStream, REFERENCE_TIME rtStart) const {
    const toy::StreamLayout& s = m_Layout.streams[static_cast<size_t>(iStream)];
    if (rtStart < 0 || s.cChunks == 0) return 0;
    uint64_t i = static_cast<uint64_t>(rtStart / s.rtChunkDuration);
    if (i >= s.cChunks) i = s.cChunks - 1;
    const uint32_t key = s.nKeyInterval > 1 ? s.nKeyInterval : 1;
    return static_cast<uint32_t>(i - i % key);
  }
  // Index one past the stream's last chunk that starts before the stop.
  uint32_t EndIndex(int iStream, REFERENCE_TIME rtStop) const {
    const toy::StreamLayout& s = m_Layout.streams[static_cast<size_t>(iStream)];
    if (rtStop <= 0) return 0;
    const uint64_t n = static_cast<uint64_t>((rtStop - 1) / s.rtChunkDuration) + 1;
    return static_cast<uint32_t>(n < s.cChunks ? n : s.cChunks);
  }

  // Cuts a sink's record into segments; a sample outside any segment, or
  // after the segment's end-of-stream, is a failure.
  ::testing::AssertionResult Split(const std::vector<SinkEvent>& events,
                                   std::vector<SegmentRecord>* pSegments) const {
    pSegments->clear();
    bool bOpen = false;
    for (size_t i = 0; i < events.size(); ++i) {
      const SinkEvent& e = events[i];
      switch (e.kind) {
        case SinkEvent::kNewSegment:
          pSegments->push_back(SegmentRecord{e, {}, false});
          bOpen = true;
          break;
        case SinkEvent::kBeginFlush:
          bOpen = false;
          break;
        case SinkEvent::kEndFlush:
          break;
        case SinkEvent::kEndOfStream:
          if (!e.bIgnored) {
            if (!bOpen) return ::testing::AssertionFailure() << "end-of-stream outside a segment";
            pSegments->back().bEndOfStream = true;
          }
          break;
        case SinkEvent::kSample:
          if (!bOpen) return ::testing::AssertionFailure() << "sample " << i << " outside a segment";
          if (pSegments->back().bEndOfStream)
            return ::testing::AssertionFailure() << "sample " << i << " after end-of-stream";
          pSegments->back().samples.push_back(e);
          break;
      }
    }
    return ::testing::AssertionSuccess();
  }

  // One segment of stream iStream. With bEndMeansEnd, a reported
  // end-of-stream must come after the segment's last chunk.
  ::testing::AssertionResult CheckSegment(int iStream, const SegmentRecord& seg,
                                          bool bEndMeansEnd) const {
    const REFERENCE_TIME rtStart = seg.segment.tStart;
    const double dRate = seg.segment.dRate;
    if (!(dRate > 0.0)) return ::testing::AssertionFailure() << "segment rate " << dRate;
    const toy::StreamLayout& s = m_Layout.streams[static_cast<size_t>(iStream)];
    const uint32_t first = FirstIndex(iStream, rtStart);
    const uint32_t end = EndIndex(iStream, seg.segment.tStop);
    for (size_t k = 0; k < seg.samples.size(); ++k) {
      const SinkEvent& e = seg.samples[k];
      auto it = m_ByCrc.find(e.dwCrc32);
      if (it == m_ByCrc.end() || it->second.iStream != iStream)
        return ::testing::AssertionFailure() << "sample " << k << " carries no chunk of stream "
                                             << iStream;
      const toy::Chunk& c = it->second;
      const uint32_t expected = first + static_cast<uint32_t>(k);
      if (c.nIndex != expected)
        return ::testing::AssertionFailure()
               << "stream " << iStream << " segment at " << rtStart << ": sample " << k
               << " is chunk " << c.nIndex << ", expected " << expected << " (lost or repeated)";
      const auto rtRelStart = static_cast<REFERENCE_TIME>((c.rtTime - rtStart) / dRate);
      const auto rtRelStop =
          static_cast<REFERENCE_TIME>((c.rtTime + s.rtChunkDuration - rtStart) / dRate);
      if (e.hrTime != S_OK || e.tStart != rtRelStart || e.tStop != rtRelStop)
        return ::testing::AssertionFailure() << "chunk " << c.nIndex << " times " << e.tStart
                                             << ".." << e.tStop << ", expected " << rtRelStart
                                             << ".." << rtRelStop;
      if (e.bSyncPoint != c.bKey || e.bDiscontinuity != (k == 0) ||
          e.bPreroll != (rtRelStop <= 0) || e.lActual != static_cast<LONG>(m_Layout.cbChunk))
        return ::testing::AssertionFailure() << "chunk " << c.nIndex << " flags or length";
    }
    if (bEndMeansEnd && seg.bEndOfStream) {
      const size_t expectedCount = end > first ? end - first : 0;
      if (seg.samples.size() != expectedCount)
        return ::testing::AssertionFailure()
               << "stream " << iStream << " segment at " << rtStart << " ended after "
               << seg.samples.size() << " samples, expected " << expectedCount;
    }
    return ::testing::AssertionSuccess();
  }

  // Every segment of a sink's record; with bLastComplete the last segment
  // must have ended with end-of-stream.
  ::testing::AssertionResult CheckAll(int iStream, const std::vector<SinkEvent>& events,
                                      bool bEndMeansEnd, bool bLastComplete) const {
    std::vector<SegmentRecord> segments;
    ::testing::AssertionResult split = Split(events, &segments);
    if (!split) return split;
    if (segments.empty()) return ::testing::AssertionFailure() << "no segment";
    for (const SegmentRecord& seg : segments) {
      ::testing::AssertionResult ok = CheckSegment(iStream, seg, bEndMeansEnd);
      if (!ok) return ok;
    }
    if (bLastComplete && !segments.back().bEndOfStream)
      return ::testing::AssertionFailure() << "the last segment did not end";
    return ::testing::AssertionSuccess();
  }

 private:
  toy::Layout m_Layout;
  std::map<uint32_t, toy::Chunk> m_ByCrc;
};

// source -> CToyDmx -> sink per stream, connected in a CHostGraph. Build()
// makes it; the destructor lets go of everything and checks that every
// object of the module is gone.
class ToyGraph {
 public:
  explicit ToyGraph(const toy::Layout& layout = DefaultLayout())
      : m_Layout(layout), m_Bytes(toy::MakeFile(layout)), m_Oracle(layout, m_Bytes) {}
  ToyGraph(const ToyGraph&) = delete;
  ToyGraph& operator=(const ToyGraph&) = delete;

  ~ToyGraph() {
    if (graph != nullptr) graph->Release();
    for (CRecordingSink*& sink : sinks)
      if (sink != nullptr) sink->Release();
    if (dmx != nullptr) dmx->Release();
    if (source != nullptr) source->Release();
    if (reader != nullptr) {
      EXPECT_EQ(reader->Release(), 0u) << "the reader is still held";
    }
    if (memory != nullptr) memory->Release();
    EXPECT_EQ(CUnknown::ObjectsActive(), m_cObjectsBefore) << "objects of the module outlive the graph";
  }

  // Makes and connects the whole graph, stopped. nBuffers: what each
  // output pin's allocator gets.
  ::testing::AssertionResult Build(LONG nBuffers = 4) {
    memory = new CMemoryReader(m_Bytes);
    reader = new CGatedReader(memory);
    HRESULT hr = CHostGraph::Create(&graph);
    if (SUCCEEDED(hr)) hr = CFileSource::Create(reader, &source);
    if (SUCCEEDED(hr)) hr = CToyDmx::Create(&dmx);
    for (CRecordingSink*& sink : sinks)
      if (SUCCEEDED(hr)) hr = CRecordingSink::Create(&sink);
    if (FAILED(hr)) return ::testing::AssertionFailure() << "create: " << std::hex << hr;
    dmx->m_cBuffers = nBuffers;
    if (FAILED(hr = graph->AddFilter(source->AsBaseFilter(), L"Source")) ||
        FAILED(hr = graph->AddFilter(dmx->AsBaseFilter(), L"Toy")) ||
        FAILED(hr = graph->AddFilter(sinks[0]->AsBaseFilter(), L"Sink 0")) ||
        FAILED(hr = graph->AddFilter(sinks[1]->AsBaseFilter(), L"Sink 1")))
      return ::testing::AssertionFailure() << "add: " << std::hex << hr;
    if (FAILED(hr = graph->Connect(source->OutputPin(), DmxInput())))
      return ::testing::AssertionFailure() << "connect input: " << std::hex << hr;
    for (int s = 0; s < toy::kStreams; ++s) {
      IPin* pOut = StreamPin(s);
      if (pOut == nullptr) continue;
      if (FAILED(hr = graph->Connect(pOut, sinks[static_cast<size_t>(s)]->InputPin())))
        return ::testing::AssertionFailure() << "connect stream " << s << ": " << std::hex << hr;
    }
    return ::testing::AssertionSuccess();
  }

  IPin* DmxInput() { return static_cast<IPin*>(dmx->GetPin(0)); }
  IPin* StreamPin(int iStream) { return dmx->StreamPin(iStream); }
  CRecordingSink* Sink(int iStream) { return sinks[static_cast<size_t>(iStream)]; }

  // The graph's completion, waiting at most `limit`; 0 when none came.
  LONG Completion(std::chrono::milliseconds limit = 20000ms) {
    LONG lCode = 0;
    graph->WaitForCompletion(static_cast<DWORD>(limit.count()), &lCode);
    return lCode;
  }

  ::testing::AssertionResult CheckStream(int iStream, bool bEndMeansEnd = true,
                                         bool bLastComplete = true) {
    return m_Oracle.CheckAll(iStream, Sink(iStream)->Events(), bEndMeansEnd, bLastComplete);
  }

  // The file offset of chunk `index` of a stream.
  LONGLONG ChunkOffset(int iStream, uint32_t nIndex) const {
    const std::vector<toy::Chunk> chunks = toy::ChunkOrder(m_Layout);
    for (size_t i = 0; i < chunks.size(); ++i)
      if (chunks[i].iStream == iStream && chunks[i].nIndex == nIndex)
        return static_cast<LONGLONG>(toy::kFileHeaderSize + i * m_Layout.cbChunk);
    return -1;
  }

  const toy::Layout& Layout() const { return m_Layout; }
  const ToyOracle& Oracle() const { return m_Oracle; }

  CMemoryReader* memory = nullptr;
  CGatedReader* reader = nullptr;
  CHostGraph* graph = nullptr;
  CFileSource* source = nullptr;
  CToyDmx* dmx = nullptr;
  std::array<CRecordingSink*, toy::kStreams> sinks{};

 private:
  const LONG m_cObjectsBefore = CUnknown::ObjectsActive();
  toy::Layout m_Layout;
  std::vector<uint8_t> m_Bytes;
  ToyOracle m_Oracle;
};

// The samples of the last segment a sink saw.
inline std::vector<SinkEvent> LastSegmentSamples(const ToyOracle& oracle,
                                                 const std::vector<SinkEvent>& events) {
  std::vector<SegmentRecord> segments;
  if (!oracle.Split(events, &segments) || segments.empty()) return {};
  return segments.back().samples;
}

inline int CountKind(const std::vector<SinkEvent>& events, SinkEvent::Kind kind) {
  int n = 0;
  for (const SinkEvent& e : events) n += e.kind == kind ? 1 : 0;
  return n;
}

}  // namespace flvdmx
