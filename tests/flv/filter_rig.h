// CFlvDmx's test rig: crafted FLV files (screen video or VP6, PCM audio), a
// graph around one filter, and the check of what a pin delivered.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "flv/flv_dmx.h"
#include "host/file_source.h"
#include "host/graph.h"
#include "host/memory_reader.h"
#include "host/sink.h"
#include "support/flv_writer.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {

constexpr REFERENCE_TIME kMs = 10000;

// A fixture that checks every COM object is gone after each test.
template <class Base = ::testing::Test>
class ObjectsReleased : public Base {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

// Screen video 160 x 120, or VP6 (8 x 10 macroblocks), then `filler` bytes counting up from `seed`.
inline std::vector<uint8_t> VideoPayload(bool vp6, bool key, size_t filler, uint8_t seed = 0) {
  std::vector<uint8_t> p;
  if (vp6) {
    p = key ? std::vector<uint8_t>{0x14, 0x00, 0x00, 0x46, 8, 10}
            // quantiser 0, version, rows, columns
            : std::vector<uint8_t>{0x24, 0x00, 0x80};
  } else {
    p = {static_cast<uint8_t>(key ? 0x13 : 0x23), 0x10, 0xA0, 0x10, 0x78};  // 1 x 160, 1 x 120
  }
  for (size_t i = 0; i < filler; ++i) p.push_back(static_cast<uint8_t>(seed + i));
  return p;
}

struct Layout {
  uint32_t durationMs = 10000;
  uint32_t videoIntervalMs = 100;  // 0: no video
  uint32_t keyIntervalMs = 1000;
  uint32_t audioIntervalMs = 50;  // 0: no audio
  bool vp6 = false;
  uint32_t startMs = 0;
  bool metadata = true;        // onMetaData with the duration first
  bool zeroBackLinks = false;  // every PreviousTagSize 0
  bool extendedTime = true;    // TimestampExtended filled
  size_t videoFiller = 20;     // least payload bytes after a video frame's header
};

struct FileTag {
  int64_t position;
  uint8_t type;
  uint32_t timeMs;
  bool key;
  uint32_t payloadSize;  // DataSize minus the codec header
};

struct CraftedFlv {
  std::vector<uint8_t> bytes;
  std::vector<FileTag> tags;

  std::vector<FileTag> Of(uint8_t type) const {
    std::vector<FileTag> out;
    for (const FileTag& t : tags)
      if (t.type == type) out.push_back(t);
    return out;
  }
};

// Metadata, then video and PCM audio tags interleaved by time (video first
// at equal times), payload sizes varied so that samples can be told apart.
inline CraftedFlv MakeFlv(const Layout& layout) {
  const bool video = layout.videoIntervalMs != 0, audio = layout.audioIntervalMs != 0;
  FlvWriter w(static_cast<uint8_t>((video ? kFlvHasVideo : 0) | (audio ? kFlvHasAudio : 0)));
  w.SetZeroBackLinks(layout.zeroBackLinks);
  w.SetExtendedTime(layout.extendedTime);
  if (layout.metadata) {
    w.Script(OnMetaData(layout.durationMs / 1000.0, audio ? std::optional<double>(3) : std::nullopt,
                        video ? std::optional<double>(layout.vp6 ? 4 : 3) : std::nullopt));
  }
  CraftedFlv f;
  const uint32_t end = layout.startMs + layout.durationMs;
  uint32_t v = layout.startMs, a = layout.startMs;
  for (int i = 0; (video && v < end) || (audio && a < end); ++i) {
    const size_t filler = 20 + static_cast<size_t>(i % 17);
    if (video && v < end && (!audio || a >= end || v <= a)) {
      const bool key = (v - layout.startMs) % layout.keyIntervalMs == 0;
      const size_t cbVideo = filler - 20 + layout.videoFiller;
      const auto payload = VideoPayload(layout.vp6, key, cbVideo, static_cast<uint8_t>(i));
      f.tags.push_back({w.Video(v, payload), kFlvTagVideo, v, key,
                        static_cast<uint32_t>(payload.size() - (layout.vp6 ? 2 : 1))});
      v += layout.videoIntervalMs;
    } else {
      std::vector<uint8_t> payload = {0x3F};
      for (size_t k = 0; k < filler; ++k) payload.push_back(static_cast<uint8_t>(i + k));
      f.tags.push_back({w.Audio(a, payload), kFlvTagAudio, a, true, static_cast<uint32_t>(filler)});
      a += layout.audioIntervalMs;
    }
  }
  f.bytes = w.Bytes();
  return f;
}

inline std::vector<SinkEvent> SamplesOf(const std::vector<SinkEvent>& events) {
  std::vector<SinkEvent> out;
  std::copy_if(events.begin(), events.end(), std::back_inserter(out),
               [](const SinkEvent& e) { return e.kind == SinkEvent::kSample; });
  return out;
}

inline int CountOf(const std::vector<SinkEvent>& events, SinkEvent::Kind kind) {
  return static_cast<int>(std::count_if(events.begin(), events.end(),
                                        [&](const SinkEvent& e) { return e.kind == kind; }));
}

// One pin's events from its last new segment on against the file: the tags
// from the first one delivered (one of `allowedMs`, else for video the last
// key frame at or before the start, for audio the last tag at or before it),
// relative to the segment at its rate, stops at the next
// tag (the last lasts 26 ms), key frames as sync points, a discontinuity
// first, preroll before the start, up to the segment stop; one end-of-stream.
inline void ExpectDelivery(const std::vector<SinkEvent>& all, const std::vector<FileTag>& tags,
                           bool video, REFERENCE_TIME tSegmentStop, const char* what,
                           const std::vector<uint32_t>& allowedMs = {}) {
  SCOPED_TRACE(what);
  size_t begin = 0;
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].kind == SinkEvent::kNewSegment) begin = i;
  const std::vector<SinkEvent> events(all.begin() + static_cast<std::ptrdiff_t>(begin), all.end());
  ASSERT_FALSE(events.empty());
  ASSERT_EQ(events.front().kind, SinkEvent::kNewSegment);
  const REFERENCE_TIME tSegmentStart = events.front().tStart;
  const double rate = events.front().dRate;
  EXPECT_EQ(events.front().tStop, tSegmentStop);
  const std::vector<SinkEvent> samples = SamplesOf(events);
  ASSERT_FALSE(samples.empty());
  const auto relative = [&](REFERENCE_TIME t) {
    return static_cast<REFERENCE_TIME>((t - tSegmentStart) / rate);
  };
  const uint32_t firstMs = static_cast<uint32_t>((samples[0].tStart * rate + tSegmentStart) / kMs);
  const uint32_t targetMs = static_cast<uint32_t>(tSegmentStart / kMs);
  size_t first = 0, n = 0;
  while (first < tags.size() && tags[first].timeMs != firstMs) ++first;
  ASSERT_LT(first, tags.size()) << "no tag at " << firstMs;
  EXPECT_LE(firstMs, targetMs);
  if (!allowedMs.empty()) {
    EXPECT_NE(std::find(allowedMs.begin(), allowedMs.end(), firstMs), allowedMs.end())
        << "started at " << firstMs;
  } else if (video) {
    EXPECT_TRUE(tags[first].key) << firstMs;
    // Not a group of pictures too early: no key frame after it up to the target.
    for (const FileTag& t : tags)
      EXPECT_FALSE(t.key && t.timeMs > firstMs && t.timeMs <= targetMs) << t.timeMs;
  } else if (first + 1 < tags.size()) {
    // The audio tag whose span covers the target.
    EXPECT_GT(tags[first + 1].timeMs, targetMs);
  }
  for (size_t j = first; j < tags.size(); ++j) {
    SCOPED_TRACE("tag at " + std::to_string(tags[j].timeMs) + " ms");
    ASSERT_LT(n, samples.size());
    const SinkEvent& s = samples[n++];
    const REFERENCE_TIME tStart = tags[j].timeMs * kMs;
    const REFERENCE_TIME tStop = j + 1 < tags.size() ? tags[j + 1].timeMs * kMs : tStart + 26 * kMs;
    EXPECT_EQ(s.tStart, relative(tStart));
    EXPECT_EQ(s.tStop, relative(tStop));
    EXPECT_EQ(s.lActual, static_cast<LONG>(tags[j].payloadSize));
    EXPECT_EQ(s.bSyncPoint, tags[j].key);
    EXPECT_EQ(s.bDiscontinuity, n == 1);
    EXPECT_EQ(s.bPreroll, relative(tStop) <= 0);
    if (tStop > tSegmentStop) break;
  }
  EXPECT_EQ(samples.size(), n) << "no sample after the segment or the stream ended";
  EXPECT_EQ(events.back().kind, SinkEvent::kEndOfStream);
  EXPECT_FALSE(events.back().bIgnored);
  EXPECT_EQ(CountOf(events, SinkEvent::kEndOfStream), 1);
}

// A memory reader behind the host's file source, a CFlvDmx made directly (so
// tests reach its hooks) and a recording sink per connected pin, in a graph.
// The rig holds one reference on each and lets go (graph emptied first).
class FilterRig {
 public:
  explicit FilterRig(const std::vector<uint8_t>& bytes) {
    m_pReader = new CMemoryReader(bytes);
    EXPECT_EQ(CFileSource::Create(m_pReader, &m_pSource), S_OK);
    HRESULT hr = S_OK;
    m_pDmx = static_cast<CFlvDmx*>(CFlvDmx::CreateInstance(nullptr, &hr));
    EXPECT_EQ(hr, S_OK);
    m_pDmx->NonDelegatingAddRef();
    EXPECT_EQ(CHostGraph::Create(&m_pGraph), S_OK);
    EXPECT_EQ(m_pGraph->AddFilter(m_pSource->AsBaseFilter(), L"Source"), S_OK);
    EXPECT_EQ(m_pGraph->AddFilter(m_pDmx, L"Demultiplexer"), S_OK);
  }
  ~FilterRig() {
    m_pGraph->RemoveAllFilters();
    m_pGraph->Release();
    for (auto& [name, pSink] : m_Sinks) pSink->Release();
    m_pDmx->NonDelegatingRelease();
    m_pSource->Release();
    m_pReader->Release();
  }
  FilterRig(const FilterRig&) = delete;
  FilterRig& operator=(const FilterRig&) = delete;

  HRESULT ConnectInput() { return m_pGraph->Connect(m_pSource->OutputPin(), m_pDmx->GetPin(0)); }
  // The same filter, a new file: the sinks and the old source leave the
  // graph (which disconnects the filter's input), a source over `bytes`
  // takes its place, unconnected.
  void ReplaceSource(const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(m_pGraph->Stop(), S_OK);
    for (auto& [name, pSink] : m_Sinks) {
      EXPECT_EQ(m_pGraph->RemoveFilter(pSink->AsBaseFilter()), S_OK);
      pSink->Release();
    }
    m_Sinks.clear();
    EXPECT_EQ(m_pGraph->RemoveFilter(m_pSource->AsBaseFilter()), S_OK);
    m_pSource->Release();
    m_pReader->Release();
    m_pReader = new CMemoryReader(bytes);
    EXPECT_EQ(CFileSource::Create(m_pReader, &m_pSource), S_OK);
    EXPECT_EQ(m_pGraph->AddFilter(m_pSource->AsBaseFilter(), L"Source"), S_OK);
  }
  CFlvDmx* Dmx() { return m_pDmx; }
  CHostGraph* Graph() { return m_pGraph; }
  CMemoryReader* Reader() { return m_pReader; }

  std::vector<std::string> OutputPinNames() {
    std::vector<std::string> names;
    for (int i = 0; i < m_pDmx->GetOutputPinCount(); ++i) {
      const std::wstring name = m_pDmx->GetOutputPin(i)->Name();
      names.emplace_back(name.begin(), name.end());
    }
    return names;
  }
  CBaseDmxOutputPin* OutputPin(const std::string& name) {
    const std::vector<std::string> names = OutputPinNames();
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return m_pDmx->GetOutputPin(static_cast<int>(i));
    return nullptr;
  }
  CRecordingSink* ConnectSink(const std::string& name) {
    CRecordingSink*& pSink = m_Sinks[name];
    EXPECT_EQ(CRecordingSink::Create(&pSink), S_OK);
    EXPECT_EQ(m_pGraph->AddFilter(pSink->AsBaseFilter(), nullptr), S_OK);
    EXPECT_EQ(m_pGraph->Connect(OutputPin(name), pSink->InputPin()), S_OK) << name;
    return pSink;
  }
  void ConnectAllSinks() {
    for (const std::string& name : OutputPinNames()) ConnectSink(name);
  }
  CRecordingSink* Sink(const std::string& name) { return m_Sinks[name]; }

  HRESULT Seek(uint32_t startMs, std::optional<uint32_t> stopMs = std::nullopt,
               DWORD dwExtraFlags = 0) {
    LONGLONG llStart = startMs * kMs, llStop = stopMs.value_or(0) * kMs;
    return m_pGraph->SetPositions(
        &llStart, AM_SEEKING_AbsolutePositioning | dwExtraFlags, stopMs ? &llStop : nullptr,
        stopMs ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning);
  }

  // The completion or abort event code; 0 when the wait timed out.
  LONG RunToCompletion(DWORD dwTimeoutMs = 30000) {
    EXPECT_EQ(m_pGraph->Run(), S_OK);
    LONG lCode = 0;
    m_pGraph->WaitForCompletion(dwTimeoutMs, &lCode);
    return lCode;
  }

 private:
  CMemoryReader* m_pReader = nullptr;
  CFileSource* m_pSource = nullptr;
  CFlvDmx* m_pDmx = nullptr;
  CHostGraph* m_pGraph = nullptr;
  std::map<std::string, CRecordingSink*> m_Sinks;
};

inline void ExpectBothDelivered(FilterRig& rig, const CraftedFlv& file, REFERENCE_TIME tStop,
                                const std::vector<uint32_t>& firstVideoMs = {}) {
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), true, tStop, "Video",
                 firstVideoMs);
  ExpectDelivery(rig.Sink("Audio")->Events(), file.Of(kFlvTagAudio), false, tStop, "Audio");
}

}  // namespace flvdmx::filtertest
