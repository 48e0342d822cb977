// CFlvDmx's buffer sizes, and what a new input connection starts from.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flv/filter_rig.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

using FlvDmxTest = ObjectsReleased<>;

// An allocator that grants what the test says and remembers what it was asked for.
class CGrantingAllocator : public IMemAllocator {
 public:
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override {
    m_Requested = *pRequest;
    *pActual = *pRequest;
    if (m_lMaxBuffers != 0) pActual->cBuffers = std::min(pActual->cBuffers, m_lMaxBuffers);
    if (m_lMaxBytes != 0) pActual->cbBuffer = std::min(pActual->cbBuffer, m_lMaxBytes);
    return m_hrSet;
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit() override { return E_NOTIMPL; }
  STDMETHODIMP Decommit() override { return E_NOTIMPL; }
  STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

  ALLOCATOR_PROPERTIES m_Requested{};
  LONG m_lMaxBuffers = 0, m_lMaxBytes = 0;
  HRESULT m_hrSet = S_OK;
};

// The input takes a byte stream of either subtype the source may announce,
// nothing else.
TEST_F(FlvDmxTest, InputAcceptsStreamsOfBothSubtypes) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  IPin* pInput = static_cast<IPin*>(rig.Dmx()->GetPin(0));
  const struct {
    GUID majortype, subtype;
    HRESULT hr;
  } cases[] = {
      {MEDIATYPE_Stream, MEDIASUBTYPE_QFLV, S_OK},
      {MEDIATYPE_Stream, MEDIASUBTYPE_QISO, S_OK},
      {MEDIATYPE_Stream, GUID_NULL, S_FALSE},
      {MEDIATYPE_Video, MEDIASUBTYPE_QFLV, S_FALSE},
  };
  for (const auto& c : cases) {
    const CMediaType mt = MakeMediaType(c.majortype, c.subtype);
    EXPECT_EQ(pInput->QueryAccept(&mt), c.hr);
  }
}

// A connection never stands with no output pin: the graph would have
// nothing to run and Run would wait forever. Files with no stream before
// their end, and a large first tag whose reads come back short from the Nth
// on, either connect with pins that play to the end or fail and let go of
// the reader.
TEST_F(FlvDmxTest, ConnectionWithoutStreamsFailsInsteadOfLeavingNoPin) {
  FlvWriter headerOnly;
  FlvWriter scriptOnly;
  scriptOnly.Script(OnMetaData(10.0));
  FlvWriter bigScriptFirst;
  bigScriptFirst.Script(std::vector<uint8_t>(3 * 256 * 1024, 0x05));
  for (uint32_t ms = 0; ms < 2000; ms += 40)
    bigScriptFirst.Video(ms, VideoPayload(false, true, 30));
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    uint64_t cShortFromReads;  // reads short from each number below this (0: none)
  } cases[] = {
      {"HeaderOnly", headerOnly.Bytes(), 0},
      {"ScriptTagOnly", scriptOnly.Bytes(), 0},
      {"LargeScriptTagThenShortReads", bigScriptFirst.Bytes(), 12},
  };
  for (const auto& c : cases) {
    for (uint64_t n = 0; n < std::max<uint64_t>(1, c.cShortFromReads); ++n) {
      SCOPED_TRACE(std::string(c.name) + ", short from read " + std::to_string(n));
      FilterRig rig(c.bytes);
      if (c.cShortFromReads != 0) rig.Reader()->FailReadsFrom(n, S_FALSE);
      const HRESULT hr = rig.ConnectInput();
      if (SUCCEEDED(hr)) {
        EXPECT_GT(rig.Dmx()->GetOutputPinCount(), 0);
        if (rig.Dmx()->GetOutputPinCount() == 0) continue;
        rig.ConnectAllSinks();
        EXPECT_EQ(rig.RunToCompletion(10000), EC_COMPLETE);
        EXPECT_EQ(rig.Graph()->Stop(), S_OK);
        continue;
      }
      EXPECT_TRUE(hr == VFW_E_FILE_TOO_SHORT || hr == VFW_E_UNSUPPORTED_STREAM ||
                  hr == VFW_E_INVALID_FILE_FORMAT)
          << std::hex << hr;
      EXPECT_EQ(rig.Dmx()->GetOutputPinCount(), 0);
      EXPECT_EQ(rig.Dmx()->GetReader(), nullptr);
    }
  }
}

// Frame positions count video frames; a file without video has none, yet
// still seeks by time.
TEST_F(FlvDmxTest, FrameFormatCountsVideoFramesAndAudioOnlySeeksByTime) {
  {
    FilterRig rig(MakeFlv(Layout()).bytes);  // 10 s, a video frame every 100 ms
    ASSERT_EQ(rig.ConnectInput(), S_OK);
    rig.ConnectAllSinks();
    IMediaSeeking* pSeeking = nullptr;
    ASSERT_EQ(rig.Graph()->GetSeeking(&pSeeking), S_OK);
    ASSERT_EQ(pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    LONGLONG llDuration = 0;
    EXPECT_EQ(pSeeking->GetDuration(&llDuration), S_OK);
    EXPECT_EQ(llDuration, 100);
    LONGLONG llTime = 0;
    EXPECT_EQ(pSeeking->ConvertTimeFormat(&llTime, &TIME_FORMAT_MEDIA_TIME, 25, &TIME_FORMAT_FRAME),
              S_OK);
    EXPECT_EQ(llTime, 25 * 100 * kMs);
    LONGLONG llFrame = 0;
    EXPECT_EQ(pSeeking->ConvertTimeFormat(&llFrame, &TIME_FORMAT_FRAME, 2500 * kMs,
                                          &TIME_FORMAT_MEDIA_TIME),
              S_OK);
    EXPECT_EQ(llFrame, 25);
    pSeeking->Release();
  }
  Layout audioOnly;
  audioOnly.videoIntervalMs = 0;
  FilterRig rig(MakeFlv(audioOnly).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  rig.ConnectAllSinks();
  IMediaSeeking* pSeeking = nullptr;
  ASSERT_EQ(rig.Graph()->GetSeeking(&pSeeking), S_OK);
  EXPECT_EQ(pSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), E_NOTIMPL);
  ASSERT_EQ(rig.Graph()->Run(), S_OK);
  EXPECT_EQ(rig.Seek(5000), S_OK) << "no frame count is no reason to refuse a seek";
  LONG lCode = 0;
  rig.Graph()->WaitForCompletion(10000, &lCode);
  EXPECT_EQ(lCode, EC_COMPLETE);
  ASSERT_EQ(rig.Graph()->Stop(), S_OK);
  int64_t lastStart = -1;
  for (const SinkEvent& e : rig.Sink("Audio")->Events())
    if (e.kind == SinkEvent::kNewSegment) lastStart = e.tStart;
  EXPECT_EQ(lastStart, 5000 * kMs);
  pSeeking->Release();
}

// Players connect the first output pin first: video comes before audio.
TEST_F(FlvDmxTest, VideoPinComesBeforeAudio) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.OutputPinNames(), (std::vector<std::string>{"Video", "Audio"}));
}

// Buffers of the largest sample, as many as fill about 128 MiB, 2 to 32;
// alignment and prefix stay as requested; granting less fails.
TEST_F(FlvDmxTest, BuffersFillAboutOneHundredTwentyEightMebibytes) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CBaseDmxOutputPin* pPin = rig.OutputPin("Video");
  ASSERT_NE(pPin, nullptr);
  struct Case {
    uint32_t cbMaxSample;
    LONG lMaxBuffersGranted, lMaxBytesGranted;  // 0: all
    HRESULT hrSet;
    LONG cBuffersAsked, cbBufferAsked;
    HRESULT expected;
  } cases[] = {
      {1843200, 0, 0, S_OK, 32, 1843200, S_OK},
      {8 << 20, 0, 0, S_OK, 16, 8 << 20, S_OK},
      {100 << 20, 0, 0, S_OK, 2, 100 << 20, S_OK},
      {0, 0, 0, S_OK, 32, 1 << 20, S_OK},  // unbounded: 1 MiB
      {1024, 31, 0, S_OK, 32, 1024, E_FAIL},
      {1024, 0, 1023, S_OK, 32, 1024, E_FAIL},
      {1024, 0, 0, VFW_E_ALREADY_COMMITTED, 32, 1024, VFW_E_ALREADY_COMMITTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cbMaxSample);
    pPin->SetMaxSampleSize(c.cbMaxSample);
    CGrantingAllocator allocator;
    allocator.m_lMaxBuffers = c.lMaxBuffersGranted;
    allocator.m_lMaxBytes = c.lMaxBytesGranted;
    allocator.m_hrSet = c.hrSet;
    ALLOCATOR_PROPERTIES request{0, 0, 16, 8};
    EXPECT_EQ(rig.Dmx()->PinDecideBufferSize(pPin->GetPinNumber(), &allocator, &request),
              c.expected);
    EXPECT_EQ(allocator.m_Requested.cBuffers, c.cBuffersAsked);
    EXPECT_EQ(allocator.m_Requested.cbBuffer, c.cbBufferAsked);
    EXPECT_EQ(allocator.m_Requested.cbAlign, 16);
    EXPECT_EQ(allocator.m_Requested.cbPrefix, 8);
  }
}

// One filter, two files: after a seek and a run in file A (VP6 video and
// audio), file B (audio, and video tags its header does not announce) gets
// only what B is: no description left over from A, a seek that starts from
// B's own tags, no repaired links of A.
TEST_F(FlvDmxTest, ASecondFileStartsFromACleanState) {
  Layout layoutA;
  layoutA.vp6 = true;
  layoutA.durationMs = 30000;
  const CraftedFlv fileA = MakeFlv(layoutA);
  std::vector<uint8_t> bytesA = fileA.bytes;
  bytesA[static_cast<size_t>(fileA.tags[40].position) + 3] ^= 0x55;  // a fix-up in A
  FlvWriter w(kFlvHasAudio);
  CraftedFlv fileB;
  for (uint32_t t = 0; t < 20000; t += 50) {
    if (t % 1000 == 0) w.Video(t, VideoPayload(false, true, 10));
    const std::vector<uint8_t> payload = AudioPayload(30 + t % 7, 0x3F);
    const int64_t position = w.Audio(t, payload);
    const uint32_t cbPayload = static_cast<uint32_t>(payload.size() - 1);
    fileB.tags.push_back({position, kFlvTagAudio, t, true, cbPayload});
  }
  fileB.bytes = w.Bytes();

  FilterRig rig(bytesA);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_GE(rig.Dmx()->FileState().TagLinkFixups().Count(), 1u);
  rig.ConnectAllSinks();
  ASSERT_EQ(rig.Seek(25000), S_OK);
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);

  rig.ReplaceSource(fileB.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.OutputPinNames(), std::vector<std::string>{"Audio"});
  EXPECT_EQ(rig.Dmx()->FileState().VideoEntry().m_iCodecID, VideoSampleEntry().m_iCodecID);
  EXPECT_EQ(rig.Dmx()->FileState().TagLinkFixups().Count(), 0u);
  rig.ConnectAllSinks();
  ASSERT_EQ(rig.Seek(13010), S_OK);
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectDelivery(rig.Sink("Audio")->Events(), fileB.Of(kFlvTagAudio), false, 19950 * kMs, "Audio");
}

}  // namespace
}  // namespace flvdmx::filtertest
