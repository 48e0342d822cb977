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

  STDMETHODIMP Stop() override {
    m_pLog->push_back("stop " + m_Name);
    return CTestFilter::Stop();
  }
  STDMETHODIMP Pause() override {
    m_pLog->push_back("pause " + m_Name);
    if (FAILED(m_hrPause)) return m_hrPause;
    return CTestFilter::Pause();
  }
  STDMETHODIMP Run(REFERENCE_TIME tStart) override {
    m_pLog->push_back("run " + m_Name);
    return CTestFilter::Run(tStart);
  }

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

TEST_F(GraphTest, StateChangesReachTheMostDownstreamFiltersFirst) {
  ASSERT_EQ(m_pGraph->Pause(), S_OK);
  ExpectDownstreamFirst("pause");
  EXPECT_EQ(m_pGraph->GetState(), State_Paused);

  m_Log.clear();
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  ExpectDownstreamFirst("run");
  EXPECT_EQ(m_pGraph->GetState(), State_Running);

  m_Log.clear();
  ASSERT_EQ(m_pGraph->Stop(), S_OK);
  ExpectDownstreamFirst("stop");
  EXPECT_EQ(m_pGraph->GetState(), State_Stopped);
}

TEST_F(GraphTest, RunFromStoppedPausesEveryFilterBeforeRunningAny) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  ExpectDownstreamFirst("pause");
  ExpectDownstreamFirst("run");
  EXPECT_LT(Position("pause source"), Position("run sinkA"));
  for (CLoggingFilter* f : m_Filters) {
    FILTER_STATE state = State_Stopped;
    f->GetState(0, &state);
    EXPECT_EQ(state, State_Running);
  }
}

TEST_F(GraphTest, AFilterThatCannotPauseStopsTheWholeGraph) {
  m_pMid->m_hrPause = E_FAIL;
  EXPECT_EQ(m_pGraph->Run(), E_FAIL);
  EXPECT_EQ(m_pGraph->GetState(), State_Stopped);
  EXPECT_EQ(std::count(m_Log.begin(), m_Log.end(), "pause source"), 0);
  for (CLoggingFilter* f : m_Filters) {
    FILTER_STATE state = State_Running;
    f->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
  }
}

TEST_F(GraphTest, NamesAreMadeUniqueAndFoundAgain) {
  CLoggingFilter* a = Make("a");
  CLoggingFilter* b = Make("b");
  CLoggingFilter* c = Make("c");
  ASSERT_EQ(m_pGraph->AddFilter(a->AsBaseFilter(), L"Decoder"), S_OK);
  ASSERT_EQ(m_pGraph->AddFilter(b->AsBaseFilter(), L"Decoder"), S_OK);
  ASSERT_EQ(m_pGraph->AddFilter(c->AsBaseFilter(), L"Decoder"), S_OK);

  FILTER_INFO info{};
  ASSERT_EQ(c->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Decoder 0002");
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(m_pGraph));
  info.pGraph->Release();
  // The four filters of the rig were added without a name.
  ASSERT_EQ(m_pSinkB->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Filter 0003");
  info.pGraph->Release();

  IBaseFilter* pFound = nullptr;
  ASSERT_EQ(m_pGraph->FindFilterByName(L"Decoder 0001", &pFound), S_OK);
  EXPECT_EQ(pFound, b->AsBaseFilter());
  pFound->Release();
  EXPECT_EQ(m_pGraph->FindFilterByName(L"decoder", &pFound), VFW_E_NOT_FOUND);
  EXPECT_EQ(pFound, nullptr);
  EXPECT_EQ(m_pGraph->FilterCount(), 7);
}

TEST_F(GraphTest, RefusesToAddTwiceOrWhileActive) {
  EXPECT_EQ(m_pGraph->AddFilter(m_pMid->AsBaseFilter(), L"again"), E_INVALIDARG);
  EXPECT_EQ(m_pGraph->AddFilter(nullptr, L"none"), E_POINTER);
  ASSERT_EQ(m_pGraph->Pause(), S_OK);
  CLoggingFilter* late = Make("late");
  EXPECT_EQ(m_pGraph->AddFilter(late->AsBaseFilter(), nullptr), VFW_E_NOT_STOPPED);
  EXPECT_EQ(m_pGraph->RemoveFilter(m_pMid->AsBaseFilter()), VFW_E_NOT_STOPPED);
  EXPECT_EQ(m_pGraph->FilterCount(), 4);
}

TEST_F(GraphTest, ConnectsOnlyPinsOfItsOwnFiltersWhileStopped) {
  CLoggingFilter* outsider = Make("outsider");
  CTestInputPin* pForeign = outsider->AddInputPin(L"In");
  CTestOutputPin* pOut = m_pSinkA->AddOutputPin(L"Out");
  pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Video, kSubtype));
  EXPECT_EQ(m_pGraph->Connect(pOut, pForeign), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(m_pGraph->Connect(nullptr, pForeign), E_POINTER);

  ASSERT_EQ(m_pGraph->AddFilter(outsider->AsBaseFilter(), nullptr), S_OK);
  ASSERT_EQ(m_pGraph->Pause(), S_OK);
  EXPECT_EQ(m_pGraph->Connect(pOut, pForeign), VFW_E_NOT_STOPPED);
  ASSERT_EQ(m_pGraph->Stop(), S_OK);

  CMediaType mt = MakeMediaType(MEDIATYPE_Video, kSubtype);
  ASSERT_EQ(m_pGraph->ConnectDirect(pOut, pForeign, &mt), S_OK);
  EXPECT_TRUE(pOut->IsConnected());
  EXPECT_EQ(*pForeign->CurrentMediaType().Subtype(), kSubtype);
}

TEST_F(GraphTest, RemovingAFilterDisconnectsBothSidesOfEachPin) {
  ASSERT_EQ(m_pGraph->RemoveFilter(m_pMid->AsBaseFilter()), S_OK);
  EXPECT_FALSE(m_pSource->GetPin(0)->IsConnected());
  EXPECT_FALSE(m_pSinkA->GetPin(0)->IsConnected());
  EXPECT_FALSE(m_pSinkB->GetPin(0)->IsConnected());
  for (int i = 0; i < m_pMid->GetPinCount(); ++i) EXPECT_FALSE(m_pMid->GetPin(i)->IsConnected());
  FILTER_INFO info{};
  ASSERT_EQ(m_pMid->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(m_pGraph->RemoveFilter(m_pMid->AsBaseFilter()), VFW_E_NOT_FOUND);
  EXPECT_EQ(m_pGraph->FilterCount(), 3);
}

TEST_F(GraphTest, ReleasingTheGraphLetsGoOfEveryFilter) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  EXPECT_EQ(m_pGraph->Release(), 0u);
  m_pGraph = nullptr;
  for (CLoggingFilter* f : m_Filters) {
    ExpectRefCount(f->AsBaseFilter(), 1);
    FILTER_STATE state = State_Running;
    f->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    FILTER_INFO info{};
    f->QueryFilterInfo(&info);
    EXPECT_EQ(info.pGraph, nullptr);
    for (int i = 0; i < f->GetPinCount(); ++i) EXPECT_FALSE(f->GetPin(i)->IsConnected());
  }
}

TEST_F(GraphTest, SeekingNeedsAnOutputPinThatOffersIt) {
  IMediaSeeking* pSeeking = reinterpret_cast<IMediaSeeking*>(1);
  EXPECT_EQ(m_pGraph->GetSeeking(&pSeeking), E_NOINTERFACE);
  EXPECT_EQ(pSeeking, nullptr);
  LONGLONG llPos = 0;
  EXPECT_EQ(m_pGraph->SetPositions(&llPos, AM_SEEKING_AbsolutePositioning, nullptr, 0),
            E_NOINTERFACE);
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
  EXPECT_EQ(hr, S_OK);
  // Taken: the next wait waits for the next completion.
  EXPECT_EQ(Wait(0), 0);

  LONG lCode = 0;
  LONG_PTR lParam1 = -1;
  LONG_PTR lParam2 = -1;
  ASSERT_EQ(m_pGraph->GetEvent(&lCode, &lParam1, &lParam2, 0), S_OK);
  EXPECT_EQ(lCode, EC_COMPLETE);
  EXPECT_EQ(lParam1, S_OK);
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

TEST_F(GraphCompletion, WaitingOnAStoppedGraphIsTheWrongState) {
  HRESULT hr = S_OK;
  EXPECT_EQ(Wait(INFINITE, &hr), 0);
  EXPECT_EQ(hr, VFW_E_WRONG_STATE);

  ASSERT_EQ(m_pGraph->Run(), S_OK);
  std::thread stopper([this] {
    std::this_thread::sleep_for(20ms);
    m_pGraph->Stop();
  });
  EXPECT_EQ(Wait(INFINITE, &hr), 0);
  EXPECT_EQ(hr, VFW_E_WRONG_STATE);
  stopper.join();
}

TEST_F(GraphCompletion, ANewRunForgetsTheOutcomeOfTheLastOne) {
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  m_pUp->NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
  m_Sinks[0]->InputPin()->EndOfStream();
  ASSERT_EQ(m_pGraph->Stop(), S_OK);
  ASSERT_EQ(m_pGraph->Run(), S_OK);
  EXPECT_EQ(Wait(0), 0);
  // The sink that ended in the last run must end again.
  m_Sinks[1]->InputPin()->EndOfStream();
  EXPECT_EQ(Wait(20), 0);
  m_Sinks[0]->InputPin()->EndOfStream();
  EXPECT_EQ(Wait(1000), EC_COMPLETE);
}

}  // namespace
}  // namespace flvdmx
