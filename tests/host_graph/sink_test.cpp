// The recording sink: what it records of each sample and event, when it
// reports end-of-stream to the graph, what it refuses, and how it pushes back
// on its upstream filter (held samples, a delay per sample).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "baseclasses/unknown.h"
#include "host/sink.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

const GUID kSubtype = FourccGuid(MakeFourcc('S', 'N', 'K', '1'));

// A scripted upstream filter with one output pin connected to a recording
// sink; both joined to a test graph that keeps the events.
class SinkTest : public ::testing::Test {
 public:
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

  LONG m_cBefore = 0;
  CTestGraph m_Graph;
  CTestFilter* m_pUpstream = nullptr;
  CTestOutputPin* m_pOut = nullptr;
  CRecordingSink* m_pSink = nullptr;
};

// Times as far as they are set, flags, length and the zlib CRC-32 of the payload.
TEST_F(SinkTest, RecordsEachSampleAsItCarriesItself) {
  Pause();
  REFERENCE_TIME t10 = 10, t20 = 20;
  ASSERT_EQ(Send("123456789", &t10, &t20, true, false, false), S_OK);
  ASSERT_EQ(Send("ab", &t20, nullptr, false, true, true), S_OK);
  ASSERT_EQ(Send("", nullptr, nullptr), S_OK);
  const std::vector<SinkEvent> e = m_pSink->Events();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(std::make_tuple(e[0].hrTime, e[0].tStart, e[0].tStop, e[0].lActual, e[0].dwCrc32),
            std::make_tuple(S_OK, 10, 20, 9, 0xCBF43926u));
  EXPECT_TRUE(e[0].bSyncPoint && !e[0].bDiscontinuity && !e[0].bPreroll);
  EXPECT_EQ(std::make_tuple(e[1].hrTime, e[1].tStart), std::make_tuple(VFW_S_NO_STOP_TIME, 20));
  EXPECT_TRUE(!e[1].bSyncPoint && e[1].bDiscontinuity && e[1].bPreroll);
  EXPECT_EQ(std::make_tuple(e[2].hrTime, e[2].lActual, e[2].dwCrc32),
            std::make_tuple(VFW_E_SAMPLE_TIME_NOT_SET, 0, 0u));
}

// A script of steps through the upstream pin: P pause, S stop, E end-of-stream,
// B and b begin and end a flush, R release held samples.
void Drive(SinkTest* t, const char* steps);

class SinkEndOfStream : public SinkTest,
                        public ::testing::WithParamInterface<std::tuple<const char*, int, int>> {};

// How many EC_COMPLETE the graph gets and how many end-of-streams the sink ignores.
TEST_P(SinkEndOfStream, ReportsOncePerRunWhileStreaming) {
  const auto [steps, cCompletions, cIgnored] = GetParam();
  Drive(this, steps);
  EXPECT_EQ(CompletionsReported(), cCompletions);
  const auto events = m_pSink->Events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const SinkEvent& e) { return e.kind == SinkEvent::kEndOfStream && e.bIgnored; }),
            cIgnored);
}

INSTANTIATE_TEST_SUITE_P(Situations, SinkEndOfStream,
                         ::testing::Values(std::make_tuple("PE", 1, 0), std::make_tuple("PEE", 1, 1),
                                           std::make_tuple("E", 0, 1), std::make_tuple("PBEb", 0, 1),
                                           std::make_tuple("PEBbE", 2, 0), std::make_tuple("PESPE", 2, 0)));

class SinkHolding : public SinkTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SinkHolding, HeldSamplesDryUpTheAllocatorUntilLetGo) {
  m_pSink->SetHoldSamples(true);
  Pause();
  ASSERT_EQ(Send("1"), S_OK);
  ASSERT_EQ(Send("2"), S_OK);
  EXPECT_EQ(m_pSink->HeldSampleCount(), 2);
  EXPECT_EQ(Send("3"), VFW_E_TIMEOUT);  // both buffers are downstream
  Drive(this, GetParam());
  EXPECT_EQ(m_pSink->HeldSampleCount(), 0);
  if (m_pSink->IsActive()) {
    EXPECT_EQ(Send("4"), S_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, SinkHolding, ::testing::Values("R", "Bb", "S"));

void Drive(SinkTest* t, const char* steps) {
  for (; *steps != 0; ++steps) {
    switch (*steps) {
      case 'P': t->Pause(); break;
      case 'S': t->Stop(); break;
      case 'E': t->m_pOut->DeliverEndOfStream(); break;
      case 'B': t->m_pOut->DeliverBeginFlush(); break;
      case 'b': t->m_pOut->DeliverEndFlush(); break;
      case 'R': t->m_pSink->ReleaseHeldSamples(); break;
    }
  }
}

}  // namespace
}  // namespace flvdmx
