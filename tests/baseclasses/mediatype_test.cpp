// The media-type comparison that decides whether a proposed type matches a
// pin's: video blocks by their fields, with deliberate tolerances.
#include "baseclasses/mediatype.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace flvdmx {
namespace {

const std::vector<uint8_t> kWave = {1,    0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                    0xB1, 2, 0, 4, 0,    16,   0, 0, 0};

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
    if (formattype == FORMAT_MPEG2Video) fixed = kMpeg2VideoInfoSize;
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

const std::vector<uint8_t> kConfig = {0x00, 0x00, 0x00, 0x0B, 'a', 'v', 'c', 'C', 1, 2, 3};

TEST(CMediaTypeEqualityTest, VideoBlocksFollowTheVideoComparison) {
  const EqualityCase cases[] = {
      {"OppositeHeightForNv12", [](VideoBlock&, VideoBlock& b) { b.height = -240; }, true},
      {"OppositeHeightForRgb",
       [](VideoBlock& a, VideoBlock& b) {
         a.compression = b.compression = BI_RGB, b.height = -240;
       },
       false},
      {"FrameTimeWithinOne", [](VideoBlock&, VideoBlock& b) { b.avgTimePerFrame = 400001; }, true},
      {"ZeroFrameTimeIs333334",
       [](VideoBlock& a, VideoBlock& b) { a.avgTimePerFrame = 333334, b.avgTimePerFrame = 0; },
       true},
      {"FullFrameSourceMatchesEmpty",
       [](VideoBlock&, VideoBlock& b) {
         b.source = {0, 0, 320, 240};
       },
       true},
      {"LongerBlockOfMpeg2VideoNever",
       [](VideoBlock& a, VideoBlock& b) {
         a.formattype = b.formattype = FORMAT_MPEG2Video, b.tail = kConfig;
       },
       false},
      {"BlocksBelowTheMinimumNever",
       [](VideoBlock& a, VideoBlock& b) {
         a.sizeOverride = b.sizeOverride = 80, b.avgTimePerFrame = 400001;
       },
       false},
      {"VideoInfoAgainstVideoInfo2ComparesWidthWithAspect",
       [](VideoBlock&, VideoBlock& b) { b.formattype = FORMAT_VideoInfo2; }, false},
      {"GreyHeaderLongerThanTheBlockNever",
       [](VideoBlock& a, VideoBlock& b) {
         a.compression = b.compression = kFourccQGRY, a.biSize = b.biSize = 84,
         b.avgTimePerFrame = 400001;
       },
       false}};
  for (const EqualityCase& c : cases) {
    VideoBlock a, b;
    c.change(a, b);
    EXPECT_EQ(a.Build() == b.Build(), c.equal) << c.name;
  }
}

TEST(CMediaTypeEqualityTest, MissingBlockOfNonZeroSizeIsNotEqual) {
  std::vector<uint8_t> block = kWave;
  AM_MEDIA_TYPE a{};
  a.majortype = MEDIATYPE_Audio;
  a.formattype = FORMAT_WaveFormatEx;
  a.cbFormat = static_cast<ULONG>(block.size());
  AM_MEDIA_TYPE b = a;
  a.pbFormat = block.data();
  EXPECT_FALSE(IsEqualMediaType(a, b));
  EXPECT_FALSE(IsEqualMediaType(b, a));
}

}  // namespace
}  // namespace flvdmx
