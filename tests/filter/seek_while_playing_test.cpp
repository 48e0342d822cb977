// Both delivery threads running while the application seeks, with and without
// flush, and stops and runs again: no deadlock, and after the last change
// every pin delivers the new segment from the right place to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filter/filter_rig.h"
#include "seeking/seeking.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

using namespace std::chrono_literals;

constexpr REFERENCE_TIME kMs = 10000;

// Runs fn on a thread of its own; a call that does not return within `limit`
// is a deadlock, which nothing else would end: the process aborts loudly.
template <class Fn>
void WithDeadline(const char* what, std::chrono::seconds limit, Fn fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "\n%s did not return within %lld s: deadlock\n", what,
                 static_cast<long long>(limit.count()));
    std::abort();
  }
  worker.join();
  done.get();
}

// The events of the last run of the pin: from the last new segment on.
std::vector<SinkEvent> LastSegment(const std::vector<SinkEvent>& events) {
  size_t start = 0;
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i].kind == SinkEvent::kNewSegment) start = i;
  return std::vector<SinkEvent>(events.begin() + static_cast<std::ptrdiff_t>(start), events.end());
}

// Waits until the pin's last segment starts at the target and has ended with
// end-of-stream. (The graph's completion alone could count an end-of-stream
// of the run a flushing seek cut short.)
bool WaitForSegmentEnd(CRecordingSink* pSink, uint32_t targetMs) {
  for (int i = 0; i < 60000; ++i) {
    const std::vector<SinkEvent> events = LastSegment(pSink->Events());
    if (!events.empty() && events.front().tStart == targetMs * kMs &&
        events.back().kind == SinkEvent::kEndOfStream && !events.back().bIgnored) {
      return true;
    }
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// The last segment started at the target and ran to the end of the stream:
// the first sample is a tag of the stream at or before the target (for
// video a key frame with no key frame strictly between it and the target;
// for audio the last tag at or before it), every later tag follows in order,
// and end-of-stream closes it.
void ExpectSegmentFromTarget(const std::vector<SinkEvent>& all, const std::vector<FileTag>& tags,
                             uint32_t targetMs, bool video, const char* what) {
  SCOPED_TRACE(what);
  const std::vector<SinkEvent> events = LastSegment(all);
  ASSERT_FALSE(events.empty());
  const REFERENCE_TIME tStart = targetMs * kMs;
  EXPECT_EQ(events.front().tStart, tStart);
  const auto samples = SamplesOf(events);
  ASSERT_FALSE(samples.empty());
  const uint32_t firstMs = static_cast<uint32_t>((samples.front().tStart + tStart) / kMs);
  size_t first = tags.size();
  for (size_t i = 0; i < tags.size(); ++i)
    if (tags[i].timeMs == firstMs) first = i;
  ASSERT_LT(first, tags.size()) << "no tag at " << firstMs;
  EXPECT_LE(firstMs, targetMs);
  if (video) {
    EXPECT_TRUE(tags[first].key) << firstMs;
    for (const FileTag& t : tags) EXPECT_FALSE(t.key && t.timeMs > firstMs && t.timeMs < targetMs) << t.timeMs;
  } else if (first + 1 < tags.size()) {
    EXPECT_GE(tags[first + 1].timeMs, targetMs);
  }
  ASSERT_EQ(samples.size(), tags.size() - first);
  for (size_t n = 0; n < samples.size(); ++n) {
    EXPECT_EQ(samples[n].tStart + tStart, tags[first + n].timeMs * kMs);
    EXPECT_EQ(samples[n].lActual, static_cast<LONG>(tags[first + n].payloadSize));
  }
  EXPECT_EQ(events.back().kind, SinkEvent::kEndOfStream);
}

class SeekWhilePlayingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Layout layout;
    layout.durationMs = 30000;
    m_File = MakeFlv(layout);
  }
  void TearDown() override { ExpectObjectsActive(0); }

  CraftedFlv m_File;
};

TEST_F(SeekWhilePlayingTest, FlushingSeeksRestartBothPinsAtTheNewTarget) {
  WithDeadline("flushing seeks", 120s, [this] {
    FilterRig rig(m_File.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    // Slow sinks keep both loops busy while the seeks come.
    rig.Sink("Video")->SetSampleDelay(1ms);
    rig.Sink("Audio")->SetSampleDelay(1ms);
    ASSERT_EQ(rig.Graph()->Run(), S_OK);

    std::mt19937 random(7);
    const int cSeeks = kSanitized ? 8 : 30;
    uint32_t targetMs = 0;
    for (int i = 0; i < cSeeks; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
      targetMs = 20000 + random() % 9000;
      LONGLONG llStart = targetMs * kMs;
      ASSERT_EQ(rig.Graph()->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning),
                S_OK);
    }
    EXPECT_TRUE(WaitForSegmentEnd(rig.Sink("Video"), targetMs));
    EXPECT_TRUE(WaitForSegmentEnd(rig.Sink("Audio"), targetMs));
    rig.Graph()->Stop();
    ExpectSegmentFromTarget(rig.Sink("Video")->Events(), m_File.Of(kFlvTagVideo), targetMs, true, "Video");
    ExpectSegmentFromTarget(rig.Sink("Audio")->Events(), m_File.Of(kFlvTagAudio), targetMs, false, "Audio");
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

    const uint32_t targetMs = 25250;
    LONGLONG llStart = targetMs * kMs;
    ASSERT_EQ(rig.Graph()->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning | AM_SEEKING_NoFlush,
                                        nullptr, AM_SEEKING_NoPositioning),
              S_OK);
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
    ExpectSegmentFromTarget(rig.Sink("Video")->Events(), m_File.Of(kFlvTagVideo), targetMs, true, "Video");
    ExpectSegmentFromTarget(rig.Sink("Audio")->Events(), m_File.Of(kFlvTagAudio), targetMs, false, "Audio");
  });
}

TEST_F(SeekWhilePlayingTest, StopAndRunAgainReplaysFromTheRequestedStart) {
  WithDeadline("stop and run", 120s, [this] {
    FilterRig rig(m_File.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    rig.Sink("Video")->SetSampleDelay(1ms);
    const int cCycles = kSanitized ? 3 : 10;
    for (int i = 0; i < cCycles; ++i) {
      ASSERT_EQ(rig.Graph()->Run(), S_OK);
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * i));
      ASSERT_EQ(rig.Graph()->Stop(), S_OK);
    }
    rig.Sink("Video")->SetSampleDelay(0ms);
    const uint32_t targetMs = 28000;
    IMediaSeeking* pSeeking = rig.Seeking();
    LONGLONG llStart = targetMs * kMs;
    ASSERT_EQ(pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                                     AM_SEEKING_NoPositioning),
              S_OK);
    pSeeking->Release();
    EXPECT_EQ(rig.RunToCompletion(60000), EC_COMPLETE);
    rig.Graph()->Stop();
    ExpectSegmentFromTarget(rig.Sink("Video")->Events(), m_File.Of(kFlvTagVideo), targetMs, true, "Video");
    ExpectSegmentFromTarget(rig.Sink("Audio")->Events(), m_File.Of(kFlvTagAudio), targetMs, false, "Audio");
  });
}

}  // namespace
}  // namespace flvdmx::filtertest
