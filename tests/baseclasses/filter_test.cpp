#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "baseclasses/enum_pins.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_cObjectsBefore = CUnknown::ObjectsActive();
    m_pFilter = new CTestFilter();
    m_pFilter->AsBaseFilter()->AddRef();
  }
  void TearDown() override {
    ExpectRefCount(m_pFilter->AsBaseFilter(), 1);
    m_pFilter->AsBaseFilter()->Release();
    ExpectObjectsActive(m_cObjectsBefore);
  }

  LONG m_cObjectsBefore = 0;
  CTestFilter* m_pFilter = nullptr;
};

TEST_F(FilterTest, EveryInterfaceLeadsToTheSameIdentity) {
  IBaseFilter* pFilter = m_pFilter->AsBaseFilter();
  IUnknown* pIdentity = nullptr;
  ASSERT_EQ(pFilter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)), S_OK);
  for (const IID* iid : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMovieSetup}) {
    IUnknown* pInterface = nullptr;
    ASSERT_EQ(pFilter->QueryInterface(*iid, reinterpret_cast<void**>(&pInterface)), S_OK);
    IUnknown* pBack = nullptr;
    ASSERT_EQ(pInterface->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pBack)), S_OK);
    EXPECT_EQ(pBack, pIdentity);
    pBack->Release();
    pInterface->Release();
  }
  pIdentity->Release();
}

TEST_F(FilterTest, UnknownInterfaceIsRefusedWithNullOut) {
  void* pv = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(m_pFilter->AsBaseFilter()->QueryInterface(IID_IPin, &pv), E_NOINTERFACE);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(m_pFilter->AsBaseFilter()->QueryInterface(IID_IBaseFilter, nullptr), E_POINTER);
}

TEST_F(FilterTest, PinsShareTheFilterCount) {
  CTestInputPin* pPin = m_pFilter->AddInputPin(L"In");
  IPin* pIPin = static_cast<IPin*>(pPin);
  pIPin->AddRef();
  ExpectRefCount(m_pFilter->AsBaseFilter(), 2);
  IMemInputPin* pMem = nullptr;
  ASSERT_EQ(pIPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&pMem)), S_OK);
  ExpectRefCount(m_pFilter->AsBaseFilter(), 3);
  pMem->Release();
  pIPin->Release();
}

TEST_F(FilterTest, LiveObjectCountFollowsEnumerators) {
  IEnumPins* pEnum = nullptr;
  ASSERT_EQ(m_pFilter->EnumPins(&pEnum), S_OK);
  ExpectObjectsActive(m_cObjectsBefore + 2);  // the filter and the enumerator
  ExpectRefCount(m_pFilter->AsBaseFilter(), 2);  // the enumerator holds the filter
  pEnum->Release();
  ExpectObjectsActive(m_cObjectsBefore + 1);
}

TEST_F(FilterTest, GetStateAnswersAtOnceWhateverTheTimeout) {
  for (DWORD timeout : {DWORD{0}, DWORD{5000}, INFINITE}) {
    FILTER_STATE state = State_Running;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_pFilter->GetState(timeout, &state), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(state, State_Stopped);
  }
  EXPECT_EQ(m_pFilter->GetState(0, nullptr), E_POINTER);
}

TEST_F(FilterTest, FindPinMatchesTheExactNameOnly) {
  m_pFilter->AddOutputPin(L"Video");
  m_pFilter->AddOutputPin(L"Audio");
  struct Case {
    const wchar_t* id;
    HRESULT hr;
    int pin;  // expected GetPin index, -1 for none
  } cases[] = {
      {L"Video", S_OK, 0}, {L"Audio", S_OK, 1}, {L"video", VFW_E_NOT_FOUND, -1},
      {L"AUDIO", VFW_E_NOT_FOUND, -1}, {L"Vid", VFW_E_NOT_FOUND, -1}, {L"", VFW_E_NOT_FOUND, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::wstring(c.id).size());
    IPin* pPin = reinterpret_cast<IPin*>(0x1);
    EXPECT_EQ(m_pFilter->FindPin(c.id, &pPin), c.hr);
    if (c.pin < 0) {
      EXPECT_EQ(pPin, nullptr);
    } else {
      EXPECT_EQ(pPin, static_cast<IPin*>(m_pFilter->GetPin(c.pin)));
      pPin->Release();
    }
  }
  EXPECT_EQ(m_pFilter->FindPin(L"Video", nullptr), E_POINTER);
}

TEST_F(FilterTest, EnumPinsWalksGetPinOrder) {
  m_pFilter->AddInputPin(L"In");
  m_pFilter->AddOutputPin(L"Out");
  IEnumPins* pEnum = nullptr;
  ASSERT_EQ(m_pFilter->EnumPins(&pEnum), S_OK);
  IPin* pins[3] = {};
  ULONG cFetched = 0;
  EXPECT_EQ(pEnum->Next(3, pins, &cFetched), S_FALSE);
  ASSERT_EQ(cFetched, 2u);
  EXPECT_EQ(pins[0], static_cast<IPin*>(m_pFilter->GetPin(0)));
  EXPECT_EQ(pins[1], static_cast<IPin*>(m_pFilter->GetPin(1)));
  pins[0]->Release();
  pins[1]->Release();
  EXPECT_EQ(pEnum->Next(2, pins, nullptr), E_INVALIDARG);
  EXPECT_EQ(pEnum->Reset(), S_OK);
  EXPECT_EQ(pEnum->Skip(1), S_OK);
  EXPECT_EQ(pEnum->Skip(5), S_FALSE);
  pEnum->Release();
}

TEST_F(FilterTest, EnumPinsIsOutOfSyncAfterAPinChangeUntilReset) {
  m_pFilter->AddInputPin(L"In");
  IEnumPins* pEnum = nullptr;
  ASSERT_EQ(m_pFilter->EnumPins(&pEnum), S_OK);
  m_pFilter->AddOutputPin(L"Out");

  IPin* pPin = nullptr;
  ULONG cFetched = 7;
  EXPECT_EQ(pEnum->Next(1, &pPin, &cFetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(cFetched, 0u);
  EXPECT_EQ(pEnum->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumPins* pClone = nullptr;
  EXPECT_EQ(pEnum->Clone(&pClone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(pClone, nullptr);

  EXPECT_EQ(pEnum->Reset(), S_OK);
  IPin* pins[2] = {};
  EXPECT_EQ(pEnum->Next(2, pins, &cFetched), S_OK);
  EXPECT_EQ(cFetched, 2u);
  pins[0]->Release();
  pins[1]->Release();
  pEnum->Release();
}

TEST_F(FilterTest, CloneContinuesFromTheSamePosition) {
  m_pFilter->AddInputPin(L"In");
  m_pFilter->AddOutputPin(L"Out");
  IEnumPins* pEnum = nullptr;
  ASSERT_EQ(m_pFilter->EnumPins(&pEnum), S_OK);
  ASSERT_EQ(pEnum->Skip(1), S_OK);
  IEnumPins* pClone = nullptr;
  ASSERT_EQ(pEnum->Clone(&pClone), S_OK);
  IPin* pPin = nullptr;
  ASSERT_EQ(pClone->Next(1, &pPin, nullptr), S_OK);
  EXPECT_EQ(pPin, static_cast<IPin*>(m_pFilter->GetPin(1)));
  pPin->Release();
  pClone->Release();
  pEnum->Release();
}

TEST_F(FilterTest, JoinFilterGraphKeepsGraphSinkAndNameWithoutReferences) {
  CTestGraph graph;
  ASSERT_EQ(m_pFilter->JoinFilterGraph(graph.AsGraph(), L"Demux"), S_OK);
  EXPECT_EQ(graph.m_cRef, 0);
  EXPECT_EQ(m_pFilter->GetEventSink(), static_cast<IMediaEventSink*>(&graph));

  FILTER_INFO info{};
  ASSERT_EQ(m_pFilter->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Demux");
  EXPECT_EQ(info.pGraph, graph.AsGraph());
  EXPECT_EQ(graph.m_cRef, 1);
  info.pGraph->Release();

  ASSERT_EQ(m_pFilter->JoinFilterGraph(nullptr, nullptr), S_OK);
  EXPECT_EQ(m_pFilter->GetEventSink(), nullptr);
  ASSERT_EQ(m_pFilter->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"");
  EXPECT_EQ(info.pGraph, nullptr);
}

TEST_F(FilterTest, QueryFilterInfoCutsLongNamesTo127Characters) {
  const std::wstring longName(300, L'x');
  ASSERT_EQ(m_pFilter->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
  FILTER_INFO info{};
  ASSERT_EQ(m_pFilter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), longName.substr(0, 127));
}

TEST_F(FilterTest, NotifyEventNamesTheFilterOnCompleteAndNeedsAGraph) {
  EXPECT_EQ(m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);
  CTestGraph graph;
  ASSERT_EQ(m_pFilter->JoinFilterGraph(graph.AsGraph(), L"f"), S_OK);
  EXPECT_EQ(m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0), S_OK);
  EXPECT_EQ(m_pFilter->NotifyEvent(EC_ERRORABORT, E_FAIL, 0), S_OK);
  const auto events = graph.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(m_pFilter->AsBaseFilter()));
  EXPECT_EQ(events[1].code, EC_ERRORABORT);
  EXPECT_EQ(events[1].param1, E_FAIL);
  EXPECT_EQ(events[1].param2, 0);
  m_pFilter->JoinFilterGraph(nullptr, nullptr);
}

TEST_F(FilterTest, ClockIsHeldAndGivesStreamTime) {
  REFERENCE_TIME rt = 0;
  EXPECT_EQ(m_pFilter->StreamTime(&rt), VFW_E_NO_CLOCK);
  CTestClock clock;
  ASSERT_EQ(m_pFilter->SetSyncSource(&clock), S_OK);
  EXPECT_EQ(clock.m_cRef, 1);
  IReferenceClock* pClock = nullptr;
  ASSERT_EQ(m_pFilter->GetSyncSource(&pClock), S_OK);
  EXPECT_EQ(pClock, &clock);
  pClock->Release();

  ASSERT_EQ(m_pFilter->Run(1000), S_OK);
  clock.m_rtNow = 5000;
  ASSERT_EQ(m_pFilter->StreamTime(&rt), S_OK);
  EXPECT_EQ(rt, 4000);
  ASSERT_EQ(m_pFilter->Stop(), S_OK);
  ASSERT_EQ(m_pFilter->SetSyncSource(nullptr), S_OK);
  EXPECT_EQ(clock.m_cRef, 0);
}

TEST_F(FilterTest, SmallQueries) {
  CLSID clsid{};
  EXPECT_EQ(m_pFilter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CTestFilter::kClsid);
  EXPECT_EQ(m_pFilter->GetClassID(nullptr), E_POINTER);
  LPWSTR pVendor = nullptr;
  EXPECT_EQ(m_pFilter->QueryVendorInfo(&pVendor), E_NOTIMPL);
  // Nothing to register: that is the module's job.
  EXPECT_EQ(m_pFilter->Register(), S_FALSE);
  EXPECT_EQ(m_pFilter->Unregister(), S_FALSE);
}

// State changes reach connected pins only; the test connects each output pin
// to an input pin of a second filter.
class FilterStateTest : public FilterTest {
 protected:
  void SetUp() override {
    FilterTest::SetUp();
    m_pSink = new CTestFilter();
    m_pSink->AsBaseFilter()->AddRef();
    for (const wchar_t* name : {L"A", L"B", L"C"}) {
      CTestOutputPin* pOut = m_pFilter->AddOutputPin(name);
      pOut->m_Script.offered.push_back(CMediaType(&GUID_NULL));
      CTestInputPin* pIn = m_pSink->AddInputPin(name);
      m_Out.push_back(pOut);
      if (name[0] != L'B') {  // B stays unconnected
        ASSERT_EQ(pOut->Connect(pIn, nullptr), S_OK);
      }
    }
  }
  void TearDown() override {
    m_pFilter->Stop();
    for (int i = 0; i < m_pFilter->GetPinCount(); ++i) {
      m_pFilter->GetPin(i)->Disconnect();
      m_pSink->GetPin(i)->Disconnect();
    }
    ExpectRefCount(m_pSink->AsBaseFilter(), 1);
    m_pSink->AsBaseFilter()->Release();
    FilterTest::TearDown();
  }

  CTestFilter* m_pSink = nullptr;
  std::vector<CTestOutputPin*> m_Out;
};

TEST_F(FilterStateTest, StopVisitsEveryConnectedPinAndReturnsTheFirstFailure) {
  ASSERT_EQ(m_pFilter->Pause(), S_OK);
  m_Out[0]->m_Script.hrInactive = E_UNEXPECTED;
  m_Out[2]->m_Script.hrInactive = E_OUTOFMEMORY;
  EXPECT_EQ(m_pFilter->Stop(), E_UNEXPECTED);
  EXPECT_EQ(m_Out[0]->m_Script.cInactive, 1);
  EXPECT_EQ(m_Out[1]->m_Script.cInactive, 0);
  EXPECT_EQ(m_Out[2]->m_Script.cInactive, 1);
  EXPECT_TRUE(m_pFilter->IsStopped());
}

TEST_F(FilterStateTest, PauseStopsAtTheFirstFailureAndStaysStopped) {
  m_Out[0]->m_Script.hrActive = VFW_E_NO_ALLOCATOR;
  EXPECT_EQ(m_pFilter->Pause(), VFW_E_NO_ALLOCATOR);
  EXPECT_EQ(m_Out[2]->m_Script.cActive, 0);
  EXPECT_TRUE(m_pFilter->IsStopped());

  m_Out[0]->m_Script.hrActive = S_OK;
  EXPECT_EQ(m_pFilter->Pause(), S_OK);
  EXPECT_EQ(m_Out[2]->m_Script.cActive, 1);
  EXPECT_EQ(m_pFilter->GetFilterState(), State_Paused);
  EXPECT_EQ(m_pFilter->Pause(), S_OK);  // already paused: no second activation
  EXPECT_EQ(m_Out[2]->m_Script.cActive, 1);
}

TEST_F(FilterStateTest, RunFromStoppedPausesThroughTheVirtualPauseFirst) {
  EXPECT_EQ(m_pFilter->Run(0), S_OK);
  EXPECT_EQ(m_pFilter->cPause, 1);
  EXPECT_EQ(m_Out[0]->m_Script.cActive, 1);
  EXPECT_EQ(m_Out[0]->m_Script.cRun, 1);
  EXPECT_EQ(m_Out[1]->m_Script.cRun, 0);
  EXPECT_EQ(m_pFilter->GetFilterState(), State_Running);
  EXPECT_EQ(m_pFilter->Run(0), S_OK);  // already running
  EXPECT_EQ(m_Out[0]->m_Script.cRun, 1);
}

TEST_F(FilterStateTest, ConnectionChangesAreRefusedWhileActive) {
  ASSERT_EQ(m_pFilter->Pause(), S_OK);
  EXPECT_EQ(m_Out[0]->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(m_Out[1]->Connect(m_pSink->GetPin(1), nullptr), VFW_E_NOT_STOPPED);
  EXPECT_TRUE(m_Out[0]->IsConnected());
}

}  // namespace
}  // namespace flvdmx
