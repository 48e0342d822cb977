// Both delivery threads running while the application seeks, with and without
// flush, and stops and runs again: no deadlock, and after the last change
// every pin delivers the new segment from the right place to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>

#include "filter/filter_rig.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

using namespace std::chrono_literals;

// Runs fn on a thread of its own; a call that does not return within `limit`
// is a deadlock, which nothing else would end: the process aborts loudly.
template <class Fn>
void WithDeadline(const char* what, std::chrono::seconds limit, Fn fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "\n%s did not return within %lld s: deadlock\n", what, static_cast<long long>(limit.count()));
    std::abort();
  }
  worker.join();
  done.get();
}

// Waits until the pin's last segment starts at the target and has ended with
// an end-of-stream that counts. (The graph's completion alone could count an
// end-of-stream of the run a flushing seek cut short.)
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

class SeekWhilePlayingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Layout layout;
    layout.durationMs = 30000;
    m_File = MakeFlv(layout);
  }
  void TearDown() override { ExpectObjectsActive(0); }

  void ExpectBothDelivered(FilterRig& rig) {
    ExpectDelivery(rig.Sink("Video")->Events(), m_File.Of(kFlvTagVideo), true, 30000 * kMs, "Video");
    ExpectDelivery(rig.Sink("Audio")->Events(), m_File.Of(kFlvTagAudio), false, 30000 * kMs, "Audio");
  }

  CraftedFlv m_File;
};

// Stop and run cycles while the loops deliver, then flushing seeks in quick
// succession while slow sinks keep both loops busy.
TEST_F(SeekWhilePlayingTest, StopRunAndFlushingSeeksRestartBothPinsAtTheLastTarget) {
  WithDeadline("stop, run and flushing seeks", 120s, [this] {
    FilterRig rig(m_File.bytes);
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
    ExpectBothDelivered(rig);
  });
}

TEST_F(SeekWhilePlayingTest, SeekWithoutFlushStartsANewSegmentInTheRunningLoops) {
  WithDeadline("seek without flush", 120s, [this] {
    FilterRig rig(m_File.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    rig.Sink("Video")->SetSampleDelay(2ms);
    rig.Sink("Audio")->SetSampleDelay(2ms);
    ASSERT_EQ(rig.Graph()->Run(), S_OK);
    // Both loops are well under way and far from their end.
    for (int i = 0; i < 2000 && (rig.Sink("Video")->SampleCount() < 5 || rig.Sink("Audio")->SampleCount() < 5); ++i)
      std::this_thread::sleep_for(1ms);
    ASSERT_EQ(rig.Seek(25250, std::nullopt, AM_SEEKING_NoFlush), S_OK);
    LONG lCode = 0;
    EXPECT_EQ(rig.Graph()->WaitForCompletion(60000, &lCode), S_OK);
    EXPECT_EQ(lCode, EC_COMPLETE);
    rig.Graph()->Stop();
    for (const char* name : {"Video", "Audio"}) {
      const auto events = rig.Sink(name)->Events();
      EXPECT_EQ(CountOf(events, SinkEvent::kBeginFlush), 0) << name;
      EXPECT_EQ(CountOf(events, SinkEvent::kNewSegment), 2) << name << ": the first, then the seek's";
      EXPECT_EQ(CountOf(events, SinkEvent::kEndOfStream), 1) << name;
    }
    ExpectBothDelivered(rig);
  });
}

}  // namespace
}  // namespace flvdmx::filtertest
