// The recording sink: what it records of each sample and event, when it
// reports end-of-stream to the graph, what it refuses, and how it pushes back
// on its upstream filter (held samples, a delay per sample).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "baseclasses/unknown.h"
#include "diag/crc32.h"
#include "host/sink.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

const GUID kSubtype = FourccGuid(MakeFourcc('S', 'N', 'K', '1'));

// A scripted upstream filter with one output pin connected to a recording
// sink; both joined to a test graph that keeps the events.
class SinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_cBefore = CUnknown::ObjectsActive();
    m_pUpstream = new CTestFilter();
    m_pUpstream->AddRef();
    m_pOut = m_pUpstream->AddOutputPin(L"Out");
    m_pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, kSubtype));
    m_pOut->m_Request = ALLOCATOR_PROPERTIES{2, 64, 1, 0};
    ASSERT_EQ(CRecordingSink::Create(&m_pSink), S_OK);
    m_pUpstream->JoinFilterGraph(m_Graph.AsGraph(), L"Upstream");
    m_pSink->JoinFilterGraph(m_Graph.AsGraph(), L"Sink");
    ASSERT_EQ(m_pOut->Connect(m_pSink->InputPin(), nullptr), S_OK);
  }

  void TearDown() override {
    Stop();
    m_pOut->Disconnect();
    m_pSink->InputPin()->Disconnect();
    m_pUpstream->JoinFilterGraph(nullptr, nullptr);
    m_pSink->JoinFilterGraph(nullptr, nullptr);
    m_pSink->Release();
    m_pUpstream->Release();
    ExpectObjectsActive(m_cBefore);
  }

  void Pause() {
    ASSERT_EQ(m_pSink->Pause(), S_OK);
    ASSERT_EQ(m_pUpstream->Pause(), S_OK);
  }
  void Stop() {
    m_pSink->Stop();
    m_pUpstream->Stop();
  }

  // One sample through the upstream pin; null times leave the sample untimed.
  HRESULT Send(const std::string& payload, REFERENCE_TIME* pStart = nullptr,
               REFERENCE_TIME* pStop = nullptr, bool bSync = false, bool bDiscontinuity = false,
               bool bPreroll = false) {
    IMediaSample* pSample = nullptr;
    HRESULT hr = m_pOut->GetDeliveryBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT);
    if (FAILED(hr)) return hr;
    BYTE* pData = nullptr;
    pSample->GetPointer(&pData);
    std::memcpy(pData, payload.data(), payload.size());
    pSample->SetActualDataLength(static_cast<LONG>(payload.size()));
    pSample->SetTime(pStart, pStop);
    pSample->SetSyncPoint(bSync);
    pSample->SetDiscontinuity(bDiscontinuity);
    pSample->SetPreroll(bPreroll);
    hr = m_pOut->Deliver(pSample);
    pSample->Release();
    return hr;
  }

  int CompletionsReported() {
    int n = 0;
    for (const CTestGraph::Event& e : m_Graph.Events()) {
      if (e.code != EC_COMPLETE) continue;
      EXPECT_EQ(e.param2, reinterpret_cast<LONG_PTR>(m_pSink->AsBaseFilter()));
      ++n;
    }
    return n;
  }

  std::vector<SinkEvent::Kind> Kinds() {
    std::vector<SinkEvent::Kind> kinds;
    for (const SinkEvent& e : m_pSink->Events()) kinds.push_back(e.kind);
    return kinds;
  }

  LONG m_cBefore = 0;
  CTestGraph m_Graph;
  CTestFilter* m_pUpstream = nullptr;
  CTestOutputPin* m_pOut = nullptr;
  CRecordingSink* m_pSink = nullptr;
};

TEST_F(SinkTest, RecordsEachSampleAsItCarriesItself) {
  Pause();
  REFERENCE_TIME t10 = 10;
  REFERENCE_TIME t20 = 20;
  ASSERT_EQ(Send("123456789", &t10, &t20, true, false, false), S_OK);
  ASSERT_EQ(Send("ab", &t20, nullptr, false, true, true), S_OK);
  ASSERT_EQ(Send("", nullptr, nullptr), S_OK);

  const std::vector<SinkEvent> events = m_pSink->Events();
  ASSERT_EQ(events.size(), 3u);
  // Times, flags, length and the zlib CRC-32 of the payload.
  EXPECT_EQ(events[0].hrTime, S_OK);
  EXPECT_EQ(events[0].tStart, 10);
  EXPECT_EQ(events[0].tStop, 20);
  EXPECT_TRUE(events[0].bSyncPoint);
  EXPECT_FALSE(events[0].bDiscontinuity);
  EXPECT_FALSE(events[0].bPreroll);
  EXPECT_EQ(events[0].lActual, 9);
  EXPECT_EQ(events[0].dwCrc32, 0xCBF43926u);
  // A start without a stop, and the other flags.
  EXPECT_EQ(events[1].hrTime, VFW_S_NO_STOP_TIME);
  EXPECT_EQ(events[1].tStart, 20);
  EXPECT_FALSE(events[1].bSyncPoint);
  EXPECT_TRUE(events[1].bDiscontinuity);
  EXPECT_TRUE(events[1].bPreroll);
  EXPECT_EQ(events[1].dwCrc32, Crc32(reinterpret_cast<const uint8_t*>("ab"), 2));
  // No time at all, and no data.
  EXPECT_EQ(events[2].hrTime, VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(events[2].tStart, 0);
  EXPECT_EQ(events[2].lActual, 0);
  EXPECT_EQ(events[2].dwCrc32, 0u);
  EXPECT_EQ(m_pSink->SampleCount(), 3u);
}

TEST_F(SinkTest, RecordsSegmentsFlushesAndEndOfStreamInArrivalOrder) {
  Pause();
  ASSERT_EQ(m_pOut->DeliverNewSegment(100, 900, 1.5), S_OK);
  ASSERT_EQ(Send("x"), S_OK);
  ASSERT_EQ(m_pOut->DeliverBeginFlush(), S_OK);
  ASSERT_EQ(m_pOut->DeliverEndFlush(), S_OK);
  ASSERT_EQ(m_pOut->DeliverEndOfStream(), S_OK);
  EXPECT_EQ(Kinds(), (std::vector<SinkEvent::Kind>{SinkEvent::kNewSegment, SinkEvent::kSample,
                                                   SinkEvent::kBeginFlush, SinkEvent::kEndFlush,
                                                   SinkEvent::kEndOfStream}));
  const SinkEvent segment = m_pSink->Events()[0];
  EXPECT_EQ(segment.tStart, 100);
  EXPECT_EQ(segment.tStop, 900);
  EXPECT_EQ(segment.dRate, 1.5);
  m_pSink->ClearEvents();
  EXPECT_TRUE(m_pSink->Events().empty());
  EXPECT_EQ(m_pSink->SampleCount(), 1u);
}

// What happens to end-of-stream in each situation: how many EC_COMPLETE the
// graph gets and how many of the sink's end-of-stream events are ignored.
class SinkEndOfStream;
struct EndOfStreamCase {
  const char* name;
  void (*drive)(SinkEndOfStream* rig, CTestOutputPin* pOut);
  int cCompletions;
  int cIgnored;
};

void PrintTo(const EndOfStreamCase& c, std::ostream* os) { *os << c.name; }

class SinkEndOfStream : public SinkTest, public ::testing::WithParamInterface<EndOfStreamCase> {
 public:
  void PauseRig() { Pause(); }
  void StopRig() { Stop(); }
};

TEST_P(SinkEndOfStream, ReportsOncePerRunWhileStreaming) {
  GetParam().drive(this, m_pOut);
  EXPECT_EQ(CompletionsReported(), GetParam().cCompletions);
  int cIgnored = 0;
  for (const SinkEvent& e : m_pSink->Events())
    if (e.kind == SinkEvent::kEndOfStream && e.bIgnored) ++cIgnored;
  EXPECT_EQ(cIgnored, GetParam().cIgnored);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, SinkEndOfStream,
    ::testing::Values(
        EndOfStreamCase{"WhilePaused",
                        [](SinkEndOfStream* rig, CTestOutputPin* pOut) {
                          rig->PauseRig();
                          EXPECT_EQ(pOut->DeliverEndOfStream(), S_OK);
                        },
                        1, 0},
        EndOfStreamCase{"TwiceInOneRun",
                        [](SinkEndOfStream* rig, CTestOutputPin* pOut) {
                          rig->PauseRig();
                          pOut->DeliverEndOfStream();
                          pOut->DeliverEndOfStream();
                        },
                        1, 1},
        EndOfStreamCase{"WhileStopped",
                        [](SinkEndOfStream*, CTestOutputPin* pOut) {
                          EXPECT_EQ(pOut->DeliverEndOfStream(), S_OK);
                        },
                        0, 1},
        EndOfStreamCase{"WhileFlushing",
                        [](SinkEndOfStream* rig, CTestOutputPin* pOut) {
                          rig->PauseRig();
                          pOut->DeliverBeginFlush();
                          EXPECT_EQ(pOut->DeliverEndOfStream(), S_OK);
                          pOut->DeliverEndFlush();
                        },
                        0, 1},
        EndOfStreamCase{"AgainAfterAFlush",
                        [](SinkEndOfStream* rig, CTestOutputPin* pOut) {
                          rig->PauseRig();
                          pOut->DeliverEndOfStream();
                          pOut->DeliverBeginFlush();
                          pOut->DeliverEndFlush();
                          pOut->DeliverEndOfStream();
                        },
                        2, 0},
        EndOfStreamCase{"AgainAfterStopAndPause",
                        [](SinkEndOfStream* rig, CTestOutputPin* pOut) {
                          rig->PauseRig();
                          pOut->DeliverEndOfStream();
                          rig->StopRig();
                          rig->PauseRig();
                          pOut->DeliverEndOfStream();
                        },
                        2, 0}),
    [](const ::testing::TestParamInfo<EndOfStreamCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(SinkTest, RefusesSamplesWhileStoppedOrFlushingAndCountsThem) {
  Pause();
  ASSERT_EQ(m_pOut->DeliverBeginFlush(), S_OK);
  EXPECT_EQ(Send("b"), S_FALSE);
  ASSERT_EQ(m_pOut->DeliverEndFlush(), S_OK);
  EXPECT_EQ(Send("c"), S_OK);
  // The sink's stop decommits the allocator it shares with the upstream pin;
  // restarting the upstream filter alone gets a buffer to send.
  m_pSink->Stop();
  ASSERT_EQ(m_pUpstream->Stop(), S_OK);
  ASSERT_EQ(m_pUpstream->Pause(), S_OK);
  IMediaSample* pSample = nullptr;
  ASSERT_EQ(m_pOut->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(m_pOut->Deliver(pSample), VFW_E_WRONG_STATE);
  pSample->Release();
  EXPECT_EQ(m_pSink->SampleCount(), 1u);
  EXPECT_EQ(m_pSink->RejectedSampleCount(), 2u);
}

// Each way a held sample goes back to its allocator.
struct ReleaseCase {
  const char* name;
  void (*release)(CRecordingSink* pSink, CTestOutputPin* pOut);
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class SinkHolding : public SinkTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(SinkHolding, HeldSamplesDryUpTheAllocatorUntilLetGo) {
  m_pSink->SetHoldSamples(true);
  Pause();
  ASSERT_EQ(Send("1"), S_OK);
  ASSERT_EQ(Send("2"), S_OK);
  EXPECT_EQ(m_pSink->HeldSampleCount(), 2);
  EXPECT_EQ(Send("3"), VFW_E_TIMEOUT);  // both buffers are downstream

  GetParam().release(m_pSink, m_pOut);
  EXPECT_EQ(m_pSink->HeldSampleCount(), 0);
  if (m_pSink->IsActive()) {
    EXPECT_EQ(Send("4"), S_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SinkHolding,
    ::testing::Values(
        ReleaseCase{"ReleaseHeldSamples",
                    [](CRecordingSink* pSink, CTestOutputPin*) { pSink->ReleaseHeldSamples(); }},
        ReleaseCase{"Flush",
                    [](CRecordingSink*, CTestOutputPin* pOut) {
                      pOut->DeliverBeginFlush();
                      pOut->DeliverEndFlush();
                    }},
        ReleaseCase{"Stop", [](CRecordingSink* pSink, CTestOutputPin*) { pSink->Stop(); }}),
    [](const ::testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.name); });

TEST_F(SinkTest, SampleDelaySlowsEveryReceive) {
  m_pSink->SetSampleDelay(std::chrono::milliseconds(20));
  Pause();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Send("s"), S_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

TEST_F(SinkTest, CallbackSeesEveryEventAndTheSamplePayload) {
  std::vector<SinkEvent::Kind> kinds;
  std::string payloads;
  m_pSink->SetEventCallback([&](const SinkEvent& e, const BYTE* pPayload) {
    kinds.push_back(e.kind);
    if (e.kind == SinkEvent::kSample) {
      ASSERT_NE(pPayload, nullptr);
      payloads.append(reinterpret_cast<const char*>(pPayload), static_cast<size_t>(e.lActual));
    } else {
      EXPECT_EQ(pPayload, nullptr);
    }
  });
  Pause();
  m_pOut->DeliverNewSegment(0, 10, 1.0);
  Send("he");
  Send("llo");
  m_pOut->DeliverEndOfStream();
  EXPECT_EQ(payloads, "hello");
  EXPECT_EQ(kinds, Kinds());
  EXPECT_EQ(kinds.size(), 4u);
}

TEST_F(SinkTest, AcceptsAnyMediaType) {
  const GUID majors[] = {MEDIATYPE_Video, MEDIATYPE_Audio, MEDIATYPE_Stream, GUID_NULL};
  for (const GUID& major : majors) {
    CMediaType mt = MakeMediaType(major, FourccGuid(MakeFourcc('A', 'N', 'Y', '0')));
    EXPECT_EQ(m_pSink->InputPin()->QueryAccept(&mt), S_OK);
  }
}

}  // namespace
}  // namespace flvdmx
