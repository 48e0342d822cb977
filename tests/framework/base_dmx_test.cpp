// CBaseDmx without a running graph: pin counting and naming, the output pin
// table, the default buffer decision, error reporting, state sequencing and
// the main seeking pin.
#include <gtest/gtest.h>

#include <cwchar>

#include "dmx_test_doubles.h"

namespace flvdmx::fwtest {
namespace {

class BaseDmx : public testing::Test {
 protected:
  void TearDown() override {
    m_pDmx.reset();
    ExpectObjectsActive(m_cObjectsBefore);
  }

  CTestDmx* Dmx() { return m_pDmx->get(); }

  // Counted before the filter below is made.
  LONG m_cObjectsBefore = CUnknown::ObjectsActive();
  std::unique_ptr<Held<CTestDmx>> m_pDmx = std::make_unique<Held<CTestDmx>>(2);
};

std::wstring PinName(CBasePin* pPin) { return pPin->Name() != nullptr ? pPin->Name() : L""; }

TEST_F(BaseDmx, NewFilterHasOnlyItsInputPin) {
  EXPECT_EQ(Dmx()->GetPinCount(), 1);
  EXPECT_EQ(Dmx()->GetOutputPinCount(), 0);
  CBasePin* pInput = Dmx()->GetPin(0);
  ASSERT_NE(pInput, nullptr);
  EXPECT_EQ(PinName(pInput), L"Input 01");
  EXPECT_EQ(Dmx()->GetPin(0), pInput) << "made once";
  EXPECT_EQ(static_cast<CBasePin*>(Dmx()->GetInputPin()), pInput);
  EXPECT_EQ(Dmx()->GetPin(1), nullptr);
  EXPECT_EQ(Dmx()->GetPin(-1), nullptr);
  EXPECT_EQ(Dmx()->GetOutputPin(0), nullptr);
  EXPECT_EQ(Dmx()->GetPinDirection(0), PINDIR_INPUT);
  EXPECT_EQ(Dmx()->GetPinDirection(1), -1);
  EXPECT_EQ(Dmx()->GetPinDirection(-1), -1);
  EXPECT_EQ(Dmx()->GetSetupData(), nullptr);
}

TEST_F(BaseDmx, InputPinSharesTheFilterReferenceCount) {
  IBaseFilter* pFilter = Dmx()->AsFilter();
  ExpectRefCount(pFilter, 1);
  IPin* pInput = Dmx()->GetPin(0);
  pInput->AddRef();
  ExpectRefCount(pFilter, 2);
  pInput->Release();
  ExpectRefCount(pFilter, 1);
}

TEST_F(BaseDmx, ReaderIsNullWithoutAConnectedInput) {
  const LONG cObjects = CUnknown::ObjectsActive();
  EXPECT_EQ(Dmx()->GetReader(), nullptr);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects) << "asking does not make the input pin";
  Dmx()->GetPin(0);
  EXPECT_EQ(Dmx()->GetReader(), nullptr);
}

class OutputCapacity : public testing::TestWithParam<int> {};

TEST_P(OutputCapacity, AddOutputPinStopsAtTheCapacity) {
  const LONG cObjects = CUnknown::ObjectsActive();
  {
    Held<CTestDmx> dmx(GetParam());
    const LONG lVersion = dmx->GetPinVersion();
    for (int i = 0; i < GetParam(); ++i) EXPECT_EQ(dmx->AddOutputPin(), S_OK);
    EXPECT_EQ(dmx->AddOutputPin(), E_FAIL);
    EXPECT_EQ(dmx->GetOutputPinCount(), GetParam());
    EXPECT_EQ(dmx->GetPinCount(), GetParam() + 1);
    EXPECT_EQ(dmx->GetPinVersion(), lVersion + GetParam()) << "only additions that happened";
    EXPECT_EQ(dmx->GetPin(GetParam() + 1), nullptr);
  }
  ExpectObjectsActive(cObjects);
}

INSTANTIATE_TEST_SUITE_P(BaseDmx, OutputCapacity, testing::Values(0, 1, 2, 3));

TEST_F(BaseDmx, OutputPinsAreMadeOnFirstRequestAndNamedBySlot) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  const LONG cObjects = CUnknown::ObjectsActive();
  CBasePin* pSecond = Dmx()->GetPin(2);
  ASSERT_NE(pSecond, nullptr);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects + 1);
  EXPECT_EQ(PinName(pSecond), L"Output 02");
  CBaseDmxOutputPin* pOut = Dmx()->GetOutputPin(1);
  EXPECT_EQ(static_cast<CBasePin*>(pOut), pSecond);
  EXPECT_EQ(pOut->GetOutputIndex(), 1);
  EXPECT_EQ(pOut->GetPinNumber(), 2);
  EXPECT_EQ(pOut->GetFilter(), Dmx());
  EXPECT_EQ(Dmx()->GetPinDirection(2), PINDIR_OUTPUT);
  EXPECT_EQ(PinName(Dmx()->GetPin(1)), L"Output 01");
  EXPECT_EQ(Dmx()->GetOutputPin(2), nullptr);
  EXPECT_EQ(Dmx()->GetOutputPin(-1), nullptr);
}

TEST_F(BaseDmx, OutputPinCountsItsOwnReferences) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  CBaseDmxOutputPin* pPin = Dmx()->GetOutputPin(0);
  IPin* pIPin = pPin;
  ExpectRefCount(pIPin, 1);  // the filter's table
  ExpectRefCount(Dmx()->AsFilter(), 1);
  pIPin->AddRef();
  ExpectRefCount(pIPin, 2);
  ExpectRefCount(Dmx()->AsFilter(), 1);  // not the filter's count
  pIPin->Release();
}

TEST_F(BaseDmx, RemovingTheLastPinReleasesItWithoutAnnouncingIt) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  ASSERT_NE(Dmx()->GetOutputPin(1), nullptr);
  const LONG lVersion = Dmx()->GetPinVersion();
  const LONG cObjects = CUnknown::ObjectsActive();
  Dmx()->RemoveOutputPin(Dmx()->GetOutputPinCount() - 1);
  EXPECT_EQ(Dmx()->GetOutputPinCount(), 1);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects - 1);
  EXPECT_EQ(Dmx()->GetPinVersion(), lVersion);
  Dmx()->RemoveOutputPin(5);
  Dmx()->RemoveOutputPin(-1);
  EXPECT_EQ(Dmx()->GetOutputPinCount(), 1) << "out of range: nothing";
}

TEST_F(BaseDmx, RemovingAnEarlierPinMovesTheLaterOnesDown) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  Dmx()->GetOutputPin(0);
  CBaseDmxOutputPin* pSecond = Dmx()->GetOutputPin(1);
  Dmx()->RemoveOutputPin(0);
  EXPECT_EQ(Dmx()->GetOutputPinCount(), 1);
  EXPECT_EQ(Dmx()->GetOutputPin(0), pSecond);
  EXPECT_EQ(pSecond->GetOutputIndex(), 0);
  EXPECT_EQ(pSecond->GetPinNumber(), 1);
}

TEST_F(BaseDmx, RemovingAReservedSlotThatWasNeverMadeJustShrinks) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  const LONG cObjects = CUnknown::ObjectsActive();
  Dmx()->RemoveOutputPin(0);
  EXPECT_EQ(Dmx()->GetOutputPinCount(), 0);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects);
  EXPECT_EQ(Dmx()->AddOutputPin(), S_OK) << "the slot can be used again";
  EXPECT_NE(Dmx()->GetOutputPin(0), nullptr);
}

TEST_F(BaseDmx, RemoveAllOutputPinsEmptiesTheTableAndAnnouncesIt) {
  EXPECT_EQ(Dmx()->RemoveAllOutputPins(), S_OK);
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  Dmx()->GetOutputPin(1);  // slot 0 stays reserved but unmade
  const LONG lVersion = Dmx()->GetPinVersion();
  EXPECT_EQ(Dmx()->RemoveAllOutputPins(), S_OK);
  EXPECT_EQ(Dmx()->GetOutputPinCount(), 0);
  EXPECT_EQ(Dmx()->GetPinCount(), 1);
  EXPECT_EQ(Dmx()->GetPinVersion(), lVersion + 1);
}

TEST_F(BaseDmx, PinDroppedByTheFilterLivesUntilItsLastOutsideReference) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  IPin* pPin = Dmx()->GetOutputPin(0);
  pPin->AddRef();
  const LONG cObjects = CUnknown::ObjectsActive();
  Dmx()->RemoveAllOutputPins();
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects) << "still held by the test";
  PIN_DIRECTION dir = PINDIR_INPUT;
  EXPECT_EQ(pPin->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);
  pPin->Release();
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects - 1);
}

// An allocator that records the request SetProperties was given.
class CRecordingAllocator : public IMemAllocator {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override {
    ++m_cSetProperties;
    m_Request = *pRequest;
    *pActual = *pRequest;
    pActual->cBuffers = 1;  // less than asked: the default does not check
    return m_hrSetProperties;
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit() override { return S_OK; }
  STDMETHODIMP Decommit() override { return S_OK; }
  STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

  ALLOCATOR_PROPERTIES m_Request{};
  HRESULT m_hrSetProperties = S_OK;
  int m_cSetProperties = 0;
};

struct BufferCase {
  ALLOCATOR_PROPERTIES request;
  ALLOCATOR_PROPERTIES asked;
};

class DefaultBufferSize : public BaseDmx, public testing::WithParamInterface<BufferCase> {};

TEST_P(DefaultBufferSize, RaisesTheRequestToTheFloorAndAlignsToFour) {
  CRecordingAllocator alloc;
  ALLOCATOR_PROPERTIES request = GetParam().request;
  ASSERT_EQ(Dmx()->CBaseDmx::PinDecideBufferSize(1, &alloc, &request), S_OK);
  const ALLOCATOR_PROPERTIES& asked = GetParam().asked;
  EXPECT_EQ(alloc.m_Request.cBuffers, asked.cBuffers);
  EXPECT_EQ(alloc.m_Request.cbBuffer, asked.cbBuffer);
  EXPECT_EQ(alloc.m_Request.cbAlign, asked.cbAlign);
  EXPECT_EQ(alloc.m_Request.cbPrefix, asked.cbPrefix);
}

INSTANTIATE_TEST_SUITE_P(
    BaseDmx, DefaultBufferSize,
    testing::Values(BufferCase{{0, 100, 1, 0}, {1, 8192, 4, 0}},
                    BufferCase{{3, 10000, 16, 8}, {3, 10000, 4, 8}},
                    BufferCase{{-5, -1, 0, 2}, {1, 8192, 4, 2}},
                    BufferCase{{1, 8192, 4, 0}, {1, 8192, 4, 0}}));

TEST_F(BaseDmx, DefaultBufferSizePassesTheAllocatorsAnswerOn) {
  CRecordingAllocator alloc;
  ALLOCATOR_PROPERTIES request{};
  alloc.m_hrSetProperties = VFW_E_BADALIGN;
  EXPECT_EQ(Dmx()->CBaseDmx::PinDecideBufferSize(1, &alloc, &request), VFW_E_BADALIGN);
  EXPECT_EQ(Dmx()->CBaseDmx::PinDecideBufferSize(1, nullptr, &request), E_POINTER);
  EXPECT_EQ(Dmx()->CBaseDmx::PinDecideBufferSize(1, &alloc, nullptr), E_POINTER);
  EXPECT_EQ(alloc.m_cSetProperties, 1);
}

struct ErrorCase {
  bool bFlushing;
  HRESULT hrExpected;
  size_t cEvents;
};

class ReportStreamError : public BaseDmx, public testing::WithParamInterface<ErrorCase> {};

TEST_P(ReportStreamError, IsSwallowedOnlyWhileFlushing) {
  CTestGraph graph;
  ASSERT_EQ(Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  if (GetParam().bFlushing) Dmx()->DeliverBeginFlush();
  EXPECT_EQ(Dmx()->ReportStreamError(E_FAIL), GetParam().hrExpected);
  const auto events = graph.Events();
  ASSERT_EQ(events.size(), GetParam().cEvents);
  if (!events.empty()) {
    EXPECT_EQ(events[0].code, EC_ERRORABORT);
    EXPECT_EQ(events[0].param1, static_cast<LONG_PTR>(E_FAIL));
    EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(Dmx()->AsFilter()));
  }
  Dmx()->JoinFilterGraph(nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(BaseDmx, ReportStreamError,
                         testing::Values(ErrorCase{false, E_FAIL, 1}, ErrorCase{true, S_OK, 0}));

TEST_F(BaseDmx, EndFlushLetsErrorsThroughAgain) {
  CTestGraph graph;
  ASSERT_EQ(Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  Dmx()->DeliverBeginFlush();
  EXPECT_TRUE(Dmx()->IsFlushing());
  EXPECT_EQ(Dmx()->ReportStreamError(E_FAIL), S_OK);
  Dmx()->DeliverEndFlush();
  EXPECT_FALSE(Dmx()->IsFlushing());
  EXPECT_EQ(Dmx()->ReportStreamError(E_FAIL), E_FAIL);
  EXPECT_EQ(graph.Events().size(), 1u);
  Dmx()->JoinFilterGraph(nullptr, nullptr);
}

TEST_F(BaseDmx, ReportStreamErrorOutsideAGraphStillReturnsTheError) {
  EXPECT_EQ(Dmx()->ReportStreamError(VFW_E_INVALID_FILE_FORMAT), VFW_E_INVALID_FILE_FORMAT);
}

TEST_F(BaseDmx, NotifyGraphOfErrorAlwaysReportsWithoutTheFilter) {
  CTestGraph graph;
  ASSERT_EQ(Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  Dmx()->DeliverBeginFlush();
  EXPECT_EQ(Dmx()->NotifyGraphOfError(E_OUTOFMEMORY), E_OUTOFMEMORY);
  const auto events = graph.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_ERRORABORT);
  EXPECT_EQ(events[0].param1, static_cast<LONG_PTR>(E_OUTOFMEMORY));
  EXPECT_EQ(events[0].param2, 0);
  Dmx()->JoinFilterGraph(nullptr, nullptr);
  EXPECT_EQ(Dmx()->NotifyGraphOfError(E_FAIL), E_FAIL) << "no sink: only traced";
}

TEST_F(BaseDmx, NotifyGraphOfErrorTracesTheFilterAndTheResult) {
  const uint32_t saved = g_dwTraceFlags;
  g_dwTraceFlags = kTraceOn | kTraceDebugger;
  testing::internal::CaptureStderr();
  Dmx()->NotifyGraphOfError(VFW_E_INVALID_FILE_FORMAT);
  const std::string text = testing::internal::GetCapturedStderr();
  g_dwTraceFlags = saved;
  EXPECT_NE(text.find("### NotifyGraphOfError("), std::string::npos) << text;
  EXPECT_NE(text.find(", NULL): hr=VFW_E_INVALID_FILE_FORMAT"), std::string::npos) << text;
}

TEST_F(BaseDmx, StopOnAStoppedFilterDoesNothing) {
  EXPECT_EQ(Dmx()->Stop(), S_OK);
  EXPECT_EQ(Dmx()->cStopStreaming, 0);
}

TEST_F(BaseDmx, StateChangesCallTheStreamingHooksOnce) {
  ASSERT_EQ(Dmx()->Pause(), S_OK);
  EXPECT_EQ(Dmx()->Pause(), S_OK);
  ASSERT_EQ(Dmx()->Run(0), S_OK);
  ASSERT_EQ(Dmx()->Pause(), S_OK) << "from running";
  EXPECT_EQ(Dmx()->cStartStreaming, 1);
  FILTER_STATE state = State_Stopped;
  EXPECT_EQ(Dmx()->GetState(INFINITE, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  ASSERT_EQ(Dmx()->Stop(), S_OK);
  EXPECT_EQ(Dmx()->cStopStreaming, 1);
  ASSERT_EQ(Dmx()->Run(0), S_OK) << "from stopped, through Pause";
  EXPECT_EQ(Dmx()->cStartStreaming, 2);
  EXPECT_EQ(Dmx()->Stop(), S_OK);
}

TEST_F(BaseDmx, FailingStartStreamingKeepsTheFilterStopped) {
  Dmx()->m_hrStartStreaming = E_OUTOFMEMORY;
  EXPECT_EQ(Dmx()->Pause(), E_OUTOFMEMORY);
  EXPECT_TRUE(Dmx()->IsStopped());
  EXPECT_EQ(Dmx()->Run(0), E_OUTOFMEMORY);
  EXPECT_TRUE(Dmx()->IsStopped());
}

TEST_F(BaseDmx, FailingStopStreamingRestoresTheStateButStopSucceeds) {
  ASSERT_EQ(Dmx()->Run(0), S_OK);
  Dmx()->m_hrStopStreaming = E_FAIL;
  EXPECT_EQ(Dmx()->Stop(), S_OK);
  EXPECT_EQ(Dmx()->GetFilterState(), State_Running);
  Dmx()->m_hrStopStreaming = S_OK;
  EXPECT_EQ(Dmx()->Stop(), S_OK);
  EXPECT_TRUE(Dmx()->IsStopped());
}

TEST_F(BaseDmx, FirstClaimantBecomesTheMainSeekingPinUntilAConnectionChanges) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  CBaseDmxOutputPin* pFirst = Dmx()->GetOutputPin(0);
  CBaseDmxOutputPin* pSecond = Dmx()->GetOutputPin(1);
  EXPECT_EQ(Dmx()->GetMainSeekingPin(), nullptr);
  EXPECT_TRUE(Dmx()->ClaimMainSeekingPin(pSecond));
  EXPECT_FALSE(Dmx()->ClaimMainSeekingPin(pFirst));
  EXPECT_TRUE(Dmx()->ClaimMainSeekingPin(pSecond));
  EXPECT_EQ(Dmx()->GetMainSeekingPin(), pSecond);

  EXPECT_EQ(Dmx()->CBaseDmx::PinCompleteConnect(1, nullptr), S_OK);
  EXPECT_EQ(Dmx()->GetMainSeekingPin(), nullptr);
  Dmx()->SetMainSeekingPin(pFirst);
  EXPECT_EQ(Dmx()->CBaseDmx::PinBreakConnect(2), S_OK);
  EXPECT_EQ(Dmx()->GetMainSeekingPin(), nullptr);

  Dmx()->SetMainSeekingPin(pSecond);
  Dmx()->RemoveOutputPin(1);
  EXPECT_EQ(Dmx()->GetMainSeekingPin(), nullptr) << "a removed pin is not remembered";
}

TEST_F(BaseDmx, EndOfStreamReachesTheOutputsWhenNoInputIsConnected) {
  EXPECT_EQ(Dmx()->CBaseDmx::PinEndOfStream(0), S_OK);
  EXPECT_EQ(Dmx()->cDeliverEndOfStream, 1);
}

TEST_F(BaseDmx, FanOutSkipsUnconnectedPinsAndMakesReservedOnes) {
  ASSERT_EQ(Dmx()->AddOutputPin(), S_OK);
  const LONG cObjects = CUnknown::ObjectsActive();
  EXPECT_EQ(Dmx()->CBaseDmx::DeliverEndOfStream(), S_OK);
  EXPECT_EQ(Dmx()->DeliverBeginFlush(), S_OK);
  EXPECT_EQ(Dmx()->DeliverEndFlush(), S_OK);
  EXPECT_EQ(Dmx()->DeliverNewSegment(0, 10, 1.0), S_OK);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects + 1) << "the reserved pin was made";
}

TEST(BaseDmxConstruction, CapacityZeroStillAnswersPinQueries) {
  const LONG cObjects = CUnknown::ObjectsActive();
  {
    HRESULT hr = S_OK;
    Held<CTestDmx> dmx(0, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(dmx->GetPinCount(), 1);
    EXPECT_EQ(dmx->AddOutputPin(), E_FAIL);
    EXPECT_EQ(dmx->GetOutputPin(0), nullptr);
  }
  ExpectObjectsActive(cObjects);
}

}  // namespace
}  // namespace flvdmx::fwtest
