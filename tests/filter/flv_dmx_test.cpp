// CFlvDmx's hooks: input type, pins made from the scan, buffer sizes,
// duration and frame conversion, identity and seeking interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "filter/filter_rig.h"
#include "module/module_ids.h"
#include "platform/mediatypes.h"
#include "seeking/filter_seeking_id.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

class FlvDmxTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

struct InputTypeCase {
  const char* name;
  GUID major;
  GUID subtype;
  HRESULT expected;
};

class InputTypeTest : public FlvDmxTest, public ::testing::WithParamInterface<InputTypeCase> {};

TEST_P(InputTypeTest, AcceptsOnlyFlvAndIsoStreams) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  const CMediaType mt = MakeMediaType(GetParam().major, GetParam().subtype);
  EXPECT_EQ(rig.Dmx()->PinCheckMediaType(0, &mt, rig.Dmx()->GetPin(0)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Types, InputTypeTest,
    ::testing::Values(InputTypeCase{"StreamQflv", MEDIATYPE_Stream, MEDIASUBTYPE_QFLV, S_OK},
                      InputTypeCase{"StreamQiso", MEDIATYPE_Stream, MEDIASUBTYPE_QISO, S_OK},
                      InputTypeCase{"StreamNull", MEDIATYPE_Stream, MEDIASUBTYPE_NULL, S_FALSE},
                      InputTypeCase{"VideoQflv", MEDIATYPE_Video, MEDIASUBTYPE_QFLV, S_FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlvDmxTest, InputOffersTheFlvStreamTypeOnly) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  CMediaType mt;
  ASSERT_EQ(rig.Dmx()->PinGetMediaType(0, 0, &mt), S_OK);
  EXPECT_EQ(*mt.Type(), MEDIATYPE_Stream);
  EXPECT_EQ(*mt.Subtype(), MEDIASUBTYPE_QFLV);
  EXPECT_EQ(*mt.FormatType(), GUID_NULL);
  EXPECT_EQ(mt.FormatLength(), 0u);
  EXPECT_EQ(rig.Dmx()->PinGetMediaType(0, 1, &mt), VFW_S_NO_MORE_ITEMS);
}

struct PinsCase {
  const char* name;
  uint32_t videoIntervalMs;
  uint32_t audioIntervalMs;
  uint8_t audioFlags;  // the sound flags byte of every audio tag
  std::vector<std::string> pins;
};

class PinNamingTest : public FlvDmxTest, public ::testing::WithParamInterface<PinsCase> {};

TEST_P(PinNamingTest, PinsFollowTheStreamsThatPlay) {
  Layout layout;
  layout.videoIntervalMs = GetParam().videoIntervalMs;
  layout.audioIntervalMs = GetParam().audioIntervalMs;
  CraftedFlv file = MakeFlv(layout);
  for (const FileTag& tag : file.tags)
    if (tag.type == kFlvTagAudio) file.bytes[static_cast<size_t>(tag.position) + 15] = GetParam().audioFlags;

  FilterRig rig(file.bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  EXPECT_EQ(rig.OutputPinNames(), GetParam().pins);
  // Each pin offers its own stream's type.
  for (const std::string& name : GetParam().pins) {
    CMediaType mt;
    ASSERT_EQ(rig.OutputPin(name)->GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(*mt.Type(), name == "Video" ? MEDIATYPE_Video : MEDIATYPE_Audio);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, PinNamingTest,
    ::testing::Values(PinsCase{"VideoThenAudio", 100, 50, 0x3F, {"Video", "Audio"}},
                      PinsCase{"AudioOnly", 0, 50, 0x3F, {"Audio"}},
                      PinsCase{"VideoOnly", 100, 0, 0x3F, {"Video"}},
                      PinsCase{"UnsupportedAudioLosesItsPin", 100, 50, 0x1F, {"Video"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlvDmxTest, NotFlvFailsTheConnectionAndMakesNoPin) {
  std::vector<uint8_t> bytes = MakeFlv(Layout()).bytes;
  bytes[0] = 'X';
  FilterRig rig(bytes);
  EXPECT_TRUE(FAILED(rig.ConnectInput()));
  EXPECT_EQ(rig.Dmx()->GetOutputPinCount(), 0);
}

// An allocator that grants what the test says and remembers what it was
// asked for.
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
  STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

  ALLOCATOR_PROPERTIES m_Requested{};
  LONG m_lMaxBuffers = 0;
  LONG m_lMaxBytes = 0;
  HRESULT m_hrSet = S_OK;
};

struct BufferCase {
  const char* name;
  uint32_t cbMaxSample;
  LONG lMaxBuffersGranted;  // 0: all
  LONG lMaxBytesGranted;    // 0: all
  LONG cBuffersAsked;
  LONG cbBufferAsked;
  HRESULT expected;
};

class BufferSizeTest : public FlvDmxTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(BufferSizeTest, BuffersFillAboutOneHundredTwentyEightMebibytes) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CBaseDmxOutputPin* pPin = rig.OutputPin("Video");
  ASSERT_NE(pPin, nullptr);
  pPin->SetMaxSampleSize(GetParam().cbMaxSample);

  CGrantingAllocator allocator;
  allocator.m_lMaxBuffers = GetParam().lMaxBuffersGranted;
  allocator.m_lMaxBytes = GetParam().lMaxBytesGranted;
  ALLOCATOR_PROPERTIES request{0, 0, 16, 8};
  EXPECT_EQ(rig.Dmx()->PinDecideBufferSize(pPin->GetPinNumber(), &allocator, &request), GetParam().expected);
  EXPECT_EQ(allocator.m_Requested.cBuffers, GetParam().cBuffersAsked);
  EXPECT_EQ(allocator.m_Requested.cbBuffer, GetParam().cbBufferAsked);
  EXPECT_EQ(allocator.m_Requested.cbAlign, 16) << "alignment stays as requested";
  EXPECT_EQ(allocator.m_Requested.cbPrefix, 8) << "prefix stays as requested";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BufferSizeTest,
    ::testing::Values(BufferCase{"VgaPicturesClampTo32", 1843200, 0, 0, 32, 1843200, S_OK},
                      BufferCase{"EightMebibytesGive16", 8 << 20, 0, 0, 16, 8 << 20, S_OK},
                      BufferCase{"HundredMebibytesClampTo2", 100 << 20, 0, 0, 2, 100 << 20, S_OK},
                      BufferCase{"SmallSamplesClampTo32", 1024, 0, 0, 32, 1024, S_OK},
                      BufferCase{"UnboundedSamplesGetOneMebibyte", 0, 0, 0, 32, 1 << 20, S_OK},
                      BufferCase{"FewerBuffersFail", 1024, 31, 0, 32, 1024, E_FAIL},
                      BufferCase{"SmallerBuffersFail", 1024, 0, 1023, 32, 1024, E_FAIL}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlvDmxTest, RefusedPropertiesAreReturned) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CGrantingAllocator allocator;
  allocator.m_hrSet = VFW_E_ALREADY_COMMITTED;
  ALLOCATOR_PROPERTIES request{};
  EXPECT_EQ(rig.Dmx()->PinDecideBufferSize(1, &allocator, &request), VFW_E_ALREADY_COMMITTED);
  EXPECT_EQ(rig.Dmx()->PinDecideBufferSize(1, nullptr, &request), E_POINTER);
}

TEST_F(FlvDmxTest, DurationInMediaTimeAndInFrames) {
  Layout layout;
  layout.durationMs = 95500;
  FilterRig rig(MakeFlv(layout).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CFlvDmx* pDmx = rig.Dmx();
  EXPECT_EQ(pDmx->m_llAvgTimePerFrame, 1000000) << "one video tag every 100 ms";

  LONGLONG llDuration = 0;
  ASSERT_EQ(pDmx->GetDuration(&llDuration), S_OK);
  EXPECT_EQ(llDuration, 955000000);
  LONGLONG llStop = 0;
  ASSERT_EQ(pDmx->GetStopPosition(&llStop), S_OK);
  EXPECT_EQ(llStop, 955000000) << "the stop is the duration after a connection";

  ASSERT_EQ(pDmx->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(pDmx->GetDuration(&llDuration), S_OK);
  EXPECT_EQ(llDuration, 955);
  LONGLONG llTime = 0;
  ASSERT_EQ(pDmx->ConvertFrameToTime(12, &llTime), S_OK);
  EXPECT_EQ(llTime, 12000000);
  EXPECT_EQ(pDmx->GetDuration(nullptr), E_POINTER);
}

TEST_F(FlvDmxTest, AudioOnlyFileHasNoFrames) {
  Layout layout;
  layout.videoIntervalMs = 0;
  FilterRig rig(MakeFlv(layout).bytes);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  CFlvDmx* pDmx = rig.Dmx();
  LONGLONG llFrame = 0;
  EXPECT_EQ(pDmx->ConvertTimeToFrame(10000000, &llFrame), E_NOTIMPL);
  EXPECT_TRUE(FAILED(pDmx->SetTimeFormat(&TIME_FORMAT_FRAME)));
  EXPECT_EQ(pDmx->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  // A position in media time still goes through.
  LONGLONG llStart = 20000000;
  EXPECT_EQ(pDmx->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr,
                               AM_SEEKING_NoPositioning),
            S_OK);
  LONGLONG llCurrent = 0;
  ASSERT_EQ(pDmx->GetCurrentPosition(&llCurrent), S_OK);
  EXPECT_EQ(llCurrent, 20000000);
}

TEST_F(FlvDmxTest, CurrentPositionNeedsAStreamAndFramesNeedVideo) {
  FilterRig rig(MakeFlv(Layout()).bytes);
  LONGLONG llCurrent = 0;
  EXPECT_EQ(rig.Dmx()->GetCurrentPosition(&llCurrent), E_UNEXPECTED) << "nothing scanned yet";
  EXPECT_EQ(rig.Dmx()->GetCurrentPosition(nullptr), E_POINTER);
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.Dmx()->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG llFrame = 30;
  ASSERT_EQ(rig.Dmx()->SetPositions(&llFrame, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning),
            S_OK);
  ASSERT_EQ(rig.Dmx()->GetCurrentPosition(&llCurrent), S_OK);
  EXPECT_EQ(llCurrent, 30);
  EXPECT_EQ(rig.Dmx()->m_llCurrentTime, 30000000) << "the time follows the frame";
}

TEST_F(FlvDmxTest, CreatedThroughTheHostClassTable) {
  IBaseFilter* pFilter = nullptr;
  ASSERT_EQ(CoCreateInstance(kClsidFlvDmx, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&pFilter)),
            S_OK);
  CLSID clsid{};
  EXPECT_EQ(pFilter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, kClsidFlvDmx);

  // The seeking object is for the filter's own pins only.
  IMediaSeeking* pSeeking = nullptr;
  EXPECT_EQ(pFilter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking)),
            E_NOINTERFACE);
  ASSERT_EQ(pFilter->QueryInterface(IID_IFilterSeeking, reinterpret_cast<void**>(&pSeeking)), S_OK);
  IUnknown* pFromSeeking = nullptr;
  IUnknown* pFromFilter = nullptr;
  ASSERT_EQ(pSeeking->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pFromSeeking)), S_OK);
  ASSERT_EQ(pFilter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pFromFilter)), S_OK);
  EXPECT_EQ(pFromSeeking, pFromFilter) << "one identity";
  pFromSeeking->Release();
  pFromFilter->Release();
  pSeeking->Release();
  ExpectRefCount(pFilter, 1);
  EXPECT_EQ(pFilter->Release(), 0u);
}

}  // namespace
}  // namespace flvdmx::filtertest
