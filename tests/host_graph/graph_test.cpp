// The host graph on scripted filters: membership and names, connections, the
// order of state changes, the completion count and the events handed to the
// application, and what it lets go of.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "baseclasses/unknown.h"
#include "host/graph.h"
#include "host/sink.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

using namespace std::chrono_literals;

const GUID kSubtype = FourccGuid(MakeFourcc('G', 'R', 'P', 'H'));

// A scripted filter that writes each state change it gets into a shared log,
// and can be told to refuse Pause.
class CLoggingFilter : public CTestFilter {
 public:
  CLoggingFilter(std::vector<std::string>* pLog, std::string name)
      : m_pLog(pLog), m_Name(std::move(name)) {}

  STDMETHODIMP Stop() override { return Log("stop"), CTestFilter::Stop(); }
  STDMETHODIMP Pause() override { return Log("pause"), FAILED(m_hrPause) ? m_hrPause : CTestFilter::Pause(); }
  STDMETHODIMP Run(REFERENCE_TIME tStart) override { return Log("run"), CTestFilter::Run(tStart); }
  void Log(const char* verb) { m_pLog->push_back(verb + (" " + m_Name)); }

  HRESULT m_hrPause = S_OK;

 private:
  std::vector<std::string>* const m_pLog;
  const std::string m_Name;
};

// source -> mid -> two sinks, added upstream first, so that a graph walking
// its filters in the order they were added would get every order wrong.
class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_cBefore = CUnknown::ObjectsActive();
    ASSERT_EQ(CHostGraph::Create(&m_pGraph), S_OK);
    m_pSource = Make("source");
    m_pMid = Make("mid");
    m_pSinkA = Make("sinkA");
    m_pSinkB = Make("sinkB");
    for (CLoggingFilter* f : {m_pSource, m_pMid, m_pSinkA, m_pSinkB})
      ASSERT_EQ(m_pGraph->AddFilter(f->AsBaseFilter(), nullptr), S_OK);
    ASSERT_EQ(Link(m_pSource, m_pMid), S_OK);
    ASSERT_EQ(Link(m_pMid, m_pSinkA), S_OK);
    ASSERT_EQ(Link(m_pMid, m_pSinkB), S_OK);
    m_Log.clear();
  }

  void TearDown() override {
    if (m_pGraph != nullptr) m_pGraph->Release();
    for (CLoggingFilter* f : m_Filters) f->Release();
    ExpectObjectsActive(m_cBefore);
  }

  CLoggingFilter* Make(const char* name) {
    auto* f = new CLoggingFilter(&m_Log, name);
    f->AddRef();
    m_Filters.push_back(f);
    return f;
  }

  // A new output pin on `up` connected through the graph to a new input pin
  // on `down`.
  HRESULT Link(CLoggingFilter* up, CLoggingFilter* down) {
    CTestOutputPin* pOut = up->AddOutputPin(L"Out");
    pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, kSubtype));
    CTestInputPin* pIn = down->AddInputPin(L"In");
    return m_pGraph->Connect(pOut, pIn);
  }

  size_t Position(const std::string& entry) {
    auto it = std::find(m_Log.begin(), m_Log.end(), entry);
    EXPECT_NE(it, m_Log.end()) << entry << " is missing";
    return static_cast<size_t>(it - m_Log.begin());
  }

  void ExpectDownstreamFirst(const std::string& verb) {
    EXPECT_LT(Position(verb + " sinkA"), Position(verb + " mid"));
    EXPECT_LT(Position(verb + " sinkB"), Position(verb + " mid"));
    EXPECT_LT(Position(verb + " mid"), Position(verb + " source"));
  }

  LONG m_cBefore = 0;
  std::vector<std::string> m_Log;
  std::vector<CLoggingFilter*> m_Filters;
  CHostGraph* m_pGraph = nullptr;
  CLoggingFilter* m_pSource = nullptr;
  CLoggingFilter* m_pMid = nullptr;
  CLoggingFilter* m_pSinkA = nullptr;
  CLoggingFilter* m_pSinkB = nullptr;
};

TEST_F(GraphTest, StateChangesGoDownstreamFirstAndRunPausesEveryFilterFirst) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  ExpectDownstreamFirst("pause");
  ExpectDownstreamFirst("run");
  EXPECT_LT(Position("pause source"), Position("run sinkA"));
  m_Log.clear();
  ASSERT_EQ(m_pGraph->Stop(), S_OK);
  ExpectDownstreamFirst("stop");
}

TEST_F(GraphTest, AFilterThatCannotPauseStopsTheWholeGraph) {
  m_pMid->m_hrPause = E_FAIL;
  EXPECT_EQ(m_pGraph->Run(), E_FAIL);
  EXPECT_EQ(m_pGraph->GetState(), State_Stopped);
  EXPECT_EQ(std::count(m_Log.begin(), m_Log.end(), "pause source"), 0);
  for (CLoggingFilter* f : m_Filters) EXPECT_TRUE(f->IsStopped());
}

TEST_F(GraphTest, NamesAreMadeUniqueAndFoundAgain) {
  CLoggingFilter* added[3] = {Make("a"), Make("b"), Make("c")};
  for (CLoggingFilter* f : added) ASSERT_EQ(m_pGraph->AddFilter(f->AsBaseFilter(), L"Decoder"), S_OK);
  FILTER_INFO info{};
  ASSERT_EQ(m_pSinkB->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Filter 0003") << "the rig's filters have no name";
  info.pGraph->Release();

  IBaseFilter* pFound = nullptr;
  ASSERT_EQ(m_pGraph->FindFilterByName(L"Decoder 0001", &pFound), S_OK);
  EXPECT_EQ(pFound, added[1]->AsBaseFilter());
  pFound->Release();
  EXPECT_EQ(m_pGraph->FindFilterByName(L"decoder", &pFound), VFW_E_NOT_FOUND);
}

TEST_F(GraphTest, RemovingAFilterDisconnectsBothSidesOfEachPin) {
  ASSERT_EQ(m_pGraph->RemoveFilter(m_pMid->AsBaseFilter()), S_OK);
  for (CLoggingFilter* f : m_Filters)
    for (int i = 0; i < f->GetPinCount(); ++i) EXPECT_FALSE(f->GetPin(i)->IsConnected());
  EXPECT_EQ(m_pGraph->RemoveFilter(m_pMid->AsBaseFilter()), VFW_E_NOT_FOUND);
  EXPECT_EQ(m_pGraph->FilterCount(), 3);
}

TEST_F(GraphTest, ReleasingTheGraphLetsGoOfEveryFilter) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  EXPECT_EQ(m_pGraph->Release(), 0u);
  m_pGraph = nullptr;
  for (CLoggingFilter* f : m_Filters) {
    ExpectRefCount(f->AsBaseFilter(), 1);
    EXPECT_TRUE(f->IsStopped());
    EXPECT_EQ(f->GetFilterGraph(), nullptr);
    for (int i = 0; i < f->GetPinCount(); ++i) EXPECT_FALSE(f->GetPin(i)->IsConnected());
  }
}

// Two recording sinks fed by one scripted filter: the graph's completion.
class GraphCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    m_cBefore = CUnknown::ObjectsActive();
    ASSERT_EQ(CHostGraph::Create(&m_pGraph), S_OK);
    m_pUp = new CTestFilter();
    m_pUp->AddRef();
    ASSERT_EQ(m_pGraph->AddFilter(m_pUp->AsBaseFilter(), L"Up"), S_OK);
    for (CRecordingSink*& sink : m_Sinks) {
      ASSERT_EQ(CRecordingSink::Create(&sink), S_OK);
      ASSERT_EQ(m_pGraph->AddFilter(sink->AsBaseFilter(), L"Sink"), S_OK);
      CTestOutputPin* pOut = m_pUp->AddOutputPin(L"Out");
      pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Audio, kSubtype));
      ASSERT_EQ(m_pGraph->Connect(pOut, sink->InputPin()), S_OK);
    }
  }
  void TearDown() override {
    m_pGraph->Release();
    for (CRecordingSink* sink : m_Sinks) sink->Release();
    m_pUp->Release();
    ExpectObjectsActive(m_cBefore);
  }

  LONG Wait(DWORD dwMs, HRESULT* phr = nullptr) {
    LONG lCode = -1;
    const HRESULT hr = m_pGraph->WaitForCompletion(dwMs, &lCode);
    if (phr != nullptr) *phr = hr;
    return lCode;
  }

  LONG m_cBefore = 0;
  CHostGraph* m_pGraph = nullptr;
  CTestFilter* m_pUp = nullptr;
  CRecordingSink* m_Sinks[2] = {};
};

TEST_F(GraphCompletion, CompletesOnceEverySinkHasReportedEndOfStream) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  HRESULT hr = S_OK;
  EXPECT_EQ(Wait(0, &hr), 0);
  EXPECT_EQ(hr, E_ABORT);
  m_Sinks[0]->InputPin()->EndOfStream();
  m_Sinks[0]->InputPin()->EndOfStream();  // one sink twice is still one sink
  EXPECT_EQ(Wait(20), 0);
  m_Sinks[1]->InputPin()->EndOfStream();
  EXPECT_EQ(Wait(1000, &hr), EC_COMPLETE);
  EXPECT_EQ(Wait(0), 0) << "taken: the next wait is for the next completion";
  LONG lCode = 0;
  LONG_PTR lParam1 = -1, lParam2 = -1;
  ASSERT_EQ(m_pGraph->GetEvent(&lCode, &lParam1, &lParam2, 0), S_OK);
  EXPECT_EQ(lCode, EC_COMPLETE);
  EXPECT_EQ(m_pGraph->GetEvent(&lCode, &lParam1, &lParam2, 0), E_ABORT);
}

TEST_F(GraphCompletion, AbortEndsTheWaitAtOnceWithItsResult) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  std::thread notifier([this] {
    std::this_thread::sleep_for(20ms);
    m_pUp->NotifyEvent(EC_ERRORABORT, E_OUTOFMEMORY, 0);
  });
  EXPECT_EQ(Wait(INFINITE), EC_ERRORABORT);
  notifier.join();
  const std::vector<CHostGraph::Event> events = m_pGraph->PeekEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].lCode, EC_ERRORABORT);
  EXPECT_EQ(events[0].lParam1, E_OUTOFMEMORY);
}

TEST_F(GraphCompletion, ANewRunForgetsTheOutcomeOfTheLastOne) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  m_pUp->NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
  m_Sinks[0]->InputPin()->EndOfStream();
  ASSERT_EQ(m_pGraph->Stop(), S_OK);
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  EXPECT_EQ(Wait(0), 0);
  m_Sinks[1]->InputPin()->EndOfStream();  // the sink that ended last run must end again
  EXPECT_EQ(Wait(20), 0);
  m_Sinks[0]->InputPin()->EndOfStream();
  EXPECT_EQ(Wait(1000), EC_COMPLETE);
}

}  // namespace
}  // namespace flvdmx
