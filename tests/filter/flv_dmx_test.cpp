// CFlvDmx's hooks: input type, pins made from the scan, buffer sizes,
// duration and frame conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "filter/filter_rig.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

class FlvDmxTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

TEST_F(FlvDmxTest, InputTakesFlvAndIsoStreamsAndOffersFlv) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  struct Case {
    GUID major, subtype;
    HRESULT expected;
  } cases[] = {{MEDIATYPE_Stream, MEDIASUBTYPE_QFLV, S_OK},
               {MEDIATYPE_Stream, MEDIASUBTYPE_QISO, S_OK},
               {MEDIATYPE_Stream, MEDIASUBTYPE_NULL, S_FALSE},
               {MEDIATYPE_Video, MEDIASUBTYPE_QFLV, S_FALSE}};
  for (const Case& c : cases) {
    const CMediaType mt = MakeMediaType(c.major, c.subtype);
    EXPECT_EQ(rig.Dmx()->PinCheckMediaType(0, &mt, rig.Dmx()->GetPin(0)), c.expected);
  }
  CMediaType mt;
  ASSERT_EQ(rig.Dmx()->PinGetMediaType(0, 0, &mt), S_OK);
  EXPECT_EQ(*mt.Type(), MEDIATYPE_Stream);
  EXPECT_EQ(*mt.Subtype(), MEDIASUBTYPE_QFLV);
  EXPECT_EQ(rig.Dmx()->PinGetMediaType(0, 1, &mt), VFW_S_NO_MORE_ITEMS);
}

TEST_F(FlvDmxTest, PinsFollowTheStreamsThatPlay) {
  struct Case {
    const char* what;
    uint32_t videoIntervalMs, audioIntervalMs;
    uint8_t audioFlags;  // the sound flags byte of every audio tag
    bool bNotFlv;
    std::vector<std::string> pins;
  } cases[] = {
      {"both", 100, 50, 0x3F, false, {"Video", "Audio"}},
      {"audio only", 0, 50, 0x3F, false, {"Audio"}},
      {"video only", 100, 0, 0x3F, false, {"Video"}},
      {"unsupported audio loses its pin", 100, 50, 0x1F, false, {"Video"}},
      {"not FLV", 100, 50, 0x3F, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Layout layout;
    layout.videoIntervalMs = c.videoIntervalMs;
    layout.audioIntervalMs = c.audioIntervalMs;
    CraftedFlv file = MakeFlv(layout);
    for (const FileTag& tag : file.tags)
      if (tag.type == kFlvTagAudio) file.bytes[static_cast<size_t>(tag.position) + 15] = c.audioFlags;
    if (c.bNotFlv) file.bytes[0] = 'X';
    FilterRig rig(file.bytes);
    EXPECT_EQ(SUCCEEDED(rig.ConnectInput()), !c.bNotFlv);
    EXPECT_EQ(rig.OutputPinNames(), c.pins);
    for (const std::string& name : c.pins) {
      CMediaType mt;
      ASSERT_EQ(rig.OutputPin(name)->GetMediaType(0, &mt), S_OK);
      EXPECT_EQ(*mt.Type(), name == "Video" ? MEDIATYPE_Video : MEDIATYPE_Audio);
    }
  }
}

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
  LONG m_lMaxBuffers = 0;
  LONG m_lMaxBytes = 0;
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

TEST_F(FlvDmxTest, DurationAndPositionsInMediaTimeAndInFrames) {
  Layout layout;
  layout.durationMs = 95500;
  FilterRig rig(MakeFlv(layout).bytes);
  CFlvDmx* pDmx = rig.Dmx();
  LONGLONG llValue = 0;
  EXPECT_EQ(pDmx->GetCurrentPosition(&llValue), E_UNEXPECTED) << "nothing scanned yet";
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(pDmx->m_llAvgTimePerFrame, 1000000) << "one video tag every 100 ms";
  ASSERT_EQ(pDmx->GetDuration(&llValue), S_OK);
  EXPECT_EQ(llValue, 955000000);
  ASSERT_EQ(pDmx->GetStopPosition(&llValue), S_OK);
  EXPECT_EQ(llValue, 955000000) << "the stop is the duration after a connection";

  ASSERT_EQ(pDmx->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(pDmx->GetDuration(&llValue), S_OK);
  EXPECT_EQ(llValue, 955);
  ASSERT_EQ(pDmx->ConvertFrameToTime(12, &llValue), S_OK);
  EXPECT_EQ(llValue, 12000000);
  LONGLONG llFrame = 30;
  ASSERT_EQ(pDmx->SetPositions(&llFrame, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_EQ(pDmx->GetCurrentPosition(&llValue), S_OK);
  EXPECT_EQ(llValue, 30);
  EXPECT_EQ(pDmx->m_llCurrentTime, 30000000) << "the time follows the frame";
}

TEST_F(FlvDmxTest, AudioOnlyFileHasNoFrames) {
  Layout layout;
  layout.videoIntervalMs = 0;
  FilterRig rig(MakeFlv(layout).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  LONGLONG llFrame = 0;
  EXPECT_EQ(rig.Dmx()->ConvertTimeToFrame(10000000, &llFrame), E_NOTIMPL);
  EXPECT_TRUE(FAILED(rig.Dmx()->SetTimeFormat(&TIME_FORMAT_FRAME)));
}

}  // namespace
}  // namespace flvdmx::filtertest
