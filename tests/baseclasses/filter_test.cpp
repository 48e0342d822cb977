#include <gtest/gtest.h>

#include <string>

#include "baseclasses/enum_pins.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pFilter = new CTestFilter();
    m_pFilter->AsBaseFilter()->AddRef();
  }
  void TearDown() override {
    ExpectRefCount(m_pFilter->AsBaseFilter(), 1);
    m_pFilter->AsBaseFilter()->Release();
    ExpectObjectsActive(m_cObjectsBefore);
  }

  const LONG m_cObjectsBefore = CUnknown::ObjectsActive();
  CTestFilter* m_pFilter = nullptr;
};

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

  EXPECT_EQ(pEnum->Reset(), S_OK);
  IPin* pins[2] = {};
  EXPECT_EQ(pEnum->Next(2, pins, &cFetched), S_OK);
  EXPECT_EQ(cFetched, 2u);
  pins[0]->Release();
  pins[1]->Release();
  pEnum->Release();
}

// Pin names are identifiers: only the exact name finds a pin.
TEST_F(FilterTest, FindPinMatchesTheExactName) {
  m_pFilter->AddInputPin(L"In");
  m_pFilter->AddOutputPin(L"Out");
  const struct {
    const wchar_t* id;
    int iPin;  // -1: not found
  } cases[] = {{L"Out", 1}, {L"In", 0}, {L"out", -1}, {L"IN", -1}, {L"Ou", -1}, {L"", -1}};
  for (const auto& c : cases) {
    IPin* pPin = reinterpret_cast<IPin*>(1);
    const HRESULT hr = m_pFilter->FindPin(c.id, &pPin);
    if (c.iPin < 0) {
      EXPECT_EQ(hr, VFW_E_NOT_FOUND);
      EXPECT_EQ(pPin, nullptr);
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(pPin, static_cast<IPin*>(m_pFilter->GetPin(c.iPin)));
    pPin->Release();
  }
  IPin* pPin = nullptr;
  EXPECT_EQ(m_pFilter->FindPin(nullptr, &pPin), E_POINTER);
}

TEST_F(FilterTest, JoinedGraphIsKeptWithoutAReferenceAndALongNameIsCut) {
  CTestGraph graph;
  const std::wstring longName(300, L'x');
  ASSERT_EQ(m_pFilter->JoinFilterGraph(graph.AsGraph(), longName.c_str()), S_OK);
  EXPECT_EQ(graph.m_cRef, 0);
  FILTER_INFO info{};
  ASSERT_EQ(m_pFilter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), longName.substr(0, 127));
  info.pGraph->Release();
  ASSERT_EQ(m_pFilter->JoinFilterGraph(nullptr, nullptr), S_OK);
  EXPECT_EQ(m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL) << "no graph";
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
}

}  // namespace
}  // namespace flvdmx
