// Random seeks, rate changes and state cycles while both delivery threads run
// into a slow sink through two buffers: no deadlock, no lost or repeated
// chunk, nothing left behind. Fewer rounds under the sanitizers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/toy_format.h"

namespace flvdmx {
namespace {

TEST(HostGraphStress, SeeksAndRestartsNeverDeadlockLoseOrRepeatAChunk) {
  ToyRig rig(ToyLayout{{{{100, 400000, 5}, {172, 232200, 1}}}, 64});
  ASSERT_TRUE(rig.Build(2));
  rig.Sink(1)->SetSampleDelay(1ms);

  const int cRounds = kSanitized ? 300 : 1500;
  std::mt19937 rng(20240611);
  const REFERENCE_TIME rtDuration = 100 * 400000;
  std::uniform_int_distribution<REFERENCE_TIME> target(-rtDuration / 10, rtDuration + rtDuration / 10);
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
        ASSERT_EQ(rig.graph->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning | dwNoFlush, nullptr, 0), S_OK);
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
    ASSERT_EQ(rig.graph->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr, 0),
              S_OK);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.Completion(60000ms), EC_COMPLETE);
    ASSERT_EQ(rig.graph->Stop(), S_OK);
  });

  for (int s = 0; s < 2; ++s) {
    size_t cLast = 0;
    EXPECT_TRUE(rig.CheckStream(s, true, &cLast)) << "stream " << s;
    EXPECT_GT(CountKind(rig.Sink(s)->Events(), SinkEvent::kNewSegment), cRounds / 4) << "rounds reached it";
    EXPECT_EQ(cLast, rig.layout.streams[static_cast<size_t>(s)].cChunks);
  }
  EXPECT_FALSE(rig.HasEvent(EC_ERRORABORT));
}

}  // namespace
}  // namespace flvdmx
