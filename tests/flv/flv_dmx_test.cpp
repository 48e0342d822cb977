// CFlvDmx's buffer sizes, and what a new input connection starts from.
#include <gtest/gtest.h>

#include <algorithm>

#include "flv/filter_rig.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

class FlvDmxTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

// An allocator that grants what the test says and remembers what it was asked for.
class CGrantingAllocator : public IMemAllocator {
 public:
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override {
    m_Requested = *pRequest;
    *pActual = *pRequest;
    if (m_lMaxBuffers != 0) pActual->cBuffers = std::min(pActual->cBuffers, m_lMaxBuffers);
    if (m_lMaxBytes != 0) pActual->cbBuffer = std::min(pActual->cbBuffer, m_lMaxBytes);
    return m_hrSet;
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit() override { return E_NOTIMPL; }
  STDMETHODIMP Decommit() override { return E_NOTIMPL; }
  STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

  ALLOCATOR_PROPERTIES m_Requested{};
  LONG m_lMaxBuffers = 0, m_lMaxBytes = 0;
  HRESULT m_hrSet = S_OK;
};

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
      {1843200, 0, 0, S_OK, 32, 1843200, S_OK},       {8 << 20, 0, 0, S_OK, 16, 8 << 20, S_OK},
      {100 << 20, 0, 0, S_OK, 2, 100 << 20, S_OK},    {0, 0, 0, S_OK, 32, 1 << 20, S_OK},  // unbounded: 1 MiB
      {1024, 31, 0, S_OK, 32, 1024, E_FAIL},          {1024, 0, 1023, S_OK, 32, 1024, E_FAIL},
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
    EXPECT_EQ(rig.Dmx()->PinDecideBufferSize(pPin->GetPinNumber(), &allocator, &request), c.expected);
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
