// The recording sink: when it reports end-of-stream to the graph.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "baseclasses/unknown.h"
#include "host/sink.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

// A script of steps through an upstream pin (P pause, S stop, E end-of-stream,
// B and b begin and end a flush), how many EC_COMPLETE the graph gets and how
// many end-of-streams the sink ignores.
class SinkEndOfStream : public ::testing::TestWithParam<std::tuple<const char*, int, int>> {
 protected:
  void SetUp() override {
    m_pUpstream = new CTestFilter();
    m_pUpstream->AddRef();
    m_pOut = m_pUpstream->AddOutputPin(L"Out");
    m_pOut->m_Script.offered.push_back(
        MakeMediaType(MEDIATYPE_Video, FourccGuid(MakeFourcc('S', 'N', 'K', '1'))));
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

  void Stop() {
    m_pSink->Stop();
    m_pUpstream->Stop();
  }

  const LONG m_cBefore = CUnknown::ObjectsActive();
  CTestGraph m_Graph;
  CTestFilter* m_pUpstream = nullptr;
  CTestOutputPin* m_pOut = nullptr;
  CRecordingSink* m_pSink = nullptr;
};

TEST_P(SinkEndOfStream, ReportsOncePerRunWhileStreaming) {
  const auto [steps, cCompletions, cIgnored] = GetParam();
  for (const char* p = steps; *p != 0; ++p) {
    switch (*p) {
      case 'P':
        ASSERT_EQ(m_pSink->Pause(), S_OK);
        ASSERT_EQ(m_pUpstream->Pause(), S_OK);
        break;
      case 'S':
        Stop();
        break;
      case 'E':
        m_pOut->DeliverEndOfStream();
        break;
      case 'B':
        m_pOut->DeliverBeginFlush();
        break;
      case 'b':
        m_pOut->DeliverEndFlush();
        break;
    }
  }
  int cReported = 0;
  for (const CTestGraph::Event& e : m_Graph.Events()) {
    if (e.code != EC_COMPLETE) continue;
    EXPECT_EQ(e.param2, reinterpret_cast<LONG_PTR>(m_pSink->AsBaseFilter()));
    ++cReported;
  }
  EXPECT_EQ(cReported, cCompletions);
  const auto events = m_pSink->Events();
  EXPECT_EQ(std::count_if(
                events.begin(), events.end(),
                [](const SinkEvent& e) { return e.kind == SinkEvent::kEndOfStream && e.bIgnored; }),
            cIgnored);
}

INSTANTIATE_TEST_SUITE_P(Situations, SinkEndOfStream,
                         ::testing::Values(std::make_tuple("PE", 1, 0),
                                           std::make_tuple("PEE", 1, 1), std::make_tuple("E", 0, 1),
                                           std::make_tuple("PBEb", 0, 1),
                                           std::make_tuple("PEBbE", 2, 0),
                                           std::make_tuple("PESPE", 2, 0)));

}  // namespace
}  // namespace flvdmx
