// The streaming loop as the sinks see it: what each pin delivers for a
// segment (times, flags, sizes, end-of-stream), where a seek starts, and how
// the loop ends on damaged files and on a refusal from downstream.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "baseclasses/input_pin.h"
#include "filter/filter_rig.h"
#include "platform/mediatypes.h"
#include "seeking/seeking.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

constexpr REFERENCE_TIME kMs = 10000;

class StreamingLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

// Checks one pin's recorded events against the file: a segment, then the
// samples of `tags` from index `first` on, stamped relative to the segment
// start at `rate`, until the first sample that ends after the segment stop
// (or the stream's last tag), then one end-of-stream.
void ExpectDelivery(const std::vector<SinkEvent>& events, const std::vector<FileTag>& tags,
                    size_t first, REFERENCE_TIME tSegmentStart, REFERENCE_TIME tSegmentStop,
                    double rate, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_FALSE(events.empty());
  ASSERT_EQ(events.front().kind, SinkEvent::kNewSegment);
  EXPECT_EQ(events.front().tStart, tSegmentStart);
  EXPECT_EQ(events.front().tStop, tSegmentStop);
  EXPECT_EQ(events.front().dRate, rate);
  const std::vector<SinkEvent> samples = SamplesOf(events);
  const REFERENCE_TIME tRelativeStop =
      tSegmentStop == kNoStopTime ? kNoStopTime
                                  : static_cast<REFERENCE_TIME>((tSegmentStop - tSegmentStart) / rate);
  size_t n = 0;
  for (size_t j = first; j < tags.size(); ++j, ++n) {
    ASSERT_LT(n, samples.size()) << "sample for the tag at " << tags[j].timeMs << " ms";
    const SinkEvent& s = samples[n];
    const REFERENCE_TIME tStart = tags[j].timeMs * kMs;
    const REFERENCE_TIME tStop = j + 1 < tags.size() ? tags[j + 1].timeMs * kMs : tStart + 260000;
    const REFERENCE_TIME tRelStart = static_cast<REFERENCE_TIME>((tStart - tSegmentStart) / rate);
    const REFERENCE_TIME tRelStop = static_cast<REFERENCE_TIME>((tStop - tSegmentStart) / rate);
    EXPECT_EQ(s.tStart, tRelStart) << "tag at " << tags[j].timeMs;
    EXPECT_EQ(s.tStop, tRelStop) << "tag at " << tags[j].timeMs;
    EXPECT_EQ(s.lActual, static_cast<LONG>(tags[j].payloadSize)) << "tag at " << tags[j].timeMs;
    EXPECT_EQ(s.bSyncPoint, tags[j].key) << "tag at " << tags[j].timeMs;
    EXPECT_EQ(s.bDiscontinuity, n == 0) << "tag at " << tags[j].timeMs;
    EXPECT_EQ(s.bPreroll, tRelStop <= 0) << "tag at " << tags[j].timeMs;
    if (tRelStop > tRelativeStop) {
      ++n;
      break;
    }
  }
  EXPECT_EQ(samples.size(), n) << "no sample after the segment or the stream ended";
  ASSERT_EQ(events.back().kind, SinkEvent::kEndOfStream);
  EXPECT_FALSE(events.back().bIgnored);
  EXPECT_EQ(CountOf(events, SinkEvent::kEndOfStream), 1);
}

size_t IndexAt(const std::vector<FileTag>& tags, uint32_t timeMs) {
  for (size_t i = 0; i < tags.size(); ++i)
    if (tags[i].timeMs == timeMs) return i;
  ADD_FAILURE() << "no tag at " << timeMs;
  return 0;
}

TEST_F(StreamingLoopTest, FullPlayDeliversEveryTagOfEachStream) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const REFERENCE_TIME tDuration = 10000 * kMs;
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), 0, 0, tDuration, 1.0, "Video");
  ExpectDelivery(rig.Sink("Audio")->Events(), file.Of(kFlvTagAudio), 0, 0, tDuration, 1.0, "Audio");

  // The position is the last sample the loops delivered.
  LONGLONG llCurrent = 0;
  ASSERT_EQ(rig.Dmx()->GetCurrentPosition(&llCurrent), S_OK);
  EXPECT_TRUE(llCurrent == 9900 * kMs || llCurrent == 9950 * kMs) << llCurrent;
}

TEST_F(StreamingLoopTest, RateTwoHalvesTheSampleTimes) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  IMediaSeeking* pSeeking = rig.Seeking();
  ASSERT_EQ(pSeeking->SetRate(2.0), S_OK);
  pSeeking->Release();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const auto video = SamplesOf(rig.Sink("Video")->Events());
  ASSERT_GT(video.size(), 10u);
  EXPECT_EQ(video[10].tStart, 5000000) << "the tag at 1000 ms plays at 500 ms";
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), 0, 0, 10000 * kMs, 2.0, "Video");
  ExpectDelivery(rig.Sink("Audio")->Events(), file.Of(kFlvTagAudio), 0, 0, 10000 * kMs, 2.0, "Audio");
}

struct SeekCase {
  const char* name;
  bool vp6;
  uint32_t targetMs;
  // The key frame delivery starts from. A target on a key frame's time may
  // start there or one key frame earlier: which pin positions first decides
  // whether the search walks forward onto that frame or back past it, and
  // either way no key frame lies strictly between the start and the target.
  std::vector<uint32_t> firstVideoMs;
  uint32_t firstAudioMs;  // the last audio tag at or before the target
};

class SeekStartTest : public StreamingLoopTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(SeekStartTest, VideoStartsAtAKeyFrameAndAudioAtTheTarget) {
  Layout layout;
  layout.vp6 = GetParam().vp6;
  const CraftedFlv file = MakeFlv(layout);
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  IMediaSeeking* pSeeking = rig.Seeking();
  LONGLONG llStart = GetParam().targetMs * kMs;
  ASSERT_EQ(pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                                   AM_SEEKING_NoPositioning),
            S_OK);
  pSeeking->Release();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);

  const REFERENCE_TIME tStart = GetParam().targetMs * kMs;
  const auto video = file.Of(kFlvTagVideo);
  const auto audio = file.Of(kFlvTagAudio);
  const auto videoEvents = rig.Sink("Video")->Events();
  const auto videoSamples = SamplesOf(videoEvents);
  ASSERT_FALSE(videoSamples.empty());
  const uint32_t firstVideoMs = static_cast<uint32_t>((videoSamples.front().tStart + tStart) / kMs);
  EXPECT_NE(std::find(GetParam().firstVideoMs.begin(), GetParam().firstVideoMs.end(), firstVideoMs),
            GetParam().firstVideoMs.end())
      << "delivery started at " << firstVideoMs << " ms";
  ExpectDelivery(videoEvents, video, IndexAt(video, firstVideoMs), tStart, 10000 * kMs, 1.0, "Video");
  ExpectDelivery(rig.Sink("Audio")->Events(), audio, IndexAt(audio, GetParam().firstAudioMs), tStart,
                 10000 * kMs, 1.0, "Audio");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SeekStartTest,
    ::testing::Values(SeekCase{"BetweenKeyFrames", false, 2500, {2000}, 2500},
                      SeekCase{"OnAKeyFrame", false, 2000, {2000, 1000}, 2000},
                      SeekCase{"JustBeforeAKeyFrame", false, 1999, {1000}, 1950},
                      SeekCase{"OffTheTagGrid", false, 7777, {7000}, 7750},
                      SeekCase{"Vp6StartsOneKeyFrameEarlier", true, 2500, {1000}, 2500},
                      SeekCase{"Vp6OnAKeyFrame", true, 2000, {1000, 0}, 2000},
                      SeekCase{"Vp6InTheFirstSecond", true, 500, {0}, 500},
                      SeekCase{"AfterTheLastVideoTag", false, 9990, {9000}, 9950},
                      SeekCase{"AtTheLastAudioTag", false, 9950, {9000}, 9950}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamingLoopTest, StartPointPastTheLastVideoTagStillFindsVideo) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  // The audio pin alone positions first and leaves its tag at 9950 ms, after
  // the last video tag, as the shared start point.
  rig.ConnectSink("Audio");
  IMediaSeeking* pSeeking = rig.Seeking();
  LONGLONG llStart = 9990 * kMs;
  ASSERT_EQ(pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                                   AM_SEEKING_NoPositioning),
            S_OK);
  pSeeking->Release();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ASSERT_EQ(rig.Graph()->Stop(), S_OK);
  EXPECT_EQ(rig.Dmx()->m_dwSeekStartTime, 9950u);

  rig.ConnectSink("Video");
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const auto video = file.Of(kFlvTagVideo);
  ExpectDelivery(rig.Sink("Video")->Events(), video, IndexAt(video, 9000), llStart, 10000 * kMs, 1.0,
                 "Video");
}

TEST_F(StreamingLoopTest, StopEndsWithTheFirstSampleBeyondIt) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  IMediaSeeking* pSeeking = rig.Seeking();
  LONGLONG llStart = 3050 * kMs;
  LONGLONG llStop = 4420 * kMs;
  ASSERT_EQ(pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, &llStop,
                                   AM_SEEKING_AbsolutePositioning),
            S_OK);
  pSeeking->Release();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const auto video = file.Of(kFlvTagVideo);
  const auto audio = file.Of(kFlvTagAudio);
  ExpectDelivery(rig.Sink("Video")->Events(), video, IndexAt(video, 3000), llStart, llStop, 1.0, "Video");
  ExpectDelivery(rig.Sink("Audio")->Events(), audio, IndexAt(audio, 3050), llStart, llStop, 1.0, "Audio");
  EXPECT_EQ(SamplesOf(rig.Sink("Video")->Events()).back().tStop, 14500000) << "4400 to 4500 ms";
}

TEST_F(StreamingLoopTest, RepairedBackLinkDoesNotStopDelivery) {
  CraftedFlv file = MakeFlv(Layout());
  // A wrong PreviousTagSize in front of the 40th tag: the scan records the
  // link and the loops follow it.
  const FileTag broken = file.tags[40];
  file.bytes[static_cast<size_t>(broken.position) + 3] ^= 0x55;
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_GE(rig.Dmx()->m_TagLinkFixups.Count(), 1u);
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), 0, 0, 10000 * kMs, 1.0, "Video");
  ExpectDelivery(rig.Sink("Audio")->Events(), file.Of(kFlvTagAudio), 0, 0, 10000 * kMs, 1.0, "Audio");
}

TEST_F(StreamingLoopTest, TagWithoutPayloadIsSkipped) {
  FlvWriter w(kFlvHasVideo);
  w.Video(0, ScreenVideo(true, 30));
  w.Video(100, ScreenVideo(false, 30));
  w.Video(200, {});  // no flags byte, no data
  w.Video(300, ScreenVideo(false, 31));
  FilterRig rig(w.Bytes());
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const auto samples = SamplesOf(rig.Sink("Video")->Events());
  ASSERT_EQ(samples.size(), 3u);
  EXPECT_EQ(samples[1].tStop, 200 * kMs) << "the empty tag still ends the sample before it";
  EXPECT_EQ(samples[2].tStart, 300 * kMs);
  EXPECT_EQ(samples[2].lActual, 35);
}

TEST_F(StreamingLoopTest, TruncatedFileEndsEveryStream) {
  const CraftedFlv file = MakeFlv(Layout());
  // Cut in the middle of a video tag's payload half way through the file.
  const auto video = file.Of(kFlvTagVideo);
  const FileTag cut = video[video.size() / 2];
  std::vector<uint8_t> bytes(file.bytes.begin(), file.bytes.begin() + cut.position + 15 + 10);
  FilterRig rig(bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const auto samples = SamplesOf(rig.Sink("Video")->Events());
  ASSERT_EQ(samples.size(), video.size() / 2) << "the cut tag is not delivered";
  EXPECT_EQ(samples.back().tStop, cut.timeMs * kMs);
  EXPECT_EQ(CountOf(rig.Sink("Video")->Events(), SinkEvent::kEndOfStream), 1);
  EXPECT_EQ(CountOf(rig.Sink("Audio")->Events(), SinkEvent::kEndOfStream), 1);
}

TEST_F(StreamingLoopTest, OversizedTagEndsItsStreamWithAnError) {
  FlvWriter w(kFlvHasVideo);
  w.Video(0, ScreenVideo(true, 30));
  w.Video(100, ScreenVideo(false, 30));
  w.Video(200, ScreenVideo(false, 200000));  // more than two 160 x 120 pictures
  w.Video(300, ScreenVideo(false, 30));
  FilterRig rig(w.Bytes());
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  const LONG lCode = rig.RunToCompletion();
  EXPECT_TRUE(lCode == EC_ERRORABORT || lCode == EC_COMPLETE) << lCode;
  const auto events = rig.Sink("Video")->Events();
  EXPECT_EQ(SamplesOf(events).size(), 2u);
  EXPECT_EQ(CountOf(events, SinkEvent::kEndOfStream), 1);
  // The failure is reported after end-of-stream, so it may come just after
  // the graph completed.
  bool bAborted = false;
  for (int i = 0; i < 500 && !bAborted; ++i) {
    for (const CHostGraph::Event& e : rig.Graph()->PeekEvents()) bAborted = bAborted || e.lCode == EC_ERRORABORT;
    if (!bAborted) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(bAborted) << "the failure is reported to the graph";
}

// Damaged files, played from the start and from a seek: whatever the filter
// makes of them, playback ends (completion or a reported error) without a
// crash, a hang or a read out of bounds.
TEST_F(StreamingLoopTest, DamagedFilesEndPlaybackCleanly) {
  Layout layout;
  layout.durationMs = 4000;
  const CraftedFlv file = MakeFlv(layout);
  std::mt19937 random(11);
  const int cFiles = kSanitized ? 40 : 100;
  for (int i = 0; i < cFiles; ++i) {
    std::vector<uint8_t> bytes = file.bytes;
    const int cFlips = 1 + static_cast<int>(random() % 8);
    for (int k = 0; k < cFlips; ++k) bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    if (i % 3 == 0) bytes.resize(9 + random() % (bytes.size() - 9));
    SCOPED_TRACE("file " + std::to_string(i));
    FilterRig rig(bytes);
    if (FAILED(rig.ConnectInput()) || rig.OutputPinNames().empty()) continue;
    rig.ConnectAllSinks();
    if (i % 2 == 1) {
      IMediaSeeking* pSeeking = rig.Seeking();
      LONGLONG llStart = static_cast<LONGLONG>(random() % 4000) * kMs;
      pSeeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
      pSeeking->Release();
    }
    const LONG lCode = rig.RunToCompletion(10000);
    EXPECT_TRUE(lCode == EC_COMPLETE || lCode == EC_ERRORABORT) << "event " << lCode;
  }
}

// A sink whose input pin refuses samples from the n-th on with a chosen
// result, without the base pin's streaming checks, so that a test can run the
// loop on its own thread while the filters stay stopped. It keeps the
// allocator it is given so the test can commit it.
class CRefusingSink : public CBaseFilter {
 public:
  class CPin : public CBaseInputPin {
   public:
    explicit CPin(CRefusingSink* pSink)
        : CBaseInputPin(L"CRefusingSink::CPin", pSink, &pSink->m_Lock, nullptr, L"In") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    STDMETHODIMP Receive(IMediaSample*) override {
      return ++cReceived >= cAcceptBeforeRefusal + 1 ? hrRefusal : S_OK;
    }
    STDMETHODIMP EndOfStream() override {
      ++cEndOfStream;
      return S_OK;
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    IMemAllocator* Allocator() { return m_pAllocator; }

    int cAcceptBeforeRefusal = 3;
    HRESULT hrRefusal = S_FALSE;
    int cReceived = 0;
    int cEndOfStream = 0;
  };

  CRefusingSink() : CBaseFilter(L"CRefusingSink", nullptr, &m_Lock, CTestFilter::kClsid), m_Pin(this) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }

  CCritSec m_Lock;
  CPin m_Pin;
};

struct RefusalCase {
  const char* name;
  HRESULT hrRefusal;
};

class DeliveryRefusalTest : public StreamingLoopTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(DeliveryRefusalTest, RefusalEndsTheLoopWithoutEndOfStream) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  auto* pSink = new CRefusingSink();
  pSink->NonDelegatingAddRef();
  CRefusingSink::CPin& sinkPin = pSink->m_Pin;
  sinkPin.hrRefusal = GetParam().hrRefusal;
  CBaseDmxOutputPin* pPin = rig.OutputPin("Video");
  ASSERT_EQ(pPin->Connect(&sinkPin, nullptr), S_OK);
  ASSERT_NE(sinkPin.Allocator(), nullptr);
  ASSERT_EQ(sinkPin.Allocator()->Commit(), S_OK);

  EXPECT_EQ(rig.Dmx()->Process(pPin), GetParam().hrRefusal);
  EXPECT_EQ(sinkPin.cReceived, 4) << "three taken, the fourth refused, no more tried";
  EXPECT_EQ(sinkPin.cEndOfStream, 0);

  sinkPin.Allocator()->Decommit();
  pPin->Disconnect();
  sinkPin.Disconnect();
  pSink->NonDelegatingRelease();
}

INSTANTIATE_TEST_SUITE_P(Results, DeliveryRefusalTest,
                         ::testing::Values(RefusalCase{"SFalse", S_FALSE},
                                           RefusalCase{"Failure", E_FAIL}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamingLoopTest, LoopWithoutReaderOrStreamRefusesToRun) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CBaseDmxOutputPin* pPin = rig.OutputPin("Video");
  SampleEntry* pEntry = pPin->GetSampleEntry();
  pPin->SetSampleEntry(nullptr);
  EXPECT_EQ(rig.Dmx()->Process(pPin), E_UNEXPECTED);
  pPin->SetSampleEntry(pEntry);
}

}  // namespace
}  // namespace flvdmx::filtertest
