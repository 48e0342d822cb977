// The demultiplexer framework proved end to end on the toy format: the host's
// file source feeds CToyDmx, whose two output pins feed two recording sinks in
// the host graph. Playback, state cycles, seeks with and without flush while
// both threads deliver, stops while a thread is blocked in a read or on a full
// allocator, the main seeking pin, pin enumeration, stream errors and
// reference counts.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "host_graph/toy_graph.h"
#include "platform/mediatypes.h"
#include "support/media.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

IMediaSeeking* SeekingOf(IPin* pPin) {
  IMediaSeeking* pSeeking = nullptr;
  EXPECT_EQ(pPin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking)), S_OK);
  return pSeeking;
}

bool IsConnected(IPin* pPin) {
  IPin* pPeer = nullptr;
  if (pPin->ConnectedTo(&pPeer) != S_OK) return false;
  pPeer->Release();
  return true;
}

bool HasEvent(CHostGraph* pGraph, LONG lCode) {
  for (const CHostGraph::Event& e : pGraph->PeekEvents())
    if (e.lCode == lCode) return true;
  return false;
}

TEST(ToyGraph, ConnectsTheSourceThroughTheFilterToASinkPerStream) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  EXPECT_EQ(*rig.source->OfferedType().Subtype(), MEDIASUBTYPE_NULL);
  EXPECT_EQ(rig.dmx->GetPinCount(), 3);

  const GUID majors[] = {MEDIATYPE_Video, MEDIATYPE_Audio};
  const wchar_t* names[] = {L"Stream 0", L"Stream 1"};
  for (int s = 0; s < toy::kStreams; ++s) {
    IPin* pFound = nullptr;
    ASSERT_EQ(rig.dmx->FindPin(names[s], &pFound), S_OK);
    EXPECT_EQ(pFound, rig.StreamPin(s));
    pFound->Release();
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(rig.Sink(s)->InputPin()->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.majortype, majors[s]);
    FreeMediaType(mt);
  }

  IMediaSeeking* pSeeking = nullptr;
  ASSERT_EQ(rig.graph->GetSeeking(&pSeeking), S_OK);
  LONGLONG llDuration = 0;
  EXPECT_EQ(pSeeking->GetDuration(&llDuration), S_OK);
  EXPECT_EQ(llDuration, 50 * 400000);  // stream 0 ends last
  pSeeking->Release();
}

TEST(ToyGraph, PlaysEveryChunkOfEachStreamOnceThenCompletes) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  ASSERT_EQ(rig.graph->Run(), S_OK);
  EXPECT_EQ(rig.Completion(), EC_COMPLETE);
  for (int s = 0; s < toy::kStreams; ++s) {
    EXPECT_TRUE(rig.CheckStream(s));
    EXPECT_EQ(rig.Sink(s)->SampleCount(), rig.Layout().streams[static_cast<size_t>(s)].cChunks);
    EXPECT_EQ(CountKind(rig.Sink(s)->Events(), SinkEvent::kNewSegment), 1);
  }
  EXPECT_EQ(rig.graph->Stop(), S_OK);
  EXPECT_FALSE(HasEvent(rig.graph, EC_ERRORABORT));
}

TEST(ToyGraph, StopPauseRunCyclesReplayTheWholeFileEachRun) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  rig.Sink(1)->SetSampleDelay(1ms);
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.Completion(), EC_COMPLETE) << "cycle " << cycle;
    ASSERT_EQ(rig.graph->Stop(), S_OK);
  }
  // Paused and run again midway: the same run goes on.
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  ASSERT_TRUE(Eventually([&] { return rig.Sink(1)->SampleCount() >= 3 * 86 + 10; }));
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  ASSERT_EQ(rig.graph->Stop(), S_OK);

  for (int s = 0; s < toy::kStreams; ++s) {
    EXPECT_TRUE(rig.CheckStream(s));
    EXPECT_EQ(CountKind(rig.Sink(s)->Events(), SinkEvent::kNewSegment), 4);
    EXPECT_EQ(rig.Sink(s)->SampleCount(),
              4u * rig.Layout().streams[static_cast<size_t>(s)].cChunks);
  }
}

// A segment set before the run: start, stop (0: the file's end) and rate.
struct SegmentCase {
  const char* name;
  REFERENCE_TIME rtStart;
  REFERENCE_TIME rtStop;
  double dRate;
};

void PrintTo(const SegmentCase& c, std::ostream* os) { *os << c.name; }

class ToySegment : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(ToySegment, DeliversExactlyTheSegmentRescaledByTheRate) {
  const SegmentCase& c = GetParam();
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  IMediaSeeking* pSeeking = nullptr;
  ASSERT_EQ(rig.graph->GetSeeking(&pSeeking), S_OK);
  ASSERT_EQ(pSeeking->SetRate(c.dRate), S_OK);
  LONGLONG llStart = c.rtStart;
  LONGLONG llStop = c.rtStop;
  ASSERT_EQ(pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, &llStop,
                                   c.rtStop != 0 ? AM_SEEKING_AbsolutePositioning
                                                 : AM_SEEKING_NoPositioning),
            S_OK);
  pSeeking->Release();

  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  for (int s = 0; s < toy::kStreams; ++s) {
    EXPECT_TRUE(rig.CheckStream(s)) << "stream " << s;
    const std::vector<SinkEvent> events = rig.Sink(s)->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().kind, SinkEvent::kNewSegment);
    EXPECT_EQ(events.front().tStart, c.rtStart);
    EXPECT_EQ(events.front().dRate, c.dRate);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Segments, ToySegment,
    ::testing::Values(SegmentCase{"FromMidway", 7000000, 0, 1.0},
                      SegmentCase{"StopEarly", 0, 9000000, 1.0},
                      SegmentCase{"DoubleRate", 3000000, 0, 2.0},
                      SegmentCase{"HalfRateWithStop", 2000000, 6000000, 0.5},
                      SegmentCase{"StopBeforeStart", 8000000, 4000000, 1.0},
                      SegmentCase{"StartBeforeTheFile", -3000000, 0, 1.0},
                      SegmentCase{"StartAfterTheFile", 50000000, 0, 1.0}),
    [](const ::testing::TestParamInfo<SegmentCase>& info) { return std::string(info.param.name); });

// A seek through the graph while both delivery threads are running.
struct SeekCase {
  const char* name;
  REFERENCE_TIME rtTarget;
  bool bFlush;
};

void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.name; }

class ToySeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(ToySeek, RestartsBothStreamsAtTheKeyChunkBeforeTheTarget) {
  const SeekCase& c = GetParam();
  // Without a flush the loops must still be running when the seek lands: a
  // valve holds each of them mid-stream until the seek is made.
  CValve valves[2] = {CValve(5), CValve(8)};
  ToyGraph rig(DefaultLayout(200, 344));
  ASSERT_TRUE(rig.Build());
  for (int s = 0; s < toy::kStreams; ++s) {
    if (c.bFlush)
      rig.Sink(s)->SetSampleDelay(2ms);
    else
      rig.Sink(s)->SetEventCallback(valves[s].Callback());
  }
  ASSERT_EQ(rig.graph->Run(), S_OK);
  if (c.bFlush) {
    ASSERT_TRUE(Eventually([&] {
      return rig.Sink(0)->SampleCount() >= 5 && rig.Sink(1)->SampleCount() >= 8;
    }));
  } else {
    ASSERT_TRUE(valves[0].WaitUntilHolding());
    ASSERT_TRUE(valves[1].WaitUntilHolding());
  }

  LONGLONG llTarget = c.rtTarget;
  const DWORD dwFlags = AM_SEEKING_AbsolutePositioning | (c.bFlush ? 0 : AM_SEEKING_NoFlush);
  WithDeadline("SetPositions", 30s, [&] {
    EXPECT_EQ(rig.graph->SetPositions(&llTarget, dwFlags, nullptr, 0), S_OK);
  });
  for (CValve& valve : valves) valve.Open();
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);

  for (int s = 0; s < toy::kStreams; ++s) {
    const std::vector<SinkEvent> events = rig.Sink(s)->Events();
    EXPECT_TRUE(rig.CheckStream(s)) << "stream " << s;
    EXPECT_EQ(CountKind(events, SinkEvent::kNewSegment), 2) << "stream " << s;
    EXPECT_EQ(CountKind(events, SinkEvent::kBeginFlush), c.bFlush ? 1 : 0);
    const std::vector<SinkEvent> last = LastSegmentSamples(rig.Oracle(), events);
    ASSERT_FALSE(last.empty());
    EXPECT_TRUE(last.front().bDiscontinuity);
  }
  EXPECT_EQ(rig.dmx->m_cRestarts, 1);
  EXPECT_EQ(rig.dmx->m_cStreamErrors, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeks, ToySeek,
                         ::testing::Values(SeekCase{"FlushForward", 41000000, true},
                                           SeekCase{"FlushBack", 1000000, true},
                                           SeekCase{"FlushBeforeTheFile", -5000000, true},
                                           SeekCase{"FlushPastTheEnd", 90000000, true},
                                           SeekCase{"NoFlushForward", 41000000, false},
                                           SeekCase{"NoFlushBack", 100000, false}),
                         [](const ::testing::TestParamInfo<SeekCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ToyGraph, OnlyTheMainSeekingPinPassesPositionsAndRateOn) {
  CValve valves[2] = {CValve(3), CValve(3)};
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  // Stream 1's pin is asked first, so it becomes the main seeking pin.
  IMediaSeeking* pMain = SeekingOf(rig.StreamPin(1));
  IMediaSeeking* pOther = SeekingOf(rig.StreamPin(0));
  ASSERT_NE(pMain, nullptr);
  ASSERT_NE(pOther, nullptr);
  for (int s = 0; s < toy::kStreams; ++s) rig.Sink(s)->SetEventCallback(valves[s].Callback());
  ASSERT_EQ(rig.graph->Pause(), S_OK);
  ASSERT_TRUE(valves[0].WaitUntilHolding());
  ASSERT_TRUE(valves[1].WaitUntilHolding());

  LONGLONG llTarget = 10000000;
  EXPECT_EQ(pOther->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning | AM_SEEKING_NoFlush,
                                 nullptr, 0),
            S_OK);
  EXPECT_EQ(pOther->SetRate(2.0), S_OK);
  EXPECT_EQ(rig.dmx->m_cRestarts, 0);
  double dRate = 0.0;
  EXPECT_EQ(pOther->GetRate(&dRate), S_OK);
  EXPECT_EQ(dRate, 1.0);

  EXPECT_EQ(pMain->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning | AM_SEEKING_NoFlush,
                                nullptr, 0),
            S_OK);
  EXPECT_EQ(rig.dmx->m_cRestarts, 1);
  // Both pins answer the queries from the one filter position.
  LONGLONG llDurations[2] = {};
  EXPECT_EQ(pMain->GetDuration(&llDurations[0]), S_OK);
  EXPECT_EQ(pOther->GetDuration(&llDurations[1]), S_OK);
  EXPECT_EQ(llDurations[0], llDurations[1]);
  pMain->Release();
  pOther->Release();

  for (CValve& valve : valves) valve.Open();
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  for (int s = 0; s < toy::kStreams; ++s) {
    const std::vector<SinkEvent> events = rig.Sink(s)->Events();
    EXPECT_TRUE(rig.CheckStream(s));
    ASSERT_EQ(CountKind(events, SinkEvent::kNewSegment), 2);
    EXPECT_EQ(CountKind(events, SinkEvent::kBeginFlush), 0);
  }
}

// Ways to interrupt a delivery thread that cannot go on by itself.
enum class Interrupt { kGraphStop, kFilterStop, kSeekWithFlush };

struct BlockedCase {
  const char* name;
  Interrupt how;
};

void PrintTo(const BlockedCase& c, std::ostream* os) { *os << c.name; }

class ToyBlockedInRead : public ::testing::TestWithParam<BlockedCase> {};

TEST_P(ToyBlockedInRead, ReaderFlushFreesTheThread) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  rig.reader->CloseAt(rig.ChunkOffset(1, 20) + 30);  // inside chunk 20's payload
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_TRUE(rig.reader->WaitUntilBlocked(1, 10000ms));

  const Interrupt how = GetParam().how;
  WithDeadline("interrupting a blocked read", 30s, [&] {
    if (how == Interrupt::kGraphStop) {
      EXPECT_EQ(rig.graph->Stop(), S_OK);
    } else if (how == Interrupt::kFilterStop) {
      EXPECT_EQ(rig.dmx->Stop(), S_OK);
    } else {
      LONGLONG llTarget = 2000000;
      EXPECT_EQ(rig.graph->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning, nullptr, 0),
                S_OK);
    }
  });
  EXPECT_GE(rig.reader->FlushCount(), 1);
  rig.reader->Open();
  if (how == Interrupt::kSeekWithFlush) {
    ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  }
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  // The interrupted segment ends short; a new run plays everything.
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  const bool bEndMeansEnd = how != Interrupt::kFilterStop;
  for (int s = 0; s < toy::kStreams; ++s)
    EXPECT_TRUE(rig.CheckStream(s, bEndMeansEnd)) << "stream " << s;
  EXPECT_EQ(rig.dmx->m_cStreamErrors, 0);
  EXPECT_FALSE(HasEvent(rig.graph, EC_ERRORABORT));
}

class ToyBlockedOnAllocator : public ::testing::TestWithParam<BlockedCase> {};

TEST_P(ToyBlockedOnAllocator, DecommitOrFlushFreesTheThread) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build(2));
  rig.Sink(0)->SetHoldSamples(true);
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_TRUE(Eventually([&] { return rig.Sink(0)->HeldSampleCount() == 2; }));
  std::this_thread::sleep_for(20ms);  // into GetDeliveryBuffer's wait

  const Interrupt how = GetParam().how;
  WithDeadline("interrupting a wait for a buffer", 30s, [&] {
    if (how == Interrupt::kGraphStop) {
      EXPECT_EQ(rig.graph->Stop(), S_OK);
    } else if (how == Interrupt::kFilterStop) {
      EXPECT_EQ(rig.dmx->Stop(), S_OK);
      EXPECT_EQ(rig.Sink(0)->HeldSampleCount(), 2);  // the sink still holds them
    } else {
      LONGLONG llTarget = 4000000;
      EXPECT_EQ(rig.graph->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning, nullptr, 0),
                S_OK);
    }
  });
  rig.Sink(0)->SetHoldSamples(false);
  rig.Sink(0)->ReleaseHeldSamples();
  if (how == Interrupt::kSeekWithFlush) {
    ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  }
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  const bool bEndMeansEnd = how != Interrupt::kFilterStop;
  for (int s = 0; s < toy::kStreams; ++s)
    EXPECT_TRUE(rig.CheckStream(s, bEndMeansEnd)) << "stream " << s;
  EXPECT_EQ(rig.dmx->m_cStreamErrors, 0);
}

const BlockedCase kBlockedCases[] = {{"GraphStop", Interrupt::kGraphStop},
                                     {"FilterStop", Interrupt::kFilterStop},
                                     {"SeekWithFlush", Interrupt::kSeekWithFlush}};

std::string BlockedCaseName(const ::testing::TestParamInfo<BlockedCase>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Interrupts, ToyBlockedInRead, ::testing::ValuesIn(kBlockedCases),
                         BlockedCaseName);
INSTANTIATE_TEST_SUITE_P(Interrupts, ToyBlockedOnAllocator, ::testing::ValuesIn(kBlockedCases),
                         BlockedCaseName);

TEST(ToyGraph, PinEnumerationGoesOutOfSyncWhenTheOutputPinsChange) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  IEnumPins* pEnum = nullptr;
  ASSERT_EQ(rig.dmx->EnumPins(&pEnum), S_OK);
  IPin* pins[3] = {};
  ULONG cFetched = 0;
  ASSERT_EQ(pEnum->Next(3, pins, &cFetched), S_OK);
  for (IPin* pPin : pins) pPin->Release();

  // The input goes: the output pins go with it, and their sinks are let go.
  ASSERT_EQ(rig.graph->Disconnect(rig.source->OutputPin()), S_OK);
  ASSERT_EQ(rig.graph->Disconnect(rig.DmxInput()), S_OK);
  EXPECT_EQ(rig.dmx->GetPinCount(), 1);
  for (int s = 0; s < toy::kStreams; ++s) EXPECT_FALSE(IsConnected(rig.Sink(s)->InputPin()));
  ASSERT_EQ(pEnum->Reset(), S_OK);
  ASSERT_EQ(pEnum->Next(3, pins, &cFetched), S_FALSE);
  ASSERT_EQ(cFetched, 1u);
  pins[0]->Release();

  // The input comes back: so do the output pins, out of the enumerator's sight.
  ASSERT_EQ(rig.graph->Connect(rig.source->OutputPin(), rig.DmxInput()), S_OK);
  EXPECT_EQ(pEnum->Next(1, pins, &cFetched), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(pEnum->Reset(), S_OK);
  ASSERT_EQ(pEnum->Next(3, pins, &cFetched), S_OK);
  for (IPin* pPin : pins) pPin->Release();
  pEnum->Release();
}

TEST(ToyGraph, AnOutputPinHeldByTheApplicationOutlivesTheFiltersTable) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  IPin* pPin = rig.StreamPin(0);
  pPin->AddRef();
  IMediaSeeking* pSeeking = SeekingOf(pPin);

  ASSERT_EQ(rig.graph->RemoveAllFilters(), S_OK);
  EXPECT_EQ(rig.dmx->GetOutputPinCount(), 0);
  EXPECT_EQ(rig.reader->RefCount(), 2u);  // ours and the source's: the filter let go
  LONGLONG llDuration = 0;
  EXPECT_EQ(pSeeking->GetDuration(&llDuration), S_OK);
  EXPECT_EQ(llDuration, 50 * 400000);
  EXPECT_FALSE(IsConnected(pPin));
  pSeeking->Release();
  EXPECT_EQ(pPin->Release(), 0u);
  // The rig's destructor checks that every object of the module is gone.
}

TEST(ToyGraph, AStreamErrorReachesTheApplicationAfterEndOfStream) {
  ToyGraph rig;
  ASSERT_TRUE(rig.Build());
  rig.memory->FailReadsAt(rig.ChunkOffset(1, 30) + 25, E_FAIL);
  ASSERT_EQ(rig.graph->Run(), S_OK);
  // The failing stream delivers end-of-stream before it reports, so the run
  // may complete just before it aborts.
  LONG lCode = rig.Completion();
  if (lCode == EC_COMPLETE) lCode = rig.Completion();
  EXPECT_EQ(lCode, EC_ERRORABORT);

  bool bFound = false;
  for (const CHostGraph::Event& e : rig.graph->PeekEvents()) {
    if (e.lCode != EC_ERRORABORT) continue;
    bFound = true;
    EXPECT_EQ(e.lParam1, E_FAIL);
    EXPECT_EQ(e.lParam2, reinterpret_cast<LONG_PTR>(rig.dmx->AsBaseFilter()));
  }
  EXPECT_TRUE(bFound);
  ASSERT_TRUE(Eventually([&] { return rig.Sink(0)->IsEndOfStream(); }));
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  const std::vector<SinkEvent> events = rig.Sink(1)->Events();
  EXPECT_TRUE(rig.CheckStream(1, false));
  EXPECT_EQ(LastSegmentSamples(rig.Oracle(), events).size(), 30u);
  EXPECT_EQ(events.back().kind, SinkEvent::kEndOfStream);
  EXPECT_TRUE(rig.CheckStream(0));
}

TEST(ToyGraph, PlaysAFileFromDiskThroughTheFileReader) {
  const LONG cBefore = CUnknown::ObjectsActive();
  TempDir dir;
  const std::string path = dir.File("clip.toy");
  const std::vector<uint8_t> bytes = toy::MakeFile(DefaultLayout());
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  CHostGraph* graph = nullptr;
  CFileSource* source = nullptr;
  CToyDmx* dmx = nullptr;
  CRecordingSink* sinks[2] = {};
  ASSERT_EQ(CHostGraph::Create(&graph), S_OK);
  ASSERT_EQ(CFileSource::Open(path.c_str(), &source), S_OK);
  ASSERT_EQ(CToyDmx::Create(&dmx), S_OK);
  ASSERT_EQ(graph->AddFilter(source->AsBaseFilter(), L"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(dmx->AsBaseFilter(), L"Toy"), S_OK);
  ASSERT_EQ(graph->Connect(source->OutputPin(), static_cast<IPin*>(dmx->GetPin(0))), S_OK);
  for (int s = 0; s < toy::kStreams; ++s) {
    ASSERT_EQ(CRecordingSink::Create(&sinks[s]), S_OK);
    ASSERT_EQ(graph->AddFilter(sinks[s]->AsBaseFilter(), nullptr), S_OK);
    ASSERT_EQ(graph->Connect(dmx->StreamPin(s), sinks[s]->InputPin()), S_OK);
  }
  ASSERT_EQ(graph->Run(), S_OK);
  LONG lCode = 0;
  EXPECT_EQ(graph->WaitForCompletion(20000, &lCode), S_OK);
  EXPECT_EQ(lCode, EC_COMPLETE);
  EXPECT_EQ(sinks[0]->SampleCount(), 50u);
  EXPECT_EQ(sinks[1]->SampleCount(), 86u);

  EXPECT_EQ(graph->Release(), 0u);
  for (CRecordingSink* sink : sinks) sink->Release();
  dmx->Release();
  source->Release();
  EXPECT_EQ(CUnknown::ObjectsActive(), cBefore);
}

}  // namespace
}  // namespace flvdmx
