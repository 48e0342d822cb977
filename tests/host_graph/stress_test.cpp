// Hundreds of seeks (with and without flush), rate changes and stop/run and
// pause/run cycles, made at random moments while both delivery threads run
// into a slow sink through a two-buffer allocator. Nothing may deadlock, no
// segment may lose or repeat a chunk, and every object must be gone at the
// end. Fewer rounds under the sanitizers, which slow every thread down.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <vector>

#include "host_graph/toy_graph.h"

namespace flvdmx {
namespace {

enum class Action { kSeekFlush, kSeekNoFlush, kRate, kStopRun, kPauseRun };

TEST(HostGraphStress, SeeksAndRestartsNeverDeadlockLoseOrRepeatAChunk) {
  ToyGraph rig(DefaultLayout(100, 172));
  ASSERT_TRUE(rig.Build(2));
  rig.Sink(1)->SetSampleDelay(1ms);

  const int cRounds = kSanitized ? 300 : 1500;
  std::mt19937 rng(20240611);
  const REFERENCE_TIME rtDuration = 100 * 400000;
  std::uniform_int_distribution<REFERENCE_TIME> target(-rtDuration / 10, rtDuration + rtDuration / 10);
  std::uniform_int_distribution<int> pause(0, 3);
  const Action actions[] = {Action::kSeekFlush, Action::kSeekFlush,  Action::kSeekNoFlush,
                            Action::kRate,      Action::kStopRun,    Action::kPauseRun};
  std::uniform_int_distribution<size_t> pick(0, std::size(actions) - 1);
  int counts[5] = {};

  WithDeadline("the stress rounds", 240s, [&] {
    ASSERT_EQ(rig.graph->Run(), S_OK);
    for (int round = 0; round < cRounds; ++round) {
      const Action action = actions[pick(rng)];
      ++counts[static_cast<int>(action)];
      switch (action) {
        case Action::kSeekFlush:
        case Action::kSeekNoFlush: {
          LONGLONG llTarget = target(rng);
          const DWORD dwFlags = AM_SEEKING_AbsolutePositioning |
                                (action == Action::kSeekNoFlush ? AM_SEEKING_NoFlush : 0);
          ASSERT_EQ(rig.graph->SetPositions(&llTarget, dwFlags, nullptr, 0), S_OK);
          break;
        }
        case Action::kRate: {
          IMediaSeeking* pSeeking = nullptr;
          ASSERT_EQ(rig.graph->GetSeeking(&pSeeking), S_OK);
          double dRate = 1.0;
          pSeeking->GetRate(&dRate);
          ASSERT_EQ(pSeeking->SetRate(dRate == 1.0 ? 2.0 : 1.0), S_OK);
          pSeeking->Release();
          break;
        }
        case Action::kStopRun:
          ASSERT_EQ(rig.graph->Stop(), S_OK);
          ASSERT_EQ(rig.graph->Run(), S_OK);
          break;
        case Action::kPauseRun:
          ASSERT_EQ(rig.graph->Pause(), S_OK);
          std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
          ASSERT_EQ(rig.graph->Run(), S_OK);
          break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
    }
    // A last run from the start must play everything.
    ASSERT_EQ(rig.graph->Stop(), S_OK);
    LONGLONG llStart = 0;
    ASSERT_EQ(rig.graph->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr, 0),
              S_OK);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.Completion(60000ms), EC_COMPLETE);
    ASSERT_EQ(rig.graph->Stop(), S_OK);
  });

  for (int c : counts) EXPECT_GT(c, 0) << "every kind of action should have run";
  for (int s = 0; s < toy::kStreams; ++s) {
    EXPECT_TRUE(rig.CheckStream(s)) << "stream " << s;
    // The rounds did reach the streams: most of them started a segment.
    EXPECT_GT(CountKind(rig.Sink(s)->Events(), SinkEvent::kNewSegment), cRounds / 4);
    const std::vector<SinkEvent> last = LastSegmentSamples(rig.Oracle(), rig.Sink(s)->Events());
    EXPECT_EQ(last.size(), rig.Layout().streams[static_cast<size_t>(s)].cChunks);
  }
  EXPECT_EQ(rig.dmx->m_cStreamErrors, 0);
  for (const CHostGraph::Event& e : rig.graph->PeekEvents()) EXPECT_NE(e.lCode, EC_ERRORABORT);
}

}  // namespace
}  // namespace flvdmx
