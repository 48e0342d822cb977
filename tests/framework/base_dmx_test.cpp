// CBaseDmx and its pins: the output pin table, end-of-stream, type checks and
// the main seeking pin.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/dmx_input_pin.h"
#include "host/allocator.h"
#include "module/module_entry.h"
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

  const LONG cObjects = CUnknown::ObjectsActive();
  CBaseDmxOutputPin* pSecond = m_pDmx->GetOutputPin(1);
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects + 1) << "made on first request";
  ExpectRefCount(m_pDmx->AsBaseFilter(), 1);  // the table does not hold the filter

  m_pDmx->RemoveOutputPin(0);  // reserved but never made
  EXPECT_EQ(m_pDmx->GetOutputPin(0), pSecond);
  EXPECT_EQ(pSecond->GetPinNumber(), 1) << "later pins move down";
  m_pDmx->SetMainSeekingPin(pSecond);
  EXPECT_EQ(m_pDmx->RemoveAllOutputPins(), S_OK);
  EXPECT_EQ(m_pDmx->GetPinCount(), 1);
  EXPECT_EQ(m_pDmx->GetMainSeekingPin(), nullptr) << "a removed pin is not remembered";
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjects);
}

// Every pin a walk of the filter finds, each released again.
int WalkPins(IBaseFilter* pFilter) {
  IEnumPins* pEnum = nullptr;
  if (pFilter->EnumPins(&pEnum) != S_OK) return -1;
  int cPins = 0;
  IPin* pPin = nullptr;
  while (pEnum->Next(1, &pPin, nullptr) == S_OK) {
    pPin->Release();
    ++cPins;
  }
  pEnum->Release();
  return cPins;
}

// A walk while the output pins are being dropped (here from inside a pin's
// disconnection) finds either the old pins or none, and makes no new one.
TEST(BaseDmxPins, WalkDuringRemovalSeesNoHalfEmptyTable) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  std::vector<int> walks;
  rig.dmx->m_OnBreakConnect = [&](int iPin) {
    if (iPin > 0) walks.push_back(WalkPins(rig.dmx->AsBaseFilter()));
  };
  ASSERT_EQ(rig.graph->Disconnect(rig.Input()), S_OK);
  rig.dmx->m_OnBreakConnect = nullptr;
  EXPECT_EQ(walks, (std::vector<int>{1, 1})) << "only the input pin is left to find";
  EXPECT_EQ(rig.dmx->GetOutputPinCount(), 0);
}

// One thread walks the pins while another connects and disconnects the
// input (which makes and drops the output pins): no pin may be made for a
// slot that is being emptied, none used after it goes, none left behind.
TEST(BaseDmxPins, EnumeratingWhileTheInputReconnectsLeaksNothing) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build(4, false));
  std::atomic<bool> bDone{false};
  std::atomic<int> cPinsSeen{0};
  std::thread walker([&] {
    IEnumPins* pEnum = nullptr;
    if (rig.dmx->EnumPins(&pEnum) != S_OK) return;
    while (!bDone) {
      IPin* pPin = nullptr;
      const HRESULT hr = pEnum->Next(1, &pPin, nullptr);
      if (hr == S_OK) {
        PIN_INFO info{};
        if (pPin->QueryPinInfo(&info) == S_OK) info.pFilter->Release();
        pPin->Release();
        ++cPinsSeen;
      } else {
        pEnum->Reset();
      }
    }
    pEnum->Release();
  });
  const int cCycles = kSanitized ? 100 : 400;
  WithDeadline("reconnecting the input", std::chrono::seconds(60), [&] {
    for (int i = 0; i < cCycles; ++i) {
      ASSERT_EQ(rig.graph->Disconnect(rig.Input()), S_OK);
      ASSERT_EQ(rig.graph->Disconnect(rig.source->OutputPin()), S_OK);
      ASSERT_EQ(rig.graph->Connect(rig.source->OutputPin(), rig.Input()), S_OK);
      // A connected pin takes longer to drop: the walker gets in between.
      ASSERT_EQ(rig.graph->Connect(rig.Pin(0), rig.Sink(0)->InputPin()), S_OK);
    }
  });
  bDone = true;
  walker.join();
  EXPECT_GT(cPinsSeen, 0);
  EXPECT_EQ(rig.dmx->GetOutputPinCount(), 2);
}  // the rig checks that every object is gone

// A caller may keep a pin after it let go of the filter and the graph: the
// pin keeps its filter alive until it goes, and then everything goes.
TEST(BaseDmxPins, HeldOutputPinKeepsItsFilter) {
  const LONG cObjectsBefore = CUnknown::ObjectsActive();
  IPin* pKept = nullptr;
  IMediaSeeking* pSeeking = nullptr;
  {
    ToyRig rig;
    ASSERT_TRUE(rig.Build());
    pKept = rig.Pin(1);
    pKept->AddRef();
    ASSERT_EQ(rig.Pin(0)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking)),
              S_OK);
    ASSERT_EQ(rig.graph->RemoveAllFilters(), S_OK);
    rig.graph->Release();
    rig.graph = nullptr;
    rig.dmx->Release();
    rig.dmx = nullptr;
    rig.sinks[0]->Release();
    rig.sinks[0] = nullptr;
    rig.sinks[1]->Release();
    rig.sinks[1] = nullptr;
    pSeeking->Release();  // one pin's last hold goes before the other's
    PIN_INFO info{};
    ASSERT_EQ(pKept->QueryPinInfo(&info), S_OK);
    ASSERT_NE(info.pFilter, nullptr);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(info.pFilter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    info.pFilter->Release();
    // The rig's own check would see the kept pin and filter: count them out.
    EXPECT_GT(CUnknown::ObjectsActive(), cObjectsBefore);
    EXPECT_EQ(pKept->Release(), 0u);
  }
  EXPECT_EQ(CUnknown::ObjectsActive(), cObjectsBefore);
  if (cObjectsBefore == 0) {
    EXPECT_EQ(CanUnloadModule(), S_OK);
  }
}

// Renderers keep the seeking interfaces they got before a connection change
// and seek through every one: still only one pin may apply the seek.
TEST_F(BaseDmx, SeekingKeptAcrossAConnectionChangeAppliesOnce) {
  ASSERT_EQ(m_pDmx->AddOutputPin(), S_OK);
  ASSERT_EQ(m_pDmx->AddOutputPin(), S_OK);
  auto seeking = [&](int i) {
    IMediaSeeking* p = nullptr;
    EXPECT_EQ(
        m_pDmx->GetOutputPin(i)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&p)),
        S_OK);
    return p;
  };
  IMediaSeeking* pKept = seeking(1);  // the main pin until the change
  m_pDmx->PinBreakConnect(2);         // a connection change forgets it
  IMediaSeeking* pAsked = seeking(0);
  LONGLONG llFirst = 50000000, llSecond = 30000000;
  EXPECT_EQ(pAsked->SetPositions(&llFirst, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(pKept->SetPositions(&llSecond, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(m_pDmx->m_llCurrent, llFirst) << "the kept interface applied the seek again";
  EXPECT_EQ(pKept->SetRate(2.0), S_OK);
  EXPECT_EQ(m_pDmx->m_dRate, 1.0);
  pKept->Release();
  pAsked->Release();
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
  EXPECT_EQ(rig.dmx->PinEndOfStream(0), S_OK);
  EXPECT_EQ(CountKind(rig.Sink(1)->Events(), SinkEvent::kEndOfStream), 0)
      << "held until the connected input has seen its end";
  EXPECT_EQ(pInput->EndOfStream(), S_OK);
  EXPECT_EQ(pInput->EndOfStream(), S_OK);
  EXPECT_EQ(CountKind(rig.Sink(1)->Events(), SinkEvent::kEndOfStream), 1);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  EXPECT_FALSE(pInput->IsEndOfStream()) << "cleared when streaming starts";
  ASSERT_EQ(rig.graph->Stop(), S_OK);
}

// The defaults a format filter relies on when it does not override a hook.
TEST(BaseDmxHooks, DefaultBufferSizeRaisesTheRequestToAnAlignedMinimum) {
  IMemAllocator* pAlloc = nullptr;
  ASSERT_EQ(
      CMemAllocator::CreateInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&pAlloc)),
      S_OK);
  CToyDmx* pDmx = nullptr;
  ASSERT_EQ(CToyDmx::Create(ToyLayout(), &pDmx), S_OK);
  const struct {
    ALLOCATOR_PROPERTIES request, expected;  // buffers, bytes, alignment, prefix
  } cases[] = {
      {{0, 0, 0, 0}, {1, 8192, 4, 0}},
      {{3, 100000, 1, 8}, {3, 100000, 4, 8}},  // the prefix stays
      {{2, 4096, 64, 0}, {2, 8192, 4, 0}},     // alignment is 4 whatever was asked
  };
  for (const auto& c : cases) {
    ALLOCATOR_PROPERTIES request = c.request;
    EXPECT_EQ(pDmx->CBaseDmx::PinDecideBufferSize(1, pAlloc, &request), S_OK);
    EXPECT_EQ(request.cBuffers, c.expected.cBuffers);
    EXPECT_EQ(request.cbBuffer, c.expected.cbBuffer);
    EXPECT_EQ(request.cbAlign, c.expected.cbAlign);
    EXPECT_EQ(request.cbPrefix, c.expected.cbPrefix);
  }
  ALLOCATOR_PROPERTIES request{};
  EXPECT_EQ(pDmx->CBaseDmx::PinDecideBufferSize(1, nullptr, &request), E_POINTER);
  EXPECT_EQ(pDmx->CBaseDmx::PinDecideBufferSize(1, pAlloc, nullptr), E_POINTER);
  pDmx->Release();
  pAlloc->Release();
}

// How failures reach the application: a loop's failure names the filter, a
// failure the filter itself reports does not.
TEST(BaseDmxHooks, ErrorsReachTheGraphAsErrorAbort) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  EXPECT_EQ(rig.dmx->NotifyGraphOfError(E_ACCESSDENIED), E_ACCESSDENIED);
  EXPECT_EQ(rig.dmx->ReportStreamError(E_OUTOFMEMORY), E_OUTOFMEMORY);
  const std::vector<CHostGraph::Event> events = rig.graph->PeekEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].lCode, EC_ERRORABORT);
  EXPECT_EQ(events[0].lParam1, E_ACCESSDENIED);
  EXPECT_EQ(events[0].lParam2, 0);
  EXPECT_EQ(events[1].lCode, EC_ERRORABORT);
  EXPECT_EQ(events[1].lParam1, E_OUTOFMEMORY);
  EXPECT_EQ(events[1].lParam2, reinterpret_cast<LONG_PTR>(rig.dmx->AsBaseFilter()));
}

// Stop ends streaming once per streaming run: a second Stop has nothing to end.
TEST(BaseDmxHooks, StopStreamingOncePerRun) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  ASSERT_EQ(rig.dmx->Stop(), S_OK);
  EXPECT_EQ(rig.dmx->cStopStreaming, 0) << "never started";
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  ASSERT_EQ(rig.dmx->Stop(), S_OK);
  EXPECT_EQ(rig.dmx->cStopStreaming, 1);
}

// Dropping the output pins (the input disconnects) takes their connections
// down on both sides, so the sinks are free for another filter.
TEST(BaseDmxPins, RemovingThePinsDisconnectsTheirPeers) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  ASSERT_EQ(rig.graph->Disconnect(rig.Input()), S_OK);
  for (int s = 0; s < 2; ++s) {
    IPin* pPeer = nullptr;
    EXPECT_EQ(rig.Sink(s)->InputPin()->ConnectedTo(&pPeer), VFW_E_NOT_CONNECTED) << s;
    if (pPeer != nullptr) pPeer->Release();
  }
}

// A disconnection refused while running must leave the pin as it was: the
// next run still reads through the same reader and completes.
TEST(DmxInputPin, RefusedDisconnectKeepsTheReader) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  EXPECT_EQ(rig.Input()->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_TRUE(rig.dmx->GetInputPin()->IsConnected());
  IAsyncReader* pReader = rig.dmx->GetReader();
  EXPECT_NE(pReader, nullptr) << "the reader was let go";
  if (pReader != nullptr) pReader->Release();
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  ASSERT_EQ(rig.graph->Run(), S_OK);
  EXPECT_EQ(rig.Completion(), EC_COMPLETE);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
}

// The output type check looks at the first two offers only; QueryAccept
// turns any refusal into S_FALSE.
TEST(DmxOutputPin, TypeCheckComparesWithTheFirstTwoOffers) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build(4, false));
  auto type = [](char c) {
    return MakeMediaType(MEDIATYPE_Video, FourccGuid(MakeFourcc('O', 'U', 'T', c)));
  };
  const struct {
    int cOffered;  // types offered: 'A', then 'B', ...
    char cProposed;
    HRESULT hrExpected;
  } cases[] = {{2, 'B', S_OK}, {2, 'C', S_FALSE}, {1, 'B', VFW_S_NO_MORE_ITEMS}, {3, 'C', S_FALSE}};
  for (const auto& c : cases) {
    rig.dmx->m_Offers[1].clear();
    for (int i = 0; i < c.cOffered; ++i)
      rig.dmx->m_Offers[1].push_back(type(static_cast<char>('A' + i)));
    const CMediaType proposed = type(c.cProposed);
    EXPECT_EQ(rig.Pin(0)->CheckMediaType(&proposed), c.hrExpected) << c.cOffered << c.cProposed;
    EXPECT_EQ(rig.Pin(0)->QueryAccept(&proposed), c.hrExpected == S_OK ? S_OK : S_FALSE)
        << "QueryAccept answers S_OK or S_FALSE only";
  }
}

}  // namespace
}  // namespace flvdmx
