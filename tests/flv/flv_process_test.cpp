// The streaming loop as the sinks see it: where a seek starts and stops each
// stream, how the loop ends on damaged files, and both delivery threads
// running while the application seeks and stops and runs again: no deadlock
// (the test's timeout), and after the last seek every pin delivers the new
// segment from the right place to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <random>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/block_reader.h"
#include "baseclasses/mediatype.h"
#include "flv/filter_rig.h"
#include "parsers/syntax_writers.h"
#include "support/ffprobe.h"
#include "support/media.h"
#include "support/test_filters.h"
#include "support/toy_format.h"
#include "streams/video_units.h"

namespace flvdmx::filtertest {
namespace {

using StreamingLoopTest = ObjectsReleased<>;

// VP6 starts one key frame earlier than the target needs, on a key frame's time
// maybe one more (the pin that positions first decides the walk's direction).
TEST_F(StreamingLoopTest, SeekStartsVideoAtAKeyFrameAndAudioAtTheTarget) {
  const struct {
    const char* name;
    bool vp6;
    uint32_t targetMs, stopMs;
    std::vector<uint32_t> firstVideoMs;
  } cases[] = {{"Vp6StartsOneKeyFrameEarlier", true, 2500, 10000, {1000}},
               {"Vp6OnAKeyFrame", true, 2000, 10000, {1000, 0}},
               {"Vp6InTheFirstSecond", true, 500, 10000, {0}},
               {"StopEndsBothPins", false, 2500, 4020, {2000}},
               {"AfterTheLastVideoTag", false, 9990, 10000, {9000}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layout layout;
    layout.vp6 = c.vp6;
    const CraftedFlv file = MakeFlv(layout);
    FilterRig rig(file.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    ASSERT_EQ(rig.Seek(c.targetMs, c.stopMs), S_OK);
    EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
    ExpectBothDelivered(rig, file, c.stopMs * kMs, c.firstVideoMs);
  }
}

// Large video frames between short audio tags: playing both pins reads the
// file about once (the audio pin's read-ahead holds none of the frames, the
// video pin reads each frame's bytes once), in about three reads per frame
// (the audio pin's one, the video pin's header block and frame).
TEST_F(StreamingLoopTest, BothPinsReadTheFileAboutOnce) {
  Layout layout;
  layout.durationMs = 4000;
  layout.videoIntervalMs = 40;
  layout.audioIntervalMs = 23;
  layout.videoFiller = 100000;
  const CraftedFlv file = MakeFlv(layout);
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  const uint64_t cScanReads = rig.Reader()->ReadCount();
  const uint64_t cbScan = rig.Reader()->BytesRead();
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectBothDelivered(rig, file, 4000 * kMs);
  const uint64_t cFrames = file.Of(kFlvTagVideo).size();
  EXPECT_LE(rig.Reader()->BytesRead() - cbScan, file.bytes.size() * 105 / 100);
  EXPECT_LE(rig.Reader()->ReadCount() - cScanReads, cFrames * 3 + 8);
}

// A wrong PreviousTagSize: the scan records the link and the loops follow it.
TEST_F(StreamingLoopTest, RepairedBackLinkDoesNotStopDelivery) {
  CraftedFlv file = MakeFlv(Layout());
  file.bytes[static_cast<size_t>(file.tags[40].position) + 3] ^= 0x55;
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_GE(rig.Dmx()->FileState().TagLinkFixups().Count(), 1u);
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectBothDelivered(rig, file, 10000 * kMs);
  // The position is the last sample the loops delivered.
  LONGLONG llCurrent = 0;
  ASSERT_EQ(rig.Dmx()->GetCurrentPosition(&llCurrent), S_OK);
  EXPECT_TRUE(llCurrent == 9900 * kMs || llCurrent == 9950 * kMs) << llCurrent;
}

// A tag without payload is skipped but still ends the sample before it; a
// cut tag is not delivered; a tag larger than two pictures that the scan saw
// is delivered whole. Every stream still ends.
TEST_F(StreamingLoopTest, BadTagsEndOrSkipCleanly) {
  const CraftedFlv crafted = MakeFlv(Layout());
  const auto video = crafted.Of(kFlvTagVideo);
  const FileTag cut = video[video.size() / 2];
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t cSamples, iBeforeBadTag;
    REFERENCE_TIME tBadTag;  // the stop of the sample before it
  } cases[] = {
      {"empty tag", {}, 3, 1, 200 * kMs},
      {"truncated file",
       std::vector<uint8_t>(crafted.bytes.begin(), crafted.bytes.begin() + cut.position + 25),
       video.size() / 2, video.size() / 2 - 1, cut.timeMs * kMs},
      {"tag larger than two pictures", {}, 4, 1, 200 * kMs},
  };
  for (const size_t filler : {size_t{0}, size_t{200000}}) {
    FlvWriter w(kFlvHasVideo);
    w.Video(0, VideoPayload(false, true, 30));
    w.Video(100, VideoPayload(false, false, 30));
    w.Video(200, filler ? VideoPayload(false, false, filler) : std::vector<uint8_t>{});
    w.Video(300, VideoPayload(false, false, 30));
    cases[filler ? 2 : 0].bytes = w.Bytes();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FilterRig rig(c.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
    const auto samples = SamplesOf(rig.Sink("Video")->Events());
    ASSERT_EQ(samples.size(), c.cSamples);
    EXPECT_EQ(samples[c.iBeforeBadTag].tStop, c.tBadTag);
    for (const std::string& pin : rig.OutputPinNames())
      EXPECT_EQ(CountOf(rig.Sink(pin)->Events(), SinkEvent::kEndOfStream), 1) << pin;
  }
}

// Samples against the tags: all of them in order, with their times and
// sizes, a discontinuity on the first and after each gap, none as preroll.
void ExpectHeld(const std::vector<SinkEvent>& events, const std::vector<FileTag>& tags,
                const std::vector<uint32_t>& gapMs, const char* what) {
  SCOPED_TRACE(what);
  const std::vector<SinkEvent> samples = SamplesOf(events);
  ASSERT_EQ(samples.size(), tags.size()) << "samples delivered against tags in the file";
  for (size_t i = 0; i < tags.size(); ++i) {
    SCOPED_TRACE("tag at " + std::to_string(tags[i].timeMs) + " ms");
    const bool gap = std::find(gapMs.begin(), gapMs.end(), tags[i].timeMs) != gapMs.end();
    EXPECT_EQ(samples[i].tStart, tags[i].timeMs * kMs);
    EXPECT_EQ(samples[i].lActual, static_cast<LONG>(tags[i].payloadSize));
    EXPECT_EQ(samples[i].bSyncPoint, tags[i].key);
    EXPECT_EQ(samples[i].bDiscontinuity, i == 0 || gap);
    EXPECT_FALSE(samples[i].bPreroll);
  }
  EXPECT_EQ(events.back().kind, SinkEvent::kEndOfStream);
}

// 30 s with metadata: the scan stops after ten seconds and never sees the
// damage at 20 s (or 11.5 s of 12), so only the loops meet it.
TEST_F(StreamingLoopTest, ABreakInTheTagChainIsCrossedAndPlaysToTheEnd) {
  const struct {
    const char* name;
    uint32_t durationMs, breakMs;
    size_t cGarbage;  // 0: the back-link of the tag at breakMs is wrong
  } cases[] = {
      {"a bad back-link mid-file resynchronises and plays to the end", 30000, 20000, 0},
      {"a bad back-link just before the end still plays the rest", 12000, 11500, 0},
      {"garbage between tags is skipped", 30000, 20000, 37},
      {"a long run of garbage is skipped", 30000, 20000, 20000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layout layout;
    layout.durationMs = c.durationMs;
    CraftedFlv file = MakeFlv(layout);
    size_t k = 0;
    while (file.tags[k].timeMs < c.breakMs) ++k;
    const int64_t llBreak = file.tags[k].position;
    if (c.cGarbage == 0) {
      file.bytes[static_cast<size_t>(llBreak) + 3] ^= 0x55;
    } else {
      std::vector<uint8_t> garbage(c.cGarbage);
      for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(0xA5 ^ (i * 7));
      file.bytes.insert(file.bytes.begin() + llBreak, garbage.begin(), garbage.end());
    }
    FilterRig rig(file.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    EXPECT_EQ(rig.Dmx()->FileState().TagLinkFixups().Count(), 0u) << "the scan saw it";
    rig.ConnectAllSinks();
    EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
    // The first sample of each stream after the break carries a discontinuity.
    for (const uint8_t type : {kFlvTagVideo, kFlvTagAudio}) {
      const std::vector<FileTag> tags = file.Of(type);
      const auto after = std::find_if(tags.begin(), tags.end(),
                                      [&](const FileTag& t) { return t.position >= llBreak; });
      ASSERT_NE(after, tags.end());
      const std::string pin = type == kFlvTagVideo ? "Video" : "Audio";
      ExpectHeld(rig.Sink(pin)->Events(), tags, {after->timeMs}, pin.c_str());
    }
  }
}

// Seeks land where they should whatever the file: video on the last key
// frame at or before the target, audio on the tag that covers it; targets on
// a key frame, on an audio tag, between tags, just after a key frame. Each
// is played several times: which pin positions first must not matter.
TEST_F(StreamingLoopTest, SeekLandsOnTheKeyFrameAndAudioTagOfTheTarget) {
  const uint32_t targets[] = {0, 3000, 7000, 12000, 12001, 12006, 17950, 21000, 25500, 28999};
  for (const bool zeroBackLinks : {false, true}) {
    SCOPED_TRACE(zeroBackLinks ? "every back-link 0" : "back-links right");
    Layout layout;
    layout.durationMs = 30000;
    layout.audioIntervalMs = 23;
    layout.zeroBackLinks = zeroBackLinks;
    const CraftedFlv file = MakeFlv(layout);
    for (const uint32_t targetMs : targets) {
      for (int run = 0; run < (kSanitized ? 1 : 3); ++run) {
        SCOPED_TRACE("target " + std::to_string(targetMs));
        FilterRig rig(file.bytes);
        ASSERT_EQ(rig.ConnectInput(), S_OK);
        rig.ConnectAllSinks();
        ASSERT_EQ(rig.Seek(targetMs), S_OK);
        EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
        ExpectBothDelivered(rig, file, 30000 * kMs);
      }
    }
  }
}

// Recordings whose 24-bit times wrap at 4 h 39 min, without a metadata
// duration: played over the wrap, each pin carries it on from the tag before,
// so the times it delivers keep rising; a seek beyond it in a five-hour file
// (one tag of each stream every two seconds keeps it small) lands where it
// should. With TimestampExtended filled or always 0.
TEST_F(StreamingLoopTest, TimesKeepRisingAcrossTheWrapWhilePlaying) {
  const uint32_t kFiveHours = 5 * 3600 * 1000, kPastTheWrap = (4 * 60 + 50) * 60 * 1000 + 1000;
  const struct {
    const char* name;
    bool extendedTime;
    uint32_t startMs, durationMs, intervalMs, seekMs;  // seekMs from the start
  } cases[] = {
      {"PlayingOverTheWrap", true, 0xFFFFFF - 2000, 6000, 0, 1000},
      {"PlayingOverTheWrapExtendedZero", false, 0xFFFFFF - 2000, 6000, 0, 1000},
      {"SeekBeyondTheWrap", true, 0, kFiveHours, 2000, kPastTheWrap},
      {"SeekBeyondTheWrapExtendedZero", false, 0, kFiveHours, 2000, kPastTheWrap},
      {"WrapInsideTheScannedPart", false, 0x1000000 - 5000, kFiveHours, 2000, kPastTheWrap},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Layout layout;
    layout.startMs = c.startMs;
    layout.durationMs = c.durationMs;
    if (c.intervalMs != 0) {
      layout.videoIntervalMs = layout.audioIntervalMs = c.intervalMs;
      layout.keyIntervalMs = 5 * c.intervalMs;
    }
    layout.metadata = false;
    layout.extendedTime = c.extendedTime;
    const CraftedFlv file = MakeFlv(layout);
    FilterRig rig(file.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    EXPECT_EQ(rig.Dmx()->FileState().Duration(), file.tags.back().timeMs);
    rig.ConnectAllSinks();
    ASSERT_EQ(rig.Seek(c.startMs + c.seekMs), S_OK);
    EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
    ExpectBothDelivered(rig, file, static_cast<REFERENCE_TIME>(file.tags.back().timeMs) * kMs);
  }
}

using namespace std::chrono_literals;

// Until the pin's last segment starts at the target and has ended with an
// end-of-stream that counts (not one of a run a flushing seek cut short).
bool WaitForSegmentEnd(CRecordingSink* pSink, uint32_t targetMs) {
  for (int i = 0; i < 60000; ++i) {
    const std::vector<SinkEvent> events = pSink->Events();
    size_t last = 0;
    for (size_t k = 0; k < events.size(); ++k)
      if (events[k].kind == SinkEvent::kNewSegment) last = k;
    if (!events.empty() && events[last].tStart == targetMs * kMs &&
        events.back().kind == SinkEvent::kEndOfStream && !events.back().bIgnored)
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

// At another rate, sample times are stream times over the rate, counted from
// the segment start, and the segment says the rate.
TEST(RateTest, SampleTimesAreScaledByTheRate) {
  const CraftedFlv file = MakeFlv(Layout());
  for (const double dRate : {2.0, 0.5}) {
    SCOPED_TRACE(dRate);
    FilterRig rig(file.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    IMediaSeeking* pSeeking = nullptr;
    ASSERT_EQ(rig.Graph()->GetSeeking(&pSeeking), S_OK);
    ASSERT_EQ(pSeeking->SetRate(dRate), S_OK);
    pSeeking->Release();
    ASSERT_EQ(rig.Seek(3000), S_OK);
    EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
    ASSERT_EQ(rig.Graph()->Stop(), S_OK);
    for (const char* pin : {"Video", "Audio"}) {
      const std::vector<SinkEvent> events = rig.Sink(pin)->Events();
      ASSERT_FALSE(events.empty());
      EXPECT_EQ(events.front().dRate, dRate) << pin;
    }
    ExpectBothDelivered(rig, file, 10000 * kMs);
  }
  ExpectObjectsActive(0);
}

// A storm of seeks while slow sinks keep both loops busy, flushing and not,
// after Stop/Pause/Run cycles: the loops keep up, and after the last seek
// each pin delivers exactly its stream from the last target to the end.
TEST(SeekWhilePlayingTest, StormOfSeeksEndsWithTheLastTargetDeliveredOnce) {
  Layout layout;
  layout.durationMs = 30000;
  const CraftedFlv file = MakeFlv(layout);
  for (const DWORD dwFlush : {DWORD{0}, DWORD{AM_SEEKING_NoFlush}}) {
    SCOPED_TRACE(dwFlush == 0 ? "flushing" : "without flush");
    FilterRig rig(file.bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    rig.Sink("Video")->SetSampleDelay(1ms);
    rig.Sink("Audio")->SetSampleDelay(1ms);
    for (int i = 0; i < (kSanitized ? 5 : 20); ++i) {
      ASSERT_EQ(rig.Graph()->Run(), S_OK);
      ASSERT_EQ(i % 2 ? rig.Graph()->Pause() : rig.Graph()->Stop(), S_OK);
    }
    ASSERT_EQ(rig.Graph()->Run(), S_OK);
    std::mt19937 random(11);
    uint32_t targetMs = 0;
    WithDeadline("a storm of seeks", std::chrono::seconds(120), [&] {
      for (int i = 0; i < (kSanitized ? 100 : 1000); ++i) {
        targetMs = 25000 + random() % 4000;
        ASSERT_EQ(rig.Seek(targetMs, std::nullopt, dwFlush), S_OK);
      }
    });
    EXPECT_TRUE(WaitForSegmentEnd(rig.Sink("Video"), targetMs));
    EXPECT_TRUE(WaitForSegmentEnd(rig.Sink("Audio"), targetMs));
    ASSERT_EQ(rig.Graph()->Stop(), S_OK);
    ExpectBothDelivered(rig, file, 30000 * kMs);
  }
  ExpectObjectsActive(0);
}

// A downstream filter that fails what the loop asks of it (a decoder refusing
// a sample, an allocator out of buffers): the loop ends and the application
// learns of it through EC_ERRORABORT with that code, rather than waiting for
// a completion that never comes.

// Hands out buffers from the platform's allocator until cBuffers are gone,
// then answers hr.
class CFailingAllocator final : public IMemAllocator {
 public:
  CFailingAllocator(IMemAllocator* pInner, int cBuffers, HRESULT hr)
      : m_pInner(pInner), m_cLeft(cBuffers), m_hr(hr) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IMemAllocator) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG cRef = --m_cRef;
    if (cRef == 0) {
      m_pInner->Release();
      delete this;
    }
    return static_cast<ULONG>(cRef);
  }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override {
    return m_pInner->SetProperties(pRequest, pActual);
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override {
    return m_pInner->GetProperties(pProps);
  }
  STDMETHODIMP Commit() override { return m_pInner->Commit(); }
  STDMETHODIMP Decommit() override { return m_pInner->Decommit(); }
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStart, REFERENCE_TIME* pStop,
                         DWORD dwFlags) override {
    if (--m_cLeft < 0) return *ppBuffer = nullptr, m_hr;
    return m_pInner->GetBuffer(ppBuffer, pStart, pStop, dwFlags);
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override {
    return m_pInner->ReleaseBuffer(pBuffer);
  }

 private:
  std::atomic<LONG> m_cRef{1};
  IMemAllocator* const m_pInner;
  std::atomic<int> m_cLeft;
  const HRESULT m_hr;
};

struct Failure {
  int cAccepted = 0;           // samples (or buffers) that go through first
  HRESULT hrReceive = S_OK;    // then Receive's answer
  HRESULT hrGetBuffer = S_OK;  // or then GetBuffer's
};

// Accepts every type; fails as m_Failure says.
class CFailingPin : public CTestInputPin {
 public:
  using CTestInputPin::CTestInputPin;

  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override {
    if (m_Failure.hrGetBuffer == S_OK) return CBaseInputPin::GetAllocator(ppAllocator);
    IMemAllocator* pInner = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMemAllocator, reinterpret_cast<void**>(&pInner));
    if (FAILED(hr)) return hr;
    *ppAllocator = new CFailingAllocator(pInner, m_Failure.cAccepted, m_Failure.hrGetBuffer);
    return S_OK;
  }
  STDMETHODIMP Receive(IMediaSample* pSample) override {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return ++m_cReceived > m_Failure.cAccepted ? m_Failure.hrReceive : S_OK;
  }

  std::atomic<int> m_cReceived{0};
  Failure m_Failure;
};

using DeliveryFailureTest = ObjectsReleased<>;

// The audio loop against a failing sink; the video pin feeds a recording sink
// and must not hide the failure.
TEST_F(DeliveryFailureTest, FailureReachesTheGraphAsErrorAbort) {
  const struct {
    const char* what;
    Failure failure;
    HRESULT hrReported;  // S_OK: nothing reported
  } cases[] = {
      {"ReceiveRefusesTheFirstSample", {0, VFW_E_TYPE_NOT_ACCEPTED, S_OK}, VFW_E_TYPE_NOT_ACCEPTED},
      {"ReceiveFailsLater", {5, E_FAIL, S_OK}, E_FAIL},
      {"GetBufferFails", {3, S_OK, E_OUTOFMEMORY}, E_OUTOFMEMORY},
      // Answers of a sink stopped before the filter (the graph stops
      // renderers first), and a request to stop: not failures of the run.
      {"ReceiveWhileStopping", {2, VFW_E_WRONG_STATE, S_OK}, S_OK},
      {"GetBufferWhileStopping", {2, S_OK, VFW_E_NOT_COMMITTED}, S_OK},
      {"ReceiveAsksToStop", {2, S_FALSE, S_OK}, S_OK},
  };
  const CraftedFlv file = MakeFlv(Layout());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto* pSink = new CTestFilter();
    pSink->NonDelegatingAddRef();
    CFailingPin* pPin = pSink->Add<CFailingPin>(L"Input");
    pPin->m_Failure = c.failure;
    {
      FilterRig rig(file.bytes);
      ASSERT_EQ(rig.ConnectInput(), S_OK);
      rig.ConnectSink("Video");
      ASSERT_EQ(rig.Graph()->AddFilter(pSink, L"Failing sink"), S_OK);
      ASSERT_EQ(rig.Graph()->Connect(rig.OutputPin("Audio"), pPin), S_OK);
      // The failing sink never completes: without a report the wait times out.
      EXPECT_EQ(rig.RunToCompletion(c.hrReported == S_OK ? 500 : 5000),
                c.hrReported == S_OK ? 0 : EC_ERRORABORT);
      int cAborts = 0;
      for (const CHostGraph::Event& e : rig.Graph()->PeekEvents()) {
        if (e.lCode != EC_ERRORABORT) continue;
        ++cAborts;
        EXPECT_EQ(e.lParam1, c.hrReported);
        EXPECT_EQ(e.lParam2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(rig.Dmx())));
      }
      EXPECT_EQ(cAborts, c.hrReported == S_OK ? 0 : 1);
      // The loop ended at the failure: nothing was offered after it.
      EXPECT_EQ(pPin->m_cReceived.load(),
                c.failure.cAccepted + (c.failure.hrReceive != S_OK ? 1 : 0));
      EXPECT_EQ(rig.Graph()->Stop(), S_OK);
    }
    pSink->NonDelegatingRelease();
  }
}

// The file goes away part way (a disk error, a network share that drops):
// every read from the Nth on fails, with both pins running. The file spans
// several read-ahead blocks and has no metadata duration, so the reads cover
// the header scan, the tail search and both pins' playback. A failure during
// the scan fails the connection with that code and leaves no pin and no hold
// on the reader; a later one ends the run with EC_ERRORABORT carrying the
// code, Stop comes back at once, and nothing is left alive. Short reads from
// the Nth on (S_FALSE, a copy cut short) read as a file that ends there, or
// fail the connection when nothing playable came before them.
class ReadFaultSweepTest : public ::testing::TestWithParam<HRESULT> {
 protected:
  static CraftedFlv MakeFile() {
    Layout layout;
    layout.durationMs = 60000;
    layout.videoIntervalMs = 40;
    layout.videoFiller = 2000;
    layout.metadata = false;
    return MakeFlv(layout);
  }

  // Connects, plays to the end and stops; the reads of the scan and of all.
  static std::pair<uint64_t, uint64_t> CountReads(const CraftedFlv& file) {
    FilterRig rig(file.bytes);
    EXPECT_EQ(rig.ConnectInput(), S_OK);
    const uint64_t cScan = rig.Reader()->ReadCount();
    rig.ConnectAllSinks();
    EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
    EXPECT_EQ(rig.Graph()->Stop(), S_OK);
    return {cScan, rig.Reader()->ReadCount()};
  }

  // Plays with reads failing from the one numbered n on; whether it aborted.
  static bool PlayFailing(const CraftedFlv& file, uint64_t n, HRESULT hrGone) {
    FilterRig rig(file.bytes);
    rig.Reader()->FailReadsFrom(n, hrGone);
    EXPECT_EQ(rig.ConnectInput(), S_OK);
    EXPECT_EQ(rig.Dmx()->GetOutputPinCount(), 2);
    rig.ConnectAllSinks();
    const LONG lCode = rig.RunToCompletion(10000);
    EXPECT_TRUE(lCode == EC_COMPLETE || lCode == EC_ERRORABORT) << "event " << lCode;
    for (const CHostGraph::Event& e : rig.Graph()->PeekEvents())
      if (e.lCode == EC_ERRORABORT) {
        EXPECT_EQ(e.lParam1, hrGone);
      }
    const auto tStop = std::chrono::steady_clock::now();
    EXPECT_EQ(rig.Graph()->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - tStop, std::chrono::seconds(2));
    return lCode == EC_ERRORABORT;
  }
};

TEST_P(ReadFaultSweepTest, FailingFromAnyReadOnEndsTheRunCleanly) {
  const CraftedFlv file = MakeFile();
  ASSERT_GT(file.bytes.size(), 8 * kDefaultReadBlock);
  const HRESULT hrGone = GetParam();
  const auto [cScanReads, cReads] = CountReads(file);
  ASSERT_GE(cScanReads, 2u) << "the scan walks the head and searches the tail";
  ASSERT_GE(cReads, cScanReads + 8) << "each pin reads block after block";
  for (uint64_t n = 0; n < cScanReads; ++n) {
    SCOPED_TRACE("reads fail from number " + std::to_string(n) + ", in the scan");
    FilterRig rig(file.bytes);
    rig.Reader()->FailReadsFrom(n, hrGone);
    const auto refs = [&] { return rig.Reader()->AddRef(), rig.Reader()->Release(); };
    const ULONG cRefsBefore = refs();
    const HRESULT hr = rig.ConnectInput();
    if (hrGone != S_FALSE) {
      // Connecting takes E_FAIL for a refusal of the media type.
      EXPECT_EQ(hr, hrGone == E_FAIL ? VFW_E_NO_ACCEPTABLE_TYPES : hrGone);
    } else if (SUCCEEDED(hr)) {
      // A connection with nothing to run would leave Run waiting forever.
      EXPECT_GT(rig.Dmx()->GetOutputPinCount(), 0);
      continue;
    }
    EXPECT_EQ(rig.Dmx()->GetOutputPinCount(), 0);
    EXPECT_EQ(rig.Dmx()->GetReader(), nullptr);
    EXPECT_EQ(refs(), cRefsBefore) << "a hold left on the reader";
  }
  int cAborted = 0;
  const uint64_t cPlayReads = cReads - cScanReads;
  const uint64_t step = std::max<uint64_t>(1, cPlayReads / (kSanitized ? 8 : 40));
  int cRuns = 0;
  for (uint64_t n = cScanReads; n < cReads; n += step, ++cRuns) {
    SCOPED_TRACE("reads fail from number " + std::to_string(n));
    if (PlayFailing(file, n, hrGone)) ++cAborted;
  }
  // A source gone during playback is never a complete file; a short read
  // is the end of the data.
  EXPECT_EQ(cAborted, hrGone == S_FALSE ? 0 : cRuns);
  ExpectObjectsActive(0);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReadFaultSweepTest,
                         ::testing::Values(HRESULT_FROM_WIN32(64),  // ERROR_NETNAME_DELETED
                                           E_FAIL, S_FALSE));

// What files really hold against what they declare: an AVC configuration
// that comes late or never, hostile picture sizes, tags larger than any
// estimate. Each case is a file and the samples it must give.
struct HeldFile {
  std::vector<uint8_t> bytes;
  std::vector<FileTag> video, audio;  // the tags that must come out as samples
  // Samples after skipped tags, which carry a discontinuity.
  std::vector<uint32_t> videoGapMs, audioGapMs;
  uint16_t width = 1, height = 1;
  bool config = false;                 // a decoder configuration is described
  REFERENCE_TIME avgTimePerFrame = 0;  // 0: not checked
};

// AVC: flags byte, AVCPacketType 1, CompositionTime 0, `size` bytes.
std::vector<uint8_t> AvcFrame(bool key, size_t size, uint8_t seed = 0) {
  std::vector<uint8_t> p = {static_cast<uint8_t>(key ? 0x17 : 0x27), 1, 0, 0, 0};
  for (size_t i = 0; i < size; ++i) p.push_back(static_cast<uint8_t>(seed + i));
  return p;
}

// Sorenson H.263 key frame declaring width x height (PictureSize 1), then filler.
std::vector<uint8_t> SorensonFrame(uint16_t width, uint16_t height, size_t filler) {
  test::BitWriter w;  // start code, version, reference, size
  w.Bits(0x12, 8).Bits(1, 17).Bits(0, 5).Bits(0, 8).Bits(1, 3).Bits(width, 16).Bits(height, 16);
  std::vector<uint8_t> p = w.Bytes();
  p.resize(p.size() + filler, 0x5A);
  return p;
}

int64_t AddTag(FlvWriter& w, std::vector<FileTag>& list, uint8_t type, uint32_t ms,
               const std::vector<uint8_t>& payload, uint32_t cbPrefix, bool key = true) {
  const int64_t pos = w.Tag(type, ms, payload);
  list.push_back({pos, type, ms, key, static_cast<uint32_t>(payload.size() - cbPrefix)});
  return pos;
}

// 12 s of AVC (320 x 180) every 40 ms and PCM audio every 50 ms; the
// sequence header after five coded frames with time 0, or none.
HeldFile AvcFile(bool withConfig) {
  HeldFile f;
  FlvWriter w;
  w.Script(OnMetaData(12.0, 3, 7));
  for (uint32_t v = 0, a = 0, i = 0; v < 12000 || a < 12000; ++i) {
    if (v < 12000 && v <= a) {
      if (withConfig && v == 200)
        w.Video(0, SequenceHeaderPayload(7, ConfigRecord({kH264Sps}, kH264Pps)));
      AddTag(w, f.video, kFlvTagVideo, v, AvcFrame(v % 2000 == 0, 30 + i % 11, i), 5,
             v % 2000 == 0);
      v += 40;
    } else {
      AddTag(w, f.audio, kFlvTagAudio, a, AudioPayload(40 + i % 7, 0x3F), 1);
      a += 50;
    }
  }
  f.bytes = w.Bytes();
  f.width = withConfig ? 320 : 1, f.height = withConfig ? 180 : 1;
  f.config = withConfig;
  f.avgTimePerFrame = 40 * kMs;
  return f;
}

// HEVC under codec id 12 (320 x 180): the sequence header first, coded
// frames behind the same four bytes as AVC's, an end-of-sequence tag last.
// Only the frames' units are samples, as for enhanced hvc1 tracks.
HeldFile LegacyHevcFile() {
  HeldFile f;
  FlvWriter w(kFlvHasVideo);
  w.Video(0, SequenceHeaderPayload(
                 12, HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}})));
  for (uint32_t v = 0, i = 0; v < 4000; v += 40, ++i) {
    std::vector<uint8_t> frame = AvcFrame(v % 1000 == 0, 30 + i % 11, static_cast<uint8_t>(i));
    frame[0] = static_cast<uint8_t>((frame[0] & 0xF0) | 12);
    AddTag(w, f.video, kFlvTagVideo, v, frame, 5, v % 1000 == 0);
  }
  w.Video(4000, {0x1C, 2, 0, 0, 0});  // end of sequence
  f.bytes = w.Bytes();
  f.width = 320, f.height = 180, f.config = true;
  f.avgTimePerFrame = 40 * kMs;
  return f;
}

// Sorenson H.263 at 33,328 x 8,739: two such pictures would be 1.6 GiB.
HeldFile HostileSorenson() {
  HeldFile f;
  FlvWriter w(kFlvHasVideo);
  for (uint32_t v = 0; v < 1000; v += 100)
    AddTag(w, f.video, kFlvTagVideo, v, SorensonFrame(33328, 8739, v == 500 ? 400000 : 20), 1);
  f.bytes = w.Bytes();
  f.width = 33328, f.height = 8739;
  return f;
}

// AVC whose first tag is no sequence header (1 x 1), then larger tags, one
// of 300 KB.
HeldFile TinyAvcThenLargeTags() {
  HeldFile f;
  FlvWriter w(kFlvHasVideo);
  AddTag(w, f.video, kFlvTagVideo, 0, AvcFrame(true, 4), 5);
  for (uint32_t v = 40; v < 400; v += 40)
    AddTag(w, f.video, kFlvTagVideo, v, AvcFrame(false, v == 200 ? 300000 : 25), 5, false);
  f.bytes = w.Bytes();
  return f;
}

// 30 s of screen video (160 x 120) and PCM audio: the scan stops after ten
// seconds, so two video tags at 20 s and an audio tag at 25 s exceed the
// buffers.
HeldFile TagsBeyondTheEstimate() {
  HeldFile f;
  FlvWriter w;
  w.Script(OnMetaData(30.0, 3, 3));
  for (uint32_t v = 0, a = 0, i = 0; v < 30000 || a < 30000; ++i) {
    if (v < 30000 && v <= a) {
      const bool key = v % 1000 == 0, huge = v == 20000 || v == 20100;
      const auto payload = VideoPayload(false, key, huge ? 400000 : 20 + i % 13, uint8_t(i));
      if (huge) {
        w.Video(v, payload);
      } else {
        AddTag(w, f.video, kFlvTagVideo, v, payload, 1, key);
      }
      v += 100;
    } else {
      const auto payload = AudioPayload(a == 25000 ? 300000 : 30 + i % 5, 0x3F);
      if (a == 25000) {
        w.Audio(a, payload);
      } else {
        AddTag(w, f.audio, kFlvTagAudio, a, payload, 1);
      }
      a += 50;
    }
  }
  f.bytes = w.Bytes();
  f.videoGapMs = {20200}, f.audioGapMs = {25050};
  f.width = 160, f.height = 120;
  return f;
}

// The ffmpeg-made 320 x 240 file with its AVC sequence header moved after the
// fifth coded frame (keeping its time), against ffprobe's packets of the
// original.
HeldFile LateConfigFromFfmpeg() {
  const std::string path = MediaPath("h264_aac_short.flv");
  const std::vector<uint8_t> b = ReadFileBytes(path);
  struct Tag {
    uint8_t type;
    uint32_t ms;
    std::vector<uint8_t> payload;
  };
  std::vector<Tag> tags;
  size_t p = b.size() < 9 ? b.size() : (size_t{b[5]} << 24 | b[6] << 16 | b[7] << 8 | b[8]) + 4;
  while (p + 11 <= b.size()) {
    const size_t cb = size_t{b[p + 1]} << 16 | b[p + 2] << 8 | b[p + 3];
    if (cb > b.size() - p - 11) break;
    const uint32_t ms = uint32_t{b[p + 7]} << 24 | b[p + 4] << 16 | b[p + 5] << 8 | b[p + 6];
    tags.push_back({b[p], ms, std::vector<uint8_t>(b.begin() + p + 11, b.begin() + p + 11 + cb)});
    p += 11 + cb + 4;
  }
  const auto isVideo = [](const Tag& t) { return t.type == kFlvTagVideo; };
  auto header = std::find_if(tags.begin(), tags.end(), isVideo);
  EXPECT_TRUE(header != tags.end() && header->payload.size() > 1 && header->payload[1] == 0);
  HeldFile f;
  if (header == tags.end()) return f;
  const Tag moved = *header;
  tags.erase(header);
  auto sixth = tags.begin();
  for (int n = 0; n < 6; ++n) sixth = std::find_if(n ? sixth + 1 : sixth, tags.end(), isVideo);
  tags.insert(sixth, moved);
  FlvWriter w;
  for (const Tag& t : tags) w.Tag(t.type, t.ms, t.payload);
  f.bytes = w.Bytes();
  for (const ProbePacket& pk : ProbePackets(path)) {
    const bool video = pk.codec_type == "video";
    (video ? f.video : f.audio)
        .push_back({pk.pos - 4, video ? kFlvTagVideo : kFlvTagAudio,
                    static_cast<uint32_t>(pk.dts_ms), pk.key || !video,
                    static_cast<uint32_t>(pk.size)});
  }
  f.width = 320, f.height = 240, f.config = true;
  return f;
}

// AAC joined late: raw frames come before the sequence header and after it,
// all of them samples; the header is not one.
HeldFile AacFramesBeforeItsHeader() {
  HeldFile f;
  FlvWriter w;
  for (uint32_t v = 0, a = 0, i = 0; v < 12000 || a < 12000; ++i) {
    if (v < 12000 && (a >= 12000 || v <= a)) {
      const bool key = v % 1000 == 0;
      AddTag(w, f.video, kFlvTagVideo, v, VideoPayload(false, key, 20), 1, key);
      v += 40;
      continue;
    }
    std::vector<uint8_t> raw = {0xAF, 0x01};
    raw.resize(10 + i % 13, static_cast<uint8_t>(i));
    if (i == 5) {
      w.Audio(a, {0xAF, 0x00, 0x12, 0x10});  // AAC LC, 44.1 kHz, stereo
    } else {
      AddTag(w, f.audio, kFlvTagAudio, a, raw, 2);
    }
    a += 23;
  }
  f.bytes = w.Bytes();
  f.width = 160, f.height = 120;
  f.avgTimePerFrame = 40 * kMs;
  return f;
}

struct HeldCase {
  const char* name;
  HeldFile (*make)();
};
void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

using HeldFileTest = ObjectsReleased<::testing::TestWithParam<HeldCase>>;

TEST_P(HeldFileTest, EveryTagThatFitsPlaysAndBuffersStayWithinATagPayload) {
  const HeldFile f = GetParam().make();
  ASSERT_FALSE(f.bytes.empty());
  FilterRig rig(f.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  const VideoSampleEntry& entry = rig.Dmx()->FileState().VideoEntry();
  EXPECT_EQ(entry.m_wWidth, f.width);
  EXPECT_EQ(entry.m_wHeight, f.height);
  EXPECT_EQ(entry.m_ConfigBytes.Size() != 0, f.config);
  if (f.avgTimePerFrame != 0) {
    EXPECT_EQ(rig.Dmx()->FileState().AvgTimePerFrame(), f.avgTimePerFrame);
  }
  rig.ConnectAllSinks();
  for (const std::string& name : rig.OutputPinNames()) {
    SCOPED_TRACE(name);
    CBaseDmxOutputPin* pPin = rig.OutputPin(name);
    const std::vector<FileTag>& tags = name == "Video" ? f.video : f.audio;
    uint32_t cbLargest = 0;
    for (const FileTag& t : tags) cbLargest = std::max(cbLargest, t.payloadSize);
    EXPECT_LE(pPin->GetMaxSampleSize(), kMaxTagPayload);
    EXPECT_GE(pPin->GetMaxSampleSize(), cbLargest);
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_NE(pPin->GetAllocatorNoRef(), nullptr);
    ASSERT_EQ(pPin->GetAllocatorNoRef()->GetProperties(&actual), S_OK);
    EXPECT_EQ(actual.cbBuffer, static_cast<LONG>(pPin->GetMaxSampleSize()));
  }
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectHeld(rig.Sink("Video")->Events(), f.video, f.videoGapMs, "Video");
  if (!f.audio.empty()) ExpectHeld(rig.Sink("Audio")->Events(), f.audio, f.audioGapMs, "Audio");
  for (const CHostGraph::Event& e : rig.Graph()->PeekEvents()) EXPECT_NE(e.lCode, EC_ERRORABORT);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeldFileTest,
    ::testing::Values(HeldCase{"LateAvcSequenceHeader", [] { return AvcFile(true); }},
                      HeldCase{"NoAvcSequenceHeader", [] { return AvcFile(false); }},
                      HeldCase{"HevcUnderCodecId12", LegacyHevcFile},
                      HeldCase{"SorensonAt33328x8739", HostileSorenson},
                      HeldCase{"AvcAt1x1ThenLargeTags", TinyAvcThenLargeTags},
                      HeldCase{"TagsLargerThanTheEstimate", TagsBeyondTheEstimate},
                      HeldCase{"FfmpegFileWithLateSequenceHeader", LateConfigFromFfmpeg},
                      HeldCase{"AacFramesBeforeItsSequenceHeader", AacFramesBeforeItsHeader}),
    [](const ::testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.name); });

// What a sink saw, in a form two runs can be compared by.
using Trail =
    std::vector<std::tuple<int, REFERENCE_TIME, REFERENCE_TIME, bool, bool, LONG, uint32_t>>;
Trail TrailOf(CRecordingSink* pSink) {
  Trail out;
  for (const SinkEvent& e : pSink->Events())
    out.emplace_back(e.kind, e.tStart, e.tStop, e.bSyncPoint, e.bDiscontinuity, e.lActual,
                     e.dwCrc32);
  return out;
}

struct DeliveryModeCase {
  const char* name;
  Layout layout;
  uint32_t seekMs;  // a flushing seek after the first run ends
};

using DeliveryModeTest = ObjectsReleased<::testing::TestWithParam<DeliveryModeCase>>;

// Inline delivery runs the same loop on the caller's thread: every sink must
// see exactly what the delivery threads give it, before and after a seek.
TEST_P(DeliveryModeTest, InlineDeliveryMatchesThreadedDelivery) {
  const CraftedFlv file = MakeFlv(GetParam().layout);
  std::map<std::string, Trail> trails[2];
  for (int inlineMode = 0; inlineMode < 2; ++inlineMode) {
    FilterRig rig(file.bytes);
    rig.Dmx()->SetInlineDelivery(inlineMode == 1);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    ASSERT_EQ(rig.Graph()->Run(), S_OK);
    if (inlineMode == 1) {
      EXPECT_EQ(rig.Dmx()->RunInlineDelivery(), S_OK);
    }
    LONG lCode = 0;
    ASSERT_EQ(rig.Graph()->WaitForCompletion(inlineMode == 1 ? 0 : 30000, &lCode), S_OK);
    EXPECT_EQ(lCode, EC_COMPLETE);
    ASSERT_EQ(rig.Seek(GetParam().seekMs), S_OK);
    if (inlineMode == 1) {
      EXPECT_EQ(rig.Dmx()->RunInlineDelivery(), S_OK);
      EXPECT_EQ(rig.Dmx()->RunInlineDelivery(), S_FALSE) << "a loop ran twice for one start";
    }
    ASSERT_EQ(rig.Graph()->WaitForCompletion(inlineMode == 1 ? 0 : 30000, &lCode), S_OK);
    EXPECT_EQ(rig.Graph()->Stop(), S_OK);
    for (const std::string& name : rig.OutputPinNames())
      trails[inlineMode][name] = TrailOf(rig.Sink(name));
  }
  ASSERT_FALSE(trails[0].empty());
  EXPECT_EQ(trails[0], trails[1]);
}

Layout VideoOnly() {
  Layout l;
  l.audioIntervalMs = 0;
  return l;
}
Layout Vp6AndAudio() {
  Layout l;
  l.vp6 = true;
  return l;
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeliveryModeTest,
                         ::testing::Values(DeliveryModeCase{"ScreenAndPcm", Layout{}, 4300},
                                           DeliveryModeCase{"VideoOnly", VideoOnly(), 9990},
                                           DeliveryModeCase{"Vp6AndPcm", Vp6AndAudio(), 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flvdmx::filtertest
