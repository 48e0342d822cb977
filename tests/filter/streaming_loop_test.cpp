// The streaming loop as the sinks see it: where a seek starts each stream,
// and how the loop ends on damaged files and on a refusal from downstream.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "baseclasses/input_pin.h"
#include "filter/filter_rig.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

class StreamingLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

struct SeekCase {
  const char* name;
  bool vp6;
  uint32_t targetMs;
  // Where video may start. On a key frame's time it may start there or one
  // key frame earlier: which pin positions first decides whether the search
  // walks forward onto that frame or back past it. VP6 starts one key frame
  // earlier than the target needs.
  std::vector<uint32_t> firstVideoMs;
};

void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.name; }

class SeekStartTest : public StreamingLoopTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(SeekStartTest, VideoStartsAtAKeyFrameAndAudioAtTheTarget) {
  Layout layout;
  layout.vp6 = GetParam().vp6;
  const CraftedFlv file = MakeFlv(layout);
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  ASSERT_EQ(rig.Seek(GetParam().targetMs), S_OK);
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), true, 10000 * kMs, "Video",
                 GetParam().firstVideoMs);
  ExpectDelivery(rig.Sink("Audio")->Events(), file.Of(kFlvTagAudio), false, 10000 * kMs, "Audio");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SeekStartTest,
    ::testing::Values(SeekCase{"FromTheStart", false, 0, {0}}, SeekCase{"BetweenKeyFrames", false, 2500, {2000}},
                      SeekCase{"OnAKeyFrame", false, 2000, {2000, 1000}},
                      SeekCase{"JustBeforeAKeyFrame", false, 1999, {1000}},
                      SeekCase{"Vp6StartsOneKeyFrameEarlier", true, 2500, {1000}},
                      SeekCase{"Vp6OnAKeyFrame", true, 2000, {1000, 0}}, SeekCase{"Vp6InTheFirstSecond", true, 500, {0}},
                      SeekCase{"AfterTheLastVideoTag", false, 9990, {9000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamingLoopTest, StartPointPastTheLastVideoTagStillFindsVideo) {
  const CraftedFlv file = MakeFlv(Layout());
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  // The audio pin alone positions first and leaves its tag at 9950 ms, after
  // the last video tag, as the shared start point.
  rig.ConnectSink("Audio");
  ASSERT_EQ(rig.Seek(9990), S_OK);
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ASSERT_EQ(rig.Graph()->Stop(), S_OK);
  EXPECT_EQ(rig.Dmx()->m_dwSeekStartTime, 9950u);
  rig.ConnectSink("Video");
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), true, 10000 * kMs, "Video", {9000});
}

// A wrong PreviousTagSize: the scan records the link and the loops follow it.
TEST_F(StreamingLoopTest, RepairedBackLinkDoesNotStopDelivery) {
  CraftedFlv file = MakeFlv(Layout());
  file.bytes[static_cast<size_t>(file.tags[40].position) + 3] ^= 0x55;
  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_GE(rig.Dmx()->m_TagLinkFixups.Count(), 1u);
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectDelivery(rig.Sink("Video")->Events(), file.Of(kFlvTagVideo), true, 10000 * kMs, "Video");
  ExpectDelivery(rig.Sink("Audio")->Events(), file.Of(kFlvTagAudio), false, 10000 * kMs, "Audio");
  // The position is the last sample the loops delivered.
  LONGLONG llCurrent = 0;
  ASSERT_EQ(rig.Dmx()->GetCurrentPosition(&llCurrent), S_OK);
  EXPECT_TRUE(llCurrent == 9900 * kMs || llCurrent == 9950 * kMs) << llCurrent;
}

// A tag without payload is skipped but still ends the sample before it; a
// cut tag is not delivered; a tag larger than two pictures ends the stream
// with an error reported to the graph. Every stream still ends.
TEST_F(StreamingLoopTest, BadTagsEndOrSkipCleanly) {
  const CraftedFlv crafted = MakeFlv(Layout());
  const auto video = crafted.Of(kFlvTagVideo);
  const FileTag cut = video[video.size() / 2];
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t cSamples;
    size_t iBeforeBadTag;
    REFERENCE_TIME tBadTag;  // the stop of the sample before it
    bool bAbort;
  } cases[] = {
      {"empty tag", {}, 3, 1, 200 * kMs, false},
      {"truncated file", std::vector<uint8_t>(crafted.bytes.begin(), crafted.bytes.begin() + cut.position + 25),
       video.size() / 2, video.size() / 2 - 1, cut.timeMs * kMs, false},
      {"oversized tag", {}, 2, 1, 200 * kMs, true},
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
    const LONG lCode = rig.RunToCompletion();
    EXPECT_TRUE(lCode == EC_COMPLETE || (c.bAbort && lCode == EC_ERRORABORT)) << lCode;
    const auto samples = SamplesOf(rig.Sink("Video")->Events());
    ASSERT_EQ(samples.size(), c.cSamples);
    EXPECT_EQ(samples[c.iBeforeBadTag].tStop, c.tBadTag);
    for (const std::string& pin : rig.OutputPinNames())
      EXPECT_EQ(CountOf(rig.Sink(pin)->Events(), SinkEvent::kEndOfStream), 1) << pin;
    // The failure is reported after end-of-stream, so it may come just after completion.
    bool bAborted = false;
    for (int i = 0; i < 500 && c.bAbort && !bAborted; ++i) {
      for (const CHostGraph::Event& e : rig.Graph()->PeekEvents()) bAborted = bAborted || e.lCode == EC_ERRORABORT;
      if (!bAborted) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(bAborted, c.bAbort);
  }
}

// Damaged files, played from the start and from a seek: whatever the filter
// makes of them, playback ends (completion or a reported error) without a
// crash, a hang or a read out of bounds.
TEST_F(StreamingLoopTest, DamagedFilesEndPlaybackCleanly) {
  Layout layout;
  layout.durationMs = 4000;
  const CraftedFlv file = MakeFlv(layout);
  std::mt19937 random(11);
  for (int i = 0; i < (kSanitized ? 40 : 100); ++i) {
    std::vector<uint8_t> bytes = file.bytes;
    for (int k = 1 + static_cast<int>(random() % 8); k > 0; --k)
      bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    if (i % 3 == 0) bytes.resize(9 + random() % (bytes.size() - 9));
    SCOPED_TRACE("file " + std::to_string(i));
    FilterRig rig(bytes);
    if (FAILED(rig.ConnectInput()) || rig.OutputPinNames().empty()) continue;
    rig.ConnectAllSinks();
    if (i % 2 == 1) rig.Seek(random() % 4000);
    const LONG lCode = rig.RunToCompletion(10000);
    EXPECT_TRUE(lCode == EC_COMPLETE || lCode == EC_ERRORABORT) << "event " << lCode;
  }
}

// A sink whose input pin takes three samples and refuses the fourth with a
// chosen result, without the base pin's streaming checks, so that the loop
// can run on the test's thread while the filters stay stopped.
class CRefusingSink : public CBaseFilter {
 public:
  class CPin : public CBaseInputPin {
   public:
    explicit CPin(CRefusingSink* pSink) : CBaseInputPin(L"CRefusingSink::CPin", pSink, &pSink->m_Lock, nullptr, L"In") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    STDMETHODIMP Receive(IMediaSample*) override { return ++cReceived > 3 ? hrRefusal : S_OK; }
    STDMETHODIMP EndOfStream() override {
      ++cEndOfStream;
      return S_OK;
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    IMemAllocator* Allocator() { return m_pAllocator; }

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

TEST_F(StreamingLoopTest, RefusalEndsTheLoopWithoutEndOfStream) {
  for (const HRESULT hrRefusal : {S_FALSE, E_FAIL}) {
    FilterRig rig(MakeFlv(Layout()).bytes);
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    auto* pSink = new CRefusingSink();
    pSink->NonDelegatingAddRef();
    CRefusingSink::CPin& sinkPin = pSink->m_Pin;
    sinkPin.hrRefusal = hrRefusal;
    CBaseDmxOutputPin* pPin = rig.OutputPin("Video");
    ASSERT_EQ(pPin->Connect(&sinkPin, nullptr), S_OK);
    ASSERT_EQ(sinkPin.Allocator()->Commit(), S_OK);
    EXPECT_EQ(rig.Dmx()->Process(pPin), hrRefusal);
    EXPECT_EQ(sinkPin.cReceived, 4) << "three taken, the fourth refused, no more tried";
    EXPECT_EQ(sinkPin.cEndOfStream, 0);
    sinkPin.Allocator()->Decommit();
    pPin->Disconnect();
    sinkPin.Disconnect();
    pSink->NonDelegatingRelease();
  }
}

}  // namespace
}  // namespace flvdmx::filtertest
