// The host graph: the order of state changes on scripted filters, then the
// demultiplexer framework running in it over the toy format.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "baseclasses/unknown.h"
#include "host/graph.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"
#include "support/toy_format.h"

namespace flvdmx {
namespace {

// A scripted filter that logs each state change and can refuse Pause.
class CLoggingFilter : public CTestFilter {
 public:
  CLoggingFilter(std::vector<std::string>* pLog, const char* name) : m_pLog(pLog), m_Name(name) {}

  STDMETHODIMP Stop() override { return Log("stop"), CTestFilter::Stop(); }
  STDMETHODIMP Pause() override {
    return Log("pause"), FAILED(m_hrPause) ? m_hrPause : CTestFilter::Pause();
  }
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
    ASSERT_EQ(CHostGraph::Create(&m_pGraph), S_OK);
    for (const char* name : {"source", "mid", "sinkA", "sinkB"}) {
      m_Filters.push_back(new CLoggingFilter(&m_Log, name));
      m_Filters.back()->AddRef();
      ASSERT_EQ(m_pGraph->AddFilter(m_Filters.back()->AsBaseFilter(), nullptr), S_OK);
    }
    for (auto [up, down] : {std::pair{0, 1}, {1, 2}, {1, 3}}) {
      CTestOutputPin* pOut = m_Filters[up]->AddOutputPin(L"Out");
      pOut->m_Script.offered.push_back(
          MakeMediaType(MEDIATYPE_Video, FourccGuid(MakeFourcc('G', 'R', 'P', 'H'))));
      ASSERT_EQ(m_pGraph->Connect(pOut, m_Filters[down]->AddInputPin(L"In")), S_OK);
    }
    m_Log.clear();
  }

  void TearDown() override {
    m_pGraph->Release();
    for (CLoggingFilter* f : m_Filters) f->Release();
    ExpectObjectsActive(m_cBefore);
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

  const LONG m_cBefore = CUnknown::ObjectsActive();
  std::vector<std::string> m_Log;
  std::vector<CLoggingFilter*> m_Filters;
  CHostGraph* m_pGraph = nullptr;
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
  m_Filters[1]->m_hrPause = E_FAIL;
  EXPECT_EQ(m_pGraph->Run(), E_FAIL);
  EXPECT_EQ(m_pGraph->GetState(), State_Stopped);
  EXPECT_EQ(std::count(m_Log.begin(), m_Log.end(), "pause source"), 0);
  for (CLoggingFilter* f : m_Filters) EXPECT_TRUE(f->IsStopped());
}

// The demultiplexer framework in the host graph: segments and rates, seeks
// while both threads deliver.

// A segment set before the run: start, stop (0: the file's end) and rate.
struct SegmentCase {
  const char* name;
  REFERENCE_TIME rtStart;
  REFERENCE_TIME rtStop;
  double dRate;
};

class ToySegment : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(ToySegment, DeliversExactlyTheSegmentRescaledByTheRate) {
  const SegmentCase& c = GetParam();
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  IMediaSeeking* pSeeking = nullptr;
  ASSERT_EQ(rig.graph->GetSeeking(&pSeeking), S_OK);
  ASSERT_EQ(pSeeking->SetRate(c.dRate), S_OK);
  LONGLONG llStart = c.rtStart;
  LONGLONG llStop = c.rtStop;
  ASSERT_EQ(pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, &llStop,
                                   c.rtStop != 0 ? AM_SEEKING_AbsolutePositioning : 0),
            S_OK);
  pSeeking->Release();
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  for (int s = 0; s < 2; ++s) {
    EXPECT_TRUE(rig.CheckStream(s)) << "stream " << s;
    const std::vector<SinkEvent> events = rig.Sink(s)->Events();
    EXPECT_EQ(events.front().tStart, c.rtStart);
    EXPECT_EQ(events.front().dRate, c.dRate);
  }
}

INSTANTIATE_TEST_SUITE_P(Segments, ToySegment,
                         ::testing::Values(SegmentCase{"DoubleRate", 3000000, 0, 2.0},
                                           SegmentCase{"HalfRateWithStop", 2000000, 6000000, 0.5},
                                           SegmentCase{"StopBeforeStart", 8000000, 4000000, 1.0},
                                           SegmentCase{"StartBeforeTheFile", -3000000, 0, 1.0},
                                           SegmentCase{"StartAfterTheFile", 50000000, 0, 1.0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SeekCase {
  const char* name;
  REFERENCE_TIME rtTarget;
  bool bFlush;
};

class ToySeek : public ::testing::TestWithParam<SeekCase> {};

// A flushing seek restarts each thread; one without a flush starts a new
// segment in the running loops, so both must still be running when it lands:
// each sink holds its stream's thread in Receive until the seek is made.
TEST_P(ToySeek, RestartsBothStreamsAtTheKeyChunkBeforeTheTarget) {
  const SeekCase& c = GetParam();
  ToyRig rig(ToyLayout{{{{200, 400000, 5}, {344, 232200, 1}}}, 64});
  ASSERT_TRUE(rig.Build());
  std::mutex mutex;
  std::condition_variable changed;
  int cHeld = 0;
  bool bOpen = false;
  for (CRecordingSink* pSink : rig.sinks) pSink->SetSampleDelay(1ms);  // the seek lands mid-stream
  for (CRecordingSink* pSink : rig.sinks)
    pSink->SetEventCallback([&](const SinkEvent& e, const BYTE*) {
      if (e.kind != SinkEvent::kSample) return;
      std::unique_lock<std::mutex> lock(mutex);
      if (bOpen) return;
      ++cHeld;
      changed.notify_all();
      changed.wait(lock, [&] { return bOpen; });
    });
  ASSERT_EQ(rig.graph->Run(), S_OK);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return cHeld == 2; }));
  }
  LONGLONG llTarget = c.rtTarget;
  const DWORD dwFlags = AM_SEEKING_AbsolutePositioning | (c.bFlush ? 0 : AM_SEEKING_NoFlush);
  std::thread seeker(
      [&] { EXPECT_EQ(rig.graph->SetPositions(&llTarget, dwFlags, nullptr, 0), S_OK); });
  if (!c.bFlush) seeker.join();  // a flushing seek waits for the held threads
  {
    std::lock_guard<std::mutex> lock(mutex);
    bOpen = true;
  }
  changed.notify_all();
  if (c.bFlush) seeker.join();
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);

  for (int s = 0; s < 2; ++s) {
    const std::vector<SinkEvent> events = rig.Sink(s)->Events();
    EXPECT_TRUE(rig.CheckStream(s)) << "stream " << s;
    EXPECT_EQ(CountKind(events, SinkEvent::kNewSegment), 2) << "stream " << s;
    EXPECT_EQ(CountKind(events, SinkEvent::kBeginFlush), c.bFlush ? 1 : 0);
    EXPECT_EQ(rig.dmx->cProcess[s + 1], c.bFlush ? 2 : 1);
    EXPECT_EQ(rig.dmx->ProcessThreadCount(s + 1), c.bFlush ? 2 : 1)
        << "a new thread per activation";
  }
  EXPECT_EQ(rig.dmx->cRestarts, 1);
  EXPECT_FALSE(rig.HasEvent(EC_ERRORABORT));
}

INSTANTIATE_TEST_SUITE_P(Seeks, ToySeek,
                         ::testing::Values(SeekCase{"FlushBack", 1000000, true},
                                           SeekCase{"FlushPastTheEnd", 90000000, true},
                                           SeekCase{"NoFlushForward", 41000000, false},
                                           SeekCase{"NoFlushBack", 100000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Random seeks, rate changes and state cycles while both delivery threads run
// into a slow sink through two buffers: no deadlock, no lost or repeated
// chunk, nothing left behind. Fewer rounds under the sanitizers.
TEST(HostGraphStress, SeeksAndRestartsNeverDeadlockLoseOrRepeatAChunk) {
  ToyRig rig(ToyLayout{{{{100, 400000, 5}, {172, 232200, 1}}}, 64});
  ASSERT_TRUE(rig.Build(2));
  rig.Sink(1)->SetSampleDelay(1ms);

  const int cRounds = kSanitized ? 300 : 1500;
  std::mt19937 rng(20240611);
  const REFERENCE_TIME rtDuration = 100 * 400000;
  std::uniform_int_distribution<REFERENCE_TIME> target(-rtDuration / 10,
                                                       rtDuration + rtDuration / 10);
  std::uniform_int_distribution<int> pause(0, 3);
  const std::string actions = "FFNRSP";  // seek with or without flush, rate, stop or pause and run
  std::uniform_int_distribution<size_t> pick(0, actions.size() - 1);

  WithDeadline("the stress rounds", 240s, [&] {
    ASSERT_EQ(rig.graph->Run(), S_OK);
    for (int round = 0; round < cRounds; ++round) {
      const char action = actions[pick(rng)];
      if (action == 'F' || action == 'N') {
        LONGLONG llTarget = target(rng);
        const DWORD dwNoFlush = action == 'N' ? AM_SEEKING_NoFlush : 0;
        ASSERT_EQ(rig.graph->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning | dwNoFlush,
                                          nullptr, 0),
                  S_OK);
      } else if (action == 'R') {
        IMediaSeeking* pSeeking = nullptr;
        ASSERT_EQ(rig.graph->GetSeeking(&pSeeking), S_OK);
        double dRate = 1.0;
        pSeeking->GetRate(&dRate);
        ASSERT_EQ(pSeeking->SetRate(dRate == 1.0 ? 2.0 : 1.0), S_OK);
        pSeeking->Release();
      } else {
        ASSERT_EQ(action == 'S' ? rig.graph->Stop() : rig.graph->Pause(), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
        ASSERT_EQ(rig.graph->Run(), S_OK);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
    }
    // A last run from the start must play everything.
    ASSERT_EQ(rig.graph->Stop(), S_OK);
    LONGLONG llStart = 0;
    ASSERT_EQ(rig.graph->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.Completion(60000ms), EC_COMPLETE);
    ASSERT_EQ(rig.graph->Stop(), S_OK);
  });

  for (int s = 0; s < 2; ++s) {
    size_t cLast = 0;
    EXPECT_TRUE(rig.CheckStream(s, true, &cLast)) << "stream " << s;
    EXPECT_GT(CountKind(rig.Sink(s)->Events(), SinkEvent::kNewSegment), cRounds / 4)
        << "rounds reached it";
    EXPECT_EQ(cLast, rig.layout.streams[static_cast<size_t>(s)].cChunks);
  }
  EXPECT_FALSE(rig.HasEvent(EC_ERRORABORT));
}

}  // namespace
}  // namespace flvdmx
