#include "baseclasses/mediatype.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "streams_test_util.h"

namespace flvdmx {
namespace {

// An IUnknown that only counts, for the pUnk reference rules.
class CountingUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_cRef; }
  ULONG m_cRef = 1;
};

const std::vector<uint8_t> kWave = FromHex("0100 0200 44ac0000 10b10200 0400 1000 0000");

CMediaType AudioType(const std::vector<uint8_t>& block) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_TRUE(mt.SetFormat(block.data(), static_cast<ULONG>(block.size())));
  return mt;
}

TEST(CMediaTypeTest, NewTypeHasFixedSizeSamplesOfOneAndNothingElse) {
  CMediaType mt;
  EXPECT_EQ(mt.majortype, GUID_NULL);
  EXPECT_EQ(mt.subtype, GUID_NULL);
  EXPECT_EQ(mt.formattype, GUID_NULL);
  EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
  EXPECT_EQ(mt.bTemporalCompression, FALSE);
  EXPECT_EQ(mt.lSampleSize, 1u);
  EXPECT_EQ(mt.cbFormat, 0u);
  EXPECT_EQ(mt.pbFormat, nullptr);
  EXPECT_EQ(mt.pUnk, nullptr);
  EXPECT_FALSE(mt.IsValid());
  EXPECT_TRUE(mt.IsPartiallySpecified());
}

TEST(CMediaTypeTest, CopyDeepCopiesTheBlockAndTakesItsOwnReferenceOnUnknown) {
  CountingUnknown unk;
  {
    CMediaType a = AudioType(kWave);
    a.pUnk = &unk;
    unk.AddRef();  // the reference `a` owns
    CMediaType b(a);
    EXPECT_EQ(unk.m_cRef, 3u);
    ASSERT_NE(b.pbFormat, nullptr);
    EXPECT_NE(b.pbFormat, a.pbFormat);
    EXPECT_EQ(Hex(b.Format(), b.FormatLength()), Hex(kWave));
    EXPECT_TRUE(b == a);

    CMediaType c;
    c = b;
    EXPECT_EQ(unk.m_cRef, 4u);
    c = c;  // self-assignment keeps the block
    EXPECT_EQ(Hex(c.Format(), c.FormatLength()), Hex(kWave));
    c.InitMediaType();
    EXPECT_EQ(unk.m_cRef, 3u);
    EXPECT_EQ(c.pbFormat, nullptr);
  }
  EXPECT_EQ(unk.m_cRef, 1u);
}

TEST(CMediaTypeTest, FormatBufferKeepsItsBlockForTheSameLengthAndItsPrefixOnResize) {
  CMediaType mt;
  BYTE* p = mt.AllocFormatBuffer(4);
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "\x01\x02\x03\x04", 4);
  EXPECT_EQ(mt.AllocFormatBuffer(4), p);
  EXPECT_EQ(mt.ReallocFormatBuffer(4), p);
  ASSERT_NE(mt.ReallocFormatBuffer(6), nullptr);
  EXPECT_EQ(Hex(mt.Format(), 4), "01020304");
  EXPECT_EQ(mt.FormatLength(), 6u);
  ASSERT_NE(mt.ReallocFormatBuffer(2), nullptr);
  EXPECT_EQ(Hex(mt.Format(), mt.FormatLength()), "0102");
  // The source may be the block itself.
  EXPECT_TRUE(mt.SetFormat(mt.Format() + 1, 1));
  EXPECT_EQ(Hex(mt.Format(), mt.FormatLength()), "02");
  EXPECT_EQ(mt.AllocFormatBuffer(0), nullptr);
  EXPECT_EQ(mt.FormatLength(), 0u);
  EXPECT_TRUE(mt.SetFormat(nullptr, 0));
  EXPECT_FALSE(mt.SetFormat(nullptr, 3));
}

TEST(CMediaTypeTest, CreatedRecordsOwnACopyAndAReferenceUntilDeleted) {
  CountingUnknown unk;
  {
    CMediaType src = AudioType(kWave);
    src.pUnk = &unk;
    unk.AddRef();
    AM_MEDIA_TYPE* pmt = CreateMediaType(&src);
    ASSERT_NE(pmt, nullptr);
    EXPECT_NE(pmt->pbFormat, src.pbFormat);
    EXPECT_EQ(Hex(pmt->pbFormat, pmt->cbFormat), Hex(kWave));
    EXPECT_EQ(unk.m_cRef, 3u);
    DeleteMediaType(pmt);
    EXPECT_EQ(unk.m_cRef, 2u);
  }
  EXPECT_EQ(unk.m_cRef, 1u);
}

TEST(CMediaTypeTest, PartialTypeMatchesOnWhatItSets) {
  const CMediaType full = AudioType(kWave);
  CMediaType partial;
  EXPECT_TRUE(full.MatchesPartial(&partial));
  partial.SetType(&MEDIATYPE_Audio);
  EXPECT_TRUE(full.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_MP3);
  EXPECT_FALSE(full.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_PCM);
  partial.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_TRUE(full.MatchesPartial(&partial));
  EXPECT_FALSE(partial.IsPartiallySpecified());
  std::vector<uint8_t> other = kWave;
  other[2] = 1;
  ASSERT_TRUE(partial.SetFormat(other.data(), static_cast<ULONG>(other.size())));
  EXPECT_FALSE(full.MatchesPartial(&partial));
}

// A video format block built field by field.
struct VideoBlock {
  GUID formattype = FORMAT_VideoInfo;
  LONG width = 320;
  LONG height = 240;
  WORD bitCount = 12;
  DWORD compression = kFourccNV12;
  DWORD biSize = 40;
  REFERENCE_TIME avgTimePerFrame = 400000;
  RECT source{0, 0, 0, 0};
  RECT target{0, 0, 0, 0};
  DWORD aspectX = 4;  // VIDEOINFOHEADER2-style blocks only
  DWORD aspectY = 3;
  std::vector<uint8_t> tail;  // after the fixed part
  ULONG sizeOverride = 0;     // a block cut short

  CMediaType Build() const {
    const bool v2 = formattype == FORMAT_VideoInfo2 || formattype == FORMAT_MPEG2Video;
    ULONG fixed = kVideoInfoSize;
    if (formattype == FORMAT_VideoInfo2) fixed = kVideoInfo2Size;
    if (formattype == FORMAT_MPEGVideo) fixed = kMpeg1VideoInfoSize;
    if (formattype == FORMAT_MPEG2Video) fixed = kMpeg2VideoInfoSize;
    if (formattype == FORMAT_VideoInfo144) fixed = kVideoInfo144Size;
    std::vector<uint8_t> block(fixed, 0);
    block.insert(block.end(), tail.begin(), tail.end());
    std::memcpy(&block[0], &source, sizeof(RECT));
    std::memcpy(&block[16], &target, sizeof(RECT));
    std::memcpy(&block[40], &avgTimePerFrame, 8);
    BITMAPINFOHEADER bmi{};
    bmi.biSize = biSize;
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biPlanes = 1;
    bmi.biBitCount = bitCount;
    bmi.biCompression = compression;
    if (v2) {
      std::memcpy(&block[56], &aspectX, 4);
      std::memcpy(&block[60], &aspectY, 4);
    }
    std::memcpy(&block[v2 ? 72 : 48], &bmi, sizeof(bmi));
    if (sizeOverride != 0) block.resize(sizeOverride);
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_NV12);
    mt.SetFormatType(&formattype);
    EXPECT_TRUE(mt.SetFormat(block.data(), static_cast<ULONG>(block.size())));
    return mt;
  }
};

struct EqualityCase {
  const char* name;
  std::function<void(VideoBlock&, VideoBlock&)> change;  // A (the pin's), B (proposed)
  bool equal;
};

class VideoTypeEqualityTest : public testing::TestWithParam<EqualityCase> {};

TEST_P(VideoTypeEqualityTest, FollowsTheVideoComparison) {
  VideoBlock a;
  VideoBlock b;
  GetParam().change(a, b);
  EXPECT_EQ(a.Build() == b.Build(), GetParam().equal);
}

const std::vector<uint8_t> kConfig = {0x00, 0x00, 0x00, 0x0B, 'a', 'v', 'c', 'C', 1, 2, 3};

INSTANTIATE_TEST_SUITE_P(
    Cases, VideoTypeEqualityTest,
    testing::Values(
        EqualityCase{"Identical", [](VideoBlock&, VideoBlock&) {}, true},
        EqualityCase{"WidthDiffers", [](VideoBlock&, VideoBlock& b) { b.width = 352; }, false},
        EqualityCase{"BitCountDiffers", [](VideoBlock&, VideoBlock& b) { b.bitCount = 16; }, false},
        EqualityCase{"CompressionDiffers", [](VideoBlock&, VideoBlock& b) { b.compression = kFourccYV12; }, false},
        EqualityCase{"OppositeHeightForNv12", [](VideoBlock&, VideoBlock& b) { b.height = -240; }, true},
        EqualityCase{"OppositeHeightForYuy2",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.compression = b.compression = kFourccYUY2;
                       b.height = -240;
                     },
                     true},
        EqualityCase{"OppositeHeightForRgb",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.compression = b.compression = BI_RGB;
                       b.height = -240;
                     },
                     false},
        EqualityCase{"OtherHeaderFieldsMayDiffer", [](VideoBlock&, VideoBlock& b) { b.biSize = 44; }, true},
        EqualityCase{"FrameTimeWithinOne", [](VideoBlock&, VideoBlock& b) { b.avgTimePerFrame = 400001; }, true},
        EqualityCase{"FrameTimeTwoApart", [](VideoBlock&, VideoBlock& b) { b.avgTimePerFrame = 400002; }, false},
        EqualityCase{"ZeroFrameTimeIs333332",
                     [](VideoBlock& a, VideoBlock& b) { a.avgTimePerFrame = 0, b.avgTimePerFrame = 333332; }, true},
        EqualityCase{"ZeroFrameTimeIs333333",
                     [](VideoBlock& a, VideoBlock& b) { a.avgTimePerFrame = 0, b.avgTimePerFrame = 333333; }, true},
        EqualityCase{"ZeroFrameTimeIs333334",
                     [](VideoBlock& a, VideoBlock& b) { a.avgTimePerFrame = 333334, b.avgTimePerFrame = 0; }, true},
        EqualityCase{"ZeroFrameTimeIsNot333335",
                     [](VideoBlock& a, VideoBlock& b) { a.avgTimePerFrame = 0, b.avgTimePerFrame = 333335; }, false},
        EqualityCase{"FullFrameSourceMatchesEmpty", [](VideoBlock&, VideoBlock& b) { b.source = {0, 0, 320, 240}; },
                     true},
        EqualityCase{"FullFrameTargetWithZeroBottom",
                     [](VideoBlock& a, VideoBlock& b) { a.target = {0, 0, 320, 0}, b.target = {0, 0, 0, 240}; }, true},
        EqualityCase{"PartialSourceDiffers", [](VideoBlock&, VideoBlock& b) { b.source = {0, 0, 160, 120}; }, false},
        EqualityCase{"OffsetTargetDiffers", [](VideoBlock&, VideoBlock& b) { b.target = {8, 0, 320, 240}; }, false},
        EqualityCase{"LongerBlockWithSamePrefix", [](VideoBlock&, VideoBlock& b) { b.tail = kConfig; }, true},
        EqualityCase{"LongerBlockOfMpeg2VideoNever",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.formattype = b.formattype = FORMAT_MPEG2Video;
                       b.tail = kConfig;
                     },
                     false},
        EqualityCase{"LongerVideoInfo2BlockWithSamePrefix",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.formattype = b.formattype = FORMAT_VideoInfo2;
                       b.tail = kConfig;
                     },
                     true},
        EqualityCase{"BlocksBelowTheMinimumNever",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.sizeOverride = b.sizeOverride = 80;
                       b.avgTimePerFrame = 400001;
                     },
                     false},
        EqualityCase{"VideoInfoAgainstVideoInfo2OfTheSameWidth",
                     [](VideoBlock&, VideoBlock& b) {
                       b.formattype = FORMAT_VideoInfo2;
                       b.aspectX = 320;
                     },
                     true},
        EqualityCase{"VideoInfoAgainstVideoInfo2ComparesWidthWithAspect",
                     [](VideoBlock&, VideoBlock& b) { b.formattype = FORMAT_VideoInfo2; }, false},
        EqualityCase{"AspectRatiosDiffer",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.formattype = b.formattype = FORMAT_VideoInfo2;
                       b.aspectX = 16, b.aspectY = 9;
                     },
                     false},
        EqualityCase{"ZeroAspectYSkipsTheAspectCheck",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.formattype = b.formattype = FORMAT_VideoInfo2;
                       a.aspectY = 0;
                       b.aspectX = 16, b.aspectY = 9;
                     },
                     true},
        EqualityCase{"Mpeg1VideoAgainstVideoInfo144",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.formattype = FORMAT_MPEGVideo;
                       b.formattype = FORMAT_VideoInfo144;
                     },
                     true},
        EqualityCase{"GreyExtraHeaderBytesMustMatch",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.compression = b.compression = kFourccQGRY;
                       a.biSize = b.biSize = 48;
                       a.tail = {1, 2, 3, 4, 5, 6, 7, 8};
                       b.tail = {1, 2, 3, 4, 5, 6, 7, 9};
                     },
                     false},
        EqualityCase{"GreyExtraHeaderBytesEqual",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.compression = b.compression = kFourccQGRY;
                       a.biSize = b.biSize = 48;
                       a.tail = b.tail = {1, 2, 3, 4, 5, 6, 7, 8};
                       b.avgTimePerFrame = 400001;
                     },
                     true},
        EqualityCase{"GreyHeaderLongerThanTheBlockNever",
                     [](VideoBlock& a, VideoBlock& b) {
                       a.compression = b.compression = kFourccQGRY;
                       a.biSize = b.biSize = 84;
                       b.avgTimePerFrame = 400001;
                     },
                     false}),
    [](const testing::TestParamInfo<EqualityCase>& info) { return std::string(info.param.name); });

TEST(CMediaTypeEqualityTest, MajorTypeSubtypeAndNonVideoBlocksMustMatchExactly) {
  const CMediaType a = AudioType(kWave);
  CMediaType b = AudioType(kWave);
  EXPECT_TRUE(a == b);
  b.SetSubtype(&MEDIASUBTYPE_MP3);
  EXPECT_TRUE(a != b);

  std::vector<uint8_t> changed = kWave;
  changed[4] = 0x22;  // another sample rate
  EXPECT_FALSE(a == AudioType(changed));
  std::vector<uint8_t> longer = kWave;
  longer.push_back(0);
  EXPECT_FALSE(a == AudioType(longer));

  CMediaType video = VideoBlock().Build();
  video.SetType(&MEDIATYPE_Audio);
  video.SetSubtype(&MEDIASUBTYPE_PCM);
  EXPECT_FALSE(a == video);  // a wave block is never compared as video
}

TEST(CMediaTypeEqualityTest, MissingBlockOfNonZeroSizeIsNotEqual) {
  std::vector<uint8_t> block = kWave;
  AM_MEDIA_TYPE a{};
  a.majortype = MEDIATYPE_Audio;
  a.formattype = FORMAT_WaveFormatEx;
  AM_MEDIA_TYPE b = a;
  EXPECT_TRUE(IsEqualMediaType(a, b));  // no blocks at all
  a.cbFormat = b.cbFormat = static_cast<ULONG>(block.size());
  a.pbFormat = block.data();
  EXPECT_FALSE(IsEqualMediaType(a, b));
  EXPECT_FALSE(IsEqualMediaType(b, a));
  b.pbFormat = block.data();
  EXPECT_TRUE(IsEqualMediaType(a, b));
}

}  // namespace
}  // namespace flvdmx
