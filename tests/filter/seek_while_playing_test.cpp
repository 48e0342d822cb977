// Both delivery threads running while the application seeks and stops and
// runs again: no deadlock (the test's timeout), and after the last seek every
// pin delivers the new segment from the right place to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "filter/filter_rig.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

using namespace std::chrono_literals;

// Until the pin's last segment starts at the target and has ended with an
// end-of-stream that counts (not one of a run a flushing seek cut short).
bool WaitForSegmentEnd(CRecordingSink* pSink, uint32_t targetMs) {
  for (int i = 0; i < 60000; ++i) {
    const std::vector<SinkEvent> events = pSink->Events();
    size_t last = 0;
    for (size_t k = 0; k < events.size(); ++k)
      if (events[k].kind == SinkEvent::kNewSegment) last = k;
    if (!events.empty() && events[last].tStart == targetMs * kMs && events.back().kind == SinkEvent::kEndOfStream &&
        !events.back().bIgnored)
      return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// Stop and run cycles while the loops deliver, then flushing seeks in quick
// succession while slow sinks keep both loops busy.
TEST(SeekWhilePlayingTest, StopRunAndFlushingSeeksRestartBothPinsAtTheLastTarget) {
  Layout layout;
  layout.durationMs = 30000;
  const CraftedFlv file = MakeFlv(layout);
  {
    FilterRig rig(file.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    rig.Sink("Video")->SetSampleDelay(1ms);
    rig.Sink("Audio")->SetSampleDelay(1ms);
    for (int i = 0; i < (kSanitized ? 3 : 10); ++i) {
      ASSERT_EQ(rig.Graph()->Run(), S_OK);
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * i));
      ASSERT_EQ(rig.Graph()->Stop(), S_OK);
    }
    ASSERT_EQ(rig.Graph()->Run(), S_OK);
    std::mt19937 random(7);
    uint32_t targetMs = 0;
    for (int i = 0; i < (kSanitized ? 8 : 30); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
      targetMs = 20000 + random() % 9000;
      ASSERT_EQ(rig.Seek(targetMs), S_OK);
    }
    EXPECT_TRUE(WaitForSegmentEnd(rig.Sink("Video"), targetMs));
    EXPECT_TRUE(WaitForSegmentEnd(rig.Sink("Audio"), targetMs));
    rig.Graph()->Stop();
    ExpectBothDelivered(rig, file, 30000 * kMs);
  }
  ExpectObjectsActive(0);
}

}  // namespace
}  // namespace flvdmx::filtertest
