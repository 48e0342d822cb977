// CBaseDmx, its input and output pins and the seeking pass-through on the
// pins: the output pin table, buffer decision, error reporting, state hooks,
// connections and the main seeking pin.
#include <gtest/gtest.h>

#include <tuple>

#include "framework/dmx_input_pin.h"
#include "host/allocator.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"
#include "support/toy_format.h"

namespace flvdmx {
namespace {

// A toy filter on its own, with the test's reference.
class BaseDmx : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CToyDmx::Create(ToyLayout(), &m_pDmx), S_OK); }
  void TearDown() override {
    m_pDmx->Release();
    ExpectObjectsActive(m_cObjectsBefore);
  }

  const LONG m_cObjectsBefore = CUnknown::ObjectsActive();
  CToyDmx* m_pDmx = nullptr;
};

TEST_F(BaseDmx, OutputPinTableGrowsToItsCapacityAndShrinksInOrder) {
  const LONG lVersion = m_pDmx->GetPinVersion();
  ASSERT_EQ(m_pDmx->AddOutputPin(), S_OK);
  ASSERT_EQ(m_pDmx->AddOutputPin(), S_OK);
  EXPECT_EQ(m_pDmx->AddOutputPin(), E_FAIL);
  EXPECT_EQ(m_pDmx->GetPinVersion(), lVersion + 2) << "only additions that happened";
  EXPECT_EQ(m_pDmx->GetPin(3), nullptr);

  const LONG cObjects = CUnknown::ObjectsActive();
  CBaseDmxOutputPin* pSecond = m_pDmx->GetOutputPin(1);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects + 1) << "made on first request";
  EXPECT_STREQ(pSecond->Name(), L"Output 02");
  ExpectRefCount(m_pDmx->AsBaseFilter(), 1);  // output pins count on their own

  m_pDmx->RemoveOutputPin(0);  // reserved but never made
  EXPECT_EQ(m_pDmx->GetOutputPin(0), pSecond);
  EXPECT_EQ(pSecond->GetPinNumber(), 1) << "later pins move down";

  IPin* pHeld = pSecond;
  pHeld->AddRef();
  m_pDmx->SetMainSeekingPin(pSecond);
  EXPECT_EQ(m_pDmx->RemoveAllOutputPins(), S_OK);
  EXPECT_EQ(m_pDmx->GetPinCount(), 1);
  EXPECT_EQ(m_pDmx->GetMainSeekingPin(), nullptr) << "a removed pin is not remembered";
  PIN_DIRECTION dir = PINDIR_INPUT;
  EXPECT_EQ(pHeld->QueryDirection(&dir), S_OK) << "a dropped pin lives while held";
  pHeld->Release();
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects);
}

TEST_F(BaseDmx, DefaultBufferSizeRaisesTheRequestToTheFloorAndAlignsToFour) {
  const struct {
    ALLOCATOR_PROPERTIES request, actual;
  } cases[] = {{{0, 100, 1, 0}, {1, 8192, 4, 0}}, {{3, 10000, 16, 8}, {3, 10000, 4, 8}},
               {{-5, -1, 0, 4}, {1, 8192, 4, 4}}};
  for (const auto& c : cases) {
    IMemAllocator* pAlloc = nullptr;
    ASSERT_EQ(CMemAllocator::CreateInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&pAlloc)),
              S_OK);
    ALLOCATOR_PROPERTIES request = c.request;
    EXPECT_EQ(m_pDmx->CBaseDmx::PinDecideBufferSize(1, pAlloc, &request), S_OK);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(pAlloc->GetProperties(&props), S_OK);
    EXPECT_EQ(std::make_tuple(props.cBuffers, props.cbBuffer, props.cbAlign, props.cbPrefix),
              std::make_tuple(c.actual.cBuffers, c.actual.cbBuffer, c.actual.cbAlign, c.actual.cbPrefix));
    pAlloc->Release();
  }
}

TEST_F(BaseDmx, StreamErrorsAreSwallowedOnlyWhileFlushing) {
  CTestGraph graph;
  ASSERT_EQ(m_pDmx->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  EXPECT_EQ(m_pDmx->ReportStreamError(E_FAIL), E_FAIL);
  m_pDmx->DeliverBeginFlush();
  EXPECT_EQ(m_pDmx->ReportStreamError(E_FAIL), S_OK);
  EXPECT_EQ(m_pDmx->NotifyGraphOfError(E_OUTOFMEMORY), E_OUTOFMEMORY) << "always reported";
  m_pDmx->DeliverEndFlush();
  const auto events = graph.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, EC_ERRORABORT);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(m_pDmx->AsBaseFilter()));
  EXPECT_EQ(events[1].param1, E_OUTOFMEMORY);
  m_pDmx->JoinFilterGraph(nullptr, nullptr);
  EXPECT_EQ(m_pDmx->ReportStreamError(E_FAIL), E_FAIL) << "outside a graph";
}

TEST_F(BaseDmx, StreamingHooksRunOncePerStartAndStopAndTheirFailuresCount) {
  EXPECT_EQ(m_pDmx->Stop(), S_OK);
  EXPECT_EQ(m_pDmx->cStopStreaming, 0) << "already stopped";
  ASSERT_EQ(m_pDmx->Run(0), S_OK);
  ASSERT_EQ(m_pDmx->Pause(), S_OK);
  EXPECT_EQ(m_pDmx->cStartStreaming, 1);
  m_pDmx->m_hrStopStreaming = E_FAIL;
  EXPECT_EQ(m_pDmx->Stop(), S_OK);
  EXPECT_EQ(m_pDmx->GetFilterState(), State_Paused) << "a failed stop keeps the state";
  m_pDmx->m_hrStopStreaming = S_OK;
  ASSERT_EQ(m_pDmx->Stop(), S_OK);
  m_pDmx->m_hrStartStreaming = E_OUTOFMEMORY;
  EXPECT_EQ(m_pDmx->Run(0), E_OUTOFMEMORY);
  EXPECT_TRUE(m_pDmx->IsStopped());
}

TEST_F(BaseDmx, OnlyTheFirstPinAskedForSeekingAppliesPositionsAndRate) {
  ASSERT_EQ(m_pDmx->AddOutputPin(), S_OK);
  ASSERT_EQ(m_pDmx->AddOutputPin(), S_OK);
  IMediaSeeking* pSeeking[2] = {};
  for (int i : {1, 0})
    ASSERT_EQ(m_pDmx->GetOutputPin(i)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking[i])),
              S_OK);
  EXPECT_TRUE(m_pDmx->GetOutputPin(1)->IsMainSeekingPin());
  ExpectRefCount(m_pDmx->AsBaseFilter(), 1);  // the pins' seeking does not hold it

  LONGLONG llPosition = 50000000;
  for (IMediaSeeking* p : pSeeking) {
    EXPECT_EQ(p->SetPositions(&llPosition, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(p->SetRate(2.0), S_OK);
    EXPECT_EQ(m_pDmx->m_llCurrent, p == pSeeking[0] ? 0 : llPosition) << "only the main pin moves";
    EXPECT_EQ(m_pDmx->m_dRate, p == pSeeking[0] ? 1.0 : 2.0);
  }
  // Queries and the time format go through every pin.
  EXPECT_EQ(pSeeking[0]->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG llDuration = 0;
  EXPECT_EQ(pSeeking[0]->GetDuration(&llDuration), S_OK);
  EXPECT_EQ(llDuration, 50);
  for (IMediaSeeking* p : pSeeking) p->Release();
}

TEST(DmxInputPin, PeerWithoutAReaderCannotConnect) {
  const LONG cObjects = CUnknown::ObjectsActive();
  CToyDmx* pDmx = nullptr;
  ASSERT_EQ(CToyDmx::Create(ToyLayout(), &pDmx), S_OK);
  auto* pUp = new CTestFilter();
  pUp->AddRef();
  CTestOutputPin* pOut = pUp->AddOutputPin(L"Out");
  pOut->m_Script.offered.push_back(MakeMediaType(MEDIATYPE_Stream, GUID_NULL));
  EXPECT_TRUE(FAILED(pOut->Connect(pDmx->GetPin(0), nullptr)));
  EXPECT_FALSE(pDmx->GetInputPin()->IsConnected());
  EXPECT_EQ(pDmx->GetPinCount(), 1);
  pUp->Release();
  pDmx->Release();
  ExpectObjectsActive(cObjects);
}

TEST(DmxInputPin, ConnectionMakesTheOutputPinsAndHoldsTheReaderUntilDisconnected) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  EXPECT_EQ(rig.dmx->GetPinCount(), 3);
  EXPECT_EQ(rig.reader->RefCount(), 5u) << "rig, source, input pin, two output pins";
  const CMediaType video = MakeMediaType(MEDIATYPE_Video, GUID_NULL);
  EXPECT_EQ(rig.Input()->QueryAccept(&video), S_FALSE);

  ASSERT_EQ(rig.dmx->Pause(), S_OK);
  EXPECT_EQ(rig.Input()->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(rig.dmx->GetReader(), nullptr) << "the connection stays, the reader goes";
  ASSERT_EQ(rig.dmx->Stop(), S_OK);

  ASSERT_EQ(rig.graph->Disconnect(rig.source->OutputPin()), S_OK);
  ASSERT_EQ(rig.graph->Disconnect(rig.Input()), S_OK);
  EXPECT_EQ(rig.dmx->GetPinCount(), 1);
  IPin* pPeer = nullptr;
  EXPECT_EQ(rig.Sink(0)->InputPin()->ConnectedTo(&pPeer), VFW_E_NOT_CONNECTED) << "removed pins let go";
  EXPECT_EQ(rig.dmx->GetReader(), nullptr);
  EXPECT_EQ(rig.reader->RefCount(), 2u);

  rig.dmx->m_hrInputComplete = VFW_E_INVALID_FILE_FORMAT;
  EXPECT_EQ(rig.graph->Connect(rig.source->OutputPin(), rig.Input()), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(rig.dmx->GetReader(), nullptr) << "a refused connection lets go of the reader";
  EXPECT_EQ(rig.reader->RefCount(), 2u);
  rig.dmx->m_hrInputComplete = S_OK;
  ASSERT_EQ(rig.graph->Connect(rig.source->OutputPin(), rig.Input()), S_OK);
  EXPECT_EQ(rig.dmx->GetPinCount(), 3) << "reconnecting makes them again";
}

TEST(DmxInputPin, EndOfStreamPassesOnOncePerStreamingRun) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build(4, false));
  ASSERT_EQ(rig.graph->Connect(rig.Pin(1), rig.Sink(1)->InputPin()), S_OK);
  CBaseDmxInputPin* pInput = rig.dmx->GetInputPin();
  EXPECT_EQ(pInput->EndOfStream(), VFW_E_WRONG_STATE) << "stopped";
  rig.reader->CloseAt(rig.layout.ChunkOffset(1, 0));  // the loop waits in its first read
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  ASSERT_TRUE(rig.reader->WaitUntilBlocked(1));
  EXPECT_EQ(pInput->EndOfStream(), S_OK);
  EXPECT_EQ(pInput->EndOfStream(), S_OK);
  EXPECT_EQ(CountKind(rig.Sink(1)->Events(), SinkEvent::kEndOfStream), 1);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  EXPECT_FALSE(pInput->IsEndOfStream()) << "cleared when streaming starts";
  ASSERT_EQ(rig.graph->Stop(), S_OK);
}

TEST(DmxInputPin, FlushOnTheInputFlushesEveryOutputAndSilencesErrors) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  CBaseDmxInputPin* pInput = rig.dmx->GetInputPin();
  ASSERT_EQ(pInput->BeginFlush(), S_OK);
  EXPECT_EQ(pInput->ReportStreamError(E_FAIL), S_OK);
  ASSERT_EQ(pInput->EndFlush(), S_OK);
  EXPECT_EQ(pInput->ReportStreamError(E_FAIL), E_FAIL);
  for (int s = 0; s < 2; ++s) EXPECT_EQ(CountKind(rig.Sink(s)->Events(), SinkEvent::kEndFlush), 1);
}

// The output type check looks at the first two offers only.
TEST(DmxOutputPin, TypeCheckComparesWithTheFirstTwoOffers) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build(4, false));
  auto type = [](char c) { return MakeMediaType(MEDIATYPE_Video, FourccGuid(MakeFourcc('O', 'U', 'T', c))); };
  const struct {
    int cOffered;  // types offered: 'A', then 'B', ...
    char cProposed;
    HRESULT hrExpected;
  } cases[] = {{2, 'B', S_OK}, {2, 'C', S_FALSE}, {1, 'B', VFW_S_NO_MORE_ITEMS}, {3, 'C', S_FALSE}};
  for (const auto& c : cases) {
    rig.dmx->m_Offers[1].clear();
    for (int i = 0; i < c.cOffered; ++i) rig.dmx->m_Offers[1].push_back(type(static_cast<char>('A' + i)));
    const CMediaType proposed = type(c.cProposed);
    EXPECT_EQ(rig.Pin(0)->CheckMediaType(&proposed), c.hrExpected) << c.cOffered << c.cProposed;
  }
}

TEST(DmxOutputPin, ConnectionTakesTheFiltersBuffersAndTheReaderAndDisconnectionLetsGo) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build(4, false));
  CBaseDmxOutputPin* pPin = rig.Pin(1);
  rig.dmx->SetMainSeekingPin(pPin);
  const ULONG cRefs = rig.reader->RefCount();
  ASSERT_EQ(rig.graph->Connect(pPin, rig.Sink(1)->InputPin()), S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(pPin->GetAllocatorNoRef()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 4);
  EXPECT_EQ(props.cbBuffer, 64);
  EXPECT_EQ(rig.reader->RefCount(), cRefs + 1);
  EXPECT_EQ(rig.dmx->GetMainSeekingPin(), nullptr) << "a connection change forgets it";

  ASSERT_EQ(rig.graph->Disconnect(pPin), S_OK);
  EXPECT_EQ(pPin->GetAllocatorNoRef(), nullptr);
  EXPECT_EQ(rig.reader->RefCount(), cRefs);
}

}  // namespace
}  // namespace flvdmx
