// The rig for CFlvDmx's own tests: crafted FLV files whose payloads the
// filter's stream descriptions accept (screen video, VP6, PCM audio), and a
// graph around one filter: the bytes in a memory reader behind the host's
// file source, the filter, and a sink per output pin.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "baseclasses/input_pin.h"
#include "baseclasses/unknown.h"
#include "flv/flv_dmx.h"
#include "host/file_source.h"
#include "host/graph.h"
#include "host/memory_reader.h"
#include "host/sink.h"
#include "support/flv_writer.h"

namespace flvdmx::filtertest {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Payloads the stream descriptions can read a format from, with `filler`
// bytes of picture or sound behind the codec header. Filler bytes count up
// from `seed`, so equal sizes still differ in content.
// Screen video, 160 x 120 (CodecID 3).
inline std::vector<uint8_t> ScreenVideo(bool key, size_t filler, uint8_t seed = 0) {
  std::vector<uint8_t> p = {static_cast<uint8_t>(key ? 0x13 : 0x23),
                            0x10, 0xA0,   // block width 1, width 160
                            0x10, 0x78};  // block height 1, height 120
  for (size_t i = 0; i < filler; ++i) p.push_back(static_cast<uint8_t>(seed + i));
  return p;
}

// VP6 (CodecID 4): after the flags and the size-adjustment byte, an intra
// frame header of 8 x 10 macroblocks (160 x 128) for key frames, an inter
// frame's first byte otherwise.
inline std::vector<uint8_t> Vp6Video(bool key, size_t filler, uint8_t seed = 0) {
  std::vector<uint8_t> p = {static_cast<uint8_t>(key ? 0x14 : 0x24), 0x00};
  if (key) {
    p.insert(p.end(), {0x00,    // intra frame, quantiser 0
                       0x46,    // version
                       8, 10});  // macroblock rows, columns
  } else {
    p.push_back(0x80);
  }
  for (size_t i = 0; i < filler; ++i) p.push_back(static_cast<uint8_t>(seed + i));
  return p;
}

// PCM, 16-bit stereo 44.1 kHz (SoundFormat 3).
inline std::vector<uint8_t> PcmAudio(size_t filler, uint8_t seed = 0) {
  std::vector<uint8_t> p = {0x3F};
  for (size_t i = 0; i < filler; ++i) p.push_back(static_cast<uint8_t>(seed + i));
  return p;
}

struct Layout {
  uint32_t durationMs = 10000;
  uint32_t videoIntervalMs = 100;  // 0: no video
  uint32_t keyIntervalMs = 1000;
  uint32_t audioIntervalMs = 50;   // 0: no audio
  bool vp6 = false;
  bool metadata = true;
};

struct FileTag {
  int64_t position;
  uint8_t type;
  uint32_t timeMs;
  bool key;
  uint32_t payloadSize;  // what the filter delivers (DataSize minus the prefix)
};

struct CraftedFlv {
  std::vector<uint8_t> bytes;
  std::vector<FileTag> tags;

  // The tags of one type, in file order.
  std::vector<FileTag> Of(uint8_t type) const {
    std::vector<FileTag> out;
    for (const FileTag& t : tags)
      if (t.type == type) out.push_back(t);
    return out;
  }
};

// Video and audio tags interleaved by time (video first at equal times);
// payload sizes vary from tag to tag so that every sample can be told apart.
inline CraftedFlv MakeFlv(const Layout& layout) {
  const bool video = layout.videoIntervalMs != 0;
  const bool audio = layout.audioIntervalMs != 0;
  FlvWriter w(static_cast<uint8_t>((video ? kFlvHasVideo : 0) | (audio ? kFlvHasAudio : 0)));
  CraftedFlv f;
  if (layout.metadata) {
    w.Script(OnMetaData(layout.durationMs / 1000.0, audio ? std::optional<double>(3) : std::nullopt,
                        video ? std::optional<double>(layout.vp6 ? 4 : 3) : std::nullopt));
  }
  uint32_t v = 0, a = 0;
  for (int i = 0;; ++i) {
    const bool videoLeft = video && v < layout.durationMs;
    const bool audioLeft = audio && a < layout.durationMs;
    if (!videoLeft && !audioLeft) break;
    const size_t filler = 20 + static_cast<size_t>(i % 17);
    if (videoLeft && (!audioLeft || v <= a)) {
      const bool key = v % layout.keyIntervalMs == 0;
      const auto payload = layout.vp6 ? Vp6Video(key, filler, static_cast<uint8_t>(i))
                                      : ScreenVideo(key, filler, static_cast<uint8_t>(i));
      const int64_t pos = w.Video(v, payload);
      const uint32_t skip = layout.vp6 ? 2 : 1;
      f.tags.push_back({pos, kFlvTagVideo, v, key, static_cast<uint32_t>(payload.size() - skip)});
      v += layout.videoIntervalMs;
    } else {
      const auto payload = PcmAudio(filler, static_cast<uint8_t>(i));
      const int64_t pos = w.Audio(a, payload);
      f.tags.push_back({pos, kFlvTagAudio, a, true, static_cast<uint32_t>(payload.size() - 1)});
      a += layout.audioIntervalMs;
    }
  }
  f.bytes = w.Bytes();
  return f;
}

inline std::vector<SinkEvent> SamplesOf(const std::vector<SinkEvent>& events) {
  std::vector<SinkEvent> out;
  for (const SinkEvent& e : events)
    if (e.kind == SinkEvent::kSample) out.push_back(e);
  return out;
}

inline int CountOf(const std::vector<SinkEvent>& events, SinkEvent::Kind kind) {
  int n = 0;
  for (const SinkEvent& e : events) n += e.kind == kind ? 1 : 0;
  return n;
}

// A graph around one CFlvDmx: the bytes in a memory reader behind the host's
// file source, the filter, and a recording sink per output pin that the test
// connects. The filter is made directly (not through the class factory) so
// that the test can reach its hooks; the rig holds one reference on
// everything and lets go of it all (graph emptied first) when it goes.
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

  // Connects the source to the filter: the filter scans the file.
  HRESULT ConnectInput() {
    return m_pGraph->Connect(m_pSource->OutputPin(), m_pDmx->GetPin(0));
  }

  CFlvDmx* Dmx() { return m_pDmx; }
  CMemoryReader* Reader() { return m_pReader; }
  CHostGraph* Graph() { return m_pGraph; }

  // The output pins' names in the filter's order.
  std::vector<std::string> OutputPinNames() {
    std::vector<std::string> names;
    for (int i = 0; i < m_pDmx->GetOutputPinCount(); ++i) {
      std::string name;
      for (const wchar_t* p = m_pDmx->GetOutputPin(i)->Name(); p != nullptr && *p != 0; ++p)
        name.push_back(static_cast<char>(*p));
      names.push_back(name);
    }
    return names;
  }

  // The filter's output pin of that name, without a reference; null if none.
  CBaseDmxOutputPin* OutputPin(const std::string& name) {
    const std::vector<std::string> names = OutputPinNames();
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return m_pDmx->GetOutputPin(static_cast<int>(i));
    return nullptr;
  }

  // A recording sink connected to that pin (the rig keeps the reference).
  CRecordingSink* ConnectSink(const std::string& name) {
    CRecordingSink* pSink = nullptr;
    EXPECT_EQ(CRecordingSink::Create(&pSink), S_OK);
    m_Sinks[name] = pSink;
    EXPECT_EQ(m_pGraph->AddFilter(pSink->AsBaseFilter(), nullptr), S_OK);
    IPin* pPin = OutputPin(name);
    EXPECT_NE(pPin, nullptr) << name;
    if (pPin != nullptr) {
      EXPECT_EQ(m_pGraph->Connect(pPin, pSink->InputPin()), S_OK) << name;
    }
    return pSink;
  }

  void ConnectAllSinks() {
    for (const std::string& name : OutputPinNames()) ConnectSink(name);
  }

  CRecordingSink* Sink(const std::string& name) { return m_Sinks[name]; }

  // IMediaSeeking of the pin feeding the first sink, with a reference.
  IMediaSeeking* Seeking() {
    IMediaSeeking* pSeeking = nullptr;
    EXPECT_EQ(m_pGraph->GetSeeking(&pSeeking), S_OK);
    return pSeeking;
  }

  // Runs the graph and waits for its completion or abort: the event code
  // (0 when the wait timed out).
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

}  // namespace flvdmx::filtertest
