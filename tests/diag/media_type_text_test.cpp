#include "diag/media_type_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/trace.h"
#include "platform/mediatypes.h"

namespace flvdmx {
namespace {

// A media type over a format block the test owns.
struct TypeWithBlock {
  TypeWithBlock(const GUID& major, const GUID& sub, const GUID& format, std::vector<BYTE> block)
      : bytes(std::move(block)) {
    std::memset(&mt, 0, sizeof mt);
    mt.majortype = major;
    mt.subtype = sub;
    mt.formattype = format;
    mt.cbFormat = static_cast<ULONG>(bytes.size());
    mt.pbFormat = bytes.empty() ? nullptr : bytes.data();
  }
  std::vector<BYTE> bytes;
  AM_MEDIA_TYPE mt;
};

template <typename T>
std::vector<BYTE> Bytes(const T& value, size_t extra = 0) {
  std::vector<BYTE> bytes(sizeof value + extra, 0);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

VIDEOINFOHEADER Vih(uint32_t compression, LONG width, LONG height, RECT target) {
  VIDEOINFOHEADER vih{};
  vih.rcTarget = target;
  vih.AvgTimePerFrame = 400000;
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = width;
  vih.bmiHeader.biHeight = height;
  vih.bmiHeader.biBitCount = 24;
  vih.bmiHeader.biCompression = compression;
  vih.bmiHeader.biSizeImage = 230400;
  return vih;
}

VIDEOINFOHEADER2 Vih2(uint32_t compression, RECT target) {
  VIDEOINFOHEADER2 vih{};
  vih.rcTarget = target;
  vih.AvgTimePerFrame = 333667;
  vih.dwPictAspectRatioX = 16;
  vih.dwPictAspectRatioY = 9;
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = 1920;
  vih.bmiHeader.biHeight = 1080;
  vih.bmiHeader.biBitCount = 12;
  vih.bmiHeader.biCompression = compression;
  return vih;
}

TEST(DescribeMediaTypeTest, VideoInfo) {
  const RECT none{0, 0, 0, 0}, whole{0, 0, 320, 240}, part{8, 4, 312, 236};
  struct Case {
    VIDEOINFOHEADER vih;
    const char* text;
  } cases[] = {
      {Vih(kFourccAVC1, 320, 240, none), "Vid avc1 320 x 240 x 24 400000 (230400 bytes)"},
      {Vih(kFourccAVC1, 320, -240, whole), "Vid avc1 320 x -240 x 24 400000 (230400 bytes)"},
      {Vih(kFourccAVC1, 320, 240, part),
       "Vid avc1 320 x 240 x 24 400000 (230400 bytes) rcTarget=(8,4,312,236)"},
      {Vih(0, 320, 240, none), "Vid RGB  320 x 240 x 24 400000 (230400 bytes)"},
      {Vih(3, 320, 240, none), "Vid BITF 320 x 240 x 24 400000 (230400 bytes)"},
      {Vih(0x01020304, 320, 240, none), "Vid Comp=0x01020304 320 x 240 x 24 400000 (230400 bytes)"},
  };
  for (const Case& c : cases) {
    TypeWithBlock t(MEDIATYPE_Video, MEDIASUBTYPE_avc1, FORMAT_VideoInfo, Bytes(c.vih));
    EXPECT_STREQ(DescribeMediaType(&t.mt), c.text);
  }
}

TEST(DescribeMediaTypeTest, GreyFormatShowsItsBitRangeWhenTheBlockHasIt) {
  const VIDEOINFOHEADER vih = Vih(kFourccQGRY, 640, 480, RECT{0, 0, 0, 0});
  std::vector<BYTE> block = Bytes(vih, 8);
  const int32_t bits[2] = {2, 13};
  std::memcpy(block.data() + sizeof vih, bits, sizeof bits);
  TypeWithBlock grey(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo, block);
  EXPECT_STREQ(DescribeMediaType(&grey.mt),
               "Vid QGRY 640 x 480 x 24 400000 (230400 bytes) lowBit=2, highBit=13");
  block.resize(sizeof vih + 4);
  TypeWithBlock cut(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo, block);
  EXPECT_STREQ(DescribeMediaType(&cut.mt), "Vid QGRY 640 x 480 x 24 400000 (230400 bytes)");
}

TEST(DescribeMediaTypeTest, VideoInfo2AndMpeg2Video) {
  const RECT part{0, 0, 1920, 1080 - 8};
  TypeWithBlock plain(MEDIATYPE_Video, MEDIASUBTYPE_hvc1, FORMAT_VideoInfo2,
                      Bytes(Vih2(kFourccHVC1, RECT{0, 0, 0, 0})));
  EXPECT_STREQ(DescribeMediaType(&plain.mt), "Vid hvc1 1920 x 1080 x 12 333667 (16:9)");
  TypeWithBlock cropped(MEDIATYPE_Video, MEDIASUBTYPE_hvc1, FORMAT_VideoInfo2,
                        Bytes(Vih2(kFourccHVC1, part)));
  EXPECT_STREQ(DescribeMediaType(&cropped.mt),
               "Vid hvc1 1920 x 1080 x 12 333667 (16:9) rcTarget=(0,1920 0,1072)");

  // The MPEG-2 block's rectangle goes out as a trace line of its own.
  const uint32_t saved = g_dwTraceFlags;
  g_dwTraceFlags = kTraceOn | kTraceDebugger;
  TypeWithBlock mpeg2(MEDIATYPE_Video, MEDIASUBTYPE_H264, FORMAT_MPEG2Video,
                      Bytes(Vih2(kFourccH264, part), kMpeg2VideoInfoSize - kVideoInfo2Size));
  testing::internal::CaptureStderr();
  const std::string text = DescribeMediaType(&mpeg2.mt);
  const std::string traced = testing::internal::GetCapturedStderr();
  g_dwTraceFlags = saved;
  EXPECT_EQ(text, "MPEG2Vid H264 1920 x 1080 x 12 333667 (16:9)");
  EXPECT_EQ(traced, " rcTarget=(0,1920 0,1072)");
}

TEST(DescribeMediaTypeTest, WaveFormat) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_RAW_AAC1;
  wfx.nChannels = 2;
  wfx.nSamplesPerSec = 44100;
  wfx.nAvgBytesPerSec = 16000;
  wfx.wBitsPerSample = 16;
  wfx.cbSize = 2;
  std::vector<BYTE> block = Bytes(wfx, 2);
  TypeWithBlock full(MEDIATYPE_Audio, MEDIASUBTYPE_mp4a, FORMAT_WaveFormatEx, block);
  EXPECT_STREQ(DescribeMediaType(&full.mt),
               "Aud tag=255, chan=2, 44100Hz, 16 bits, 16000 bytes/s, cbSize=2");
  block.resize(16);
  TypeWithBlock old(MEDIATYPE_Audio, MEDIASUBTYPE_mp4a, FORMAT_WaveFormatEx, block);
  EXPECT_STREQ(DescribeMediaType(&old.mt), "Aud tag=255, chan=2, 44100Hz, 16 bits, 16000 bytes/s");
  block.resize(15);
  TypeWithBlock cut(MEDIATYPE_Audio, MEDIASUBTYPE_mp4a, FORMAT_WaveFormatEx, block);
  EXPECT_STREQ(DescribeMediaType(&cut.mt),
               "Type=MEDIATYPE_Audio, Subtype=0x6134706D (mp4a), Format=FORMAT_WaveFormatEx");
}

TEST(DescribeMediaTypeTest, ShortVideoBlocksAreNotRead) {
  TypeWithBlock shortInfo(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo, std::vector<BYTE>(87));
  char expected[64];
  std::snprintf(expected, sizeof expected, "Vid cbFormat = 87 pbFormat=0x%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(shortInfo.bytes.data())));
  EXPECT_STREQ(DescribeMediaType(&shortInfo.mt), expected);
  // A size without a block is no block at all.
  TypeWithBlock missing(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo2, {});
  missing.mt.cbFormat = 200;
  EXPECT_STREQ(DescribeMediaType(&missing.mt), "Vid cbFormat = 200 pbFormat=0x0000000000000000");
}

TEST(DescribeMediaTypeTest, OtherTypesByName) {
  const GUID unknown = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  const GUID udp = {0x5FE31118, 0x25FB, 0x4D77, {0xBC, 0x62, 0x3D, 0x9C, 0xC3, 0x2B, 0xBE, 0x67}};
  struct Case {
    GUID major, sub, format;
    const char* text;
  } cases[] = {
      {MEDIATYPE_Stream, MEDIASUBTYPE_QFLV, FORMAT_None,
       "Type=MEDIATYPE_Stream, Subtype=0x564C4651 (QFLV), Format=FORMAT_None"},
      {MEDIATYPE_Video, FourccGuid(0), FORMAT_MPEGVideo,
       "Type=MEDIATYPE_Video, Subtype=RGB, Format=FORMAT_MPEGVideo"},
      {MEDIATYPE_Video, FourccGuid(3), FORMAT_VideoInfo144,
       "Type=MEDIATYPE_Video, Subtype=BITFIELDS, Format=FORMAT_QGRYVideoInfo"},
      {MEDIATYPE_Video, FourccGuid(5), FORMAT_DvInfo,
       "Type=MEDIATYPE_Video, Subtype=PNG, Format=FORMAT_DvInfo"},
      {MEDIATYPE_Timecode, udp, GUID_NULL,
       "Type=MEDIATYPE_Timecode, Subtype=MEDIASUBTYPE_UDPStream, Format=GUID_NULL"},
      {unknown, GUID_NULL, unknown,
       "Type={12345678-9ABC-DEF0-0102-030405060708}, Subtype=GUID_NULL, "
       "Format={12345678-9ABC-DEF0-0102-030405060708}"},
      {FourccGuid(0x736C7275), MEDIASUBTYPE_RGB24, FORMAT_MPEGStreams,
       "Type=MEDIATYPE_URL_STREAM, Subtype={E436EB7D-524F-11CE-9F53-0020AF0BA770}, "
       "Format=FORMAT_MPEGStreams"},
  };
  for (const Case& c : cases) {
    TypeWithBlock t(c.major, c.sub, c.format, {});
    EXPECT_STREQ(DescribeMediaType(&t.mt), c.text);
  }
}

TEST(DescribeMediaTypeTest, NullAndEmpty) {
  EXPECT_STREQ(DescribeMediaType(nullptr), "NULL");
  TypeWithBlock empty(GUID_NULL, GUID_NULL, GUID_NULL, {});
  EXPECT_STREQ(DescribeMediaType(&empty.mt), "(NULL)");
}

TEST(DescribeMediaTypeTest, FourDescriptionsStandSideBySide) {
  TypeWithBlock a(MEDIATYPE_Audio, GUID_NULL, GUID_NULL, {});
  TypeWithBlock b(MEDIATYPE_Video, GUID_NULL, GUID_NULL, {});
  const char* texts[4] = {DescribeMediaType(&a.mt), DescribeMediaType(&b.mt),
                          DescribeMediaType(nullptr), DescribeMediaType(&a.mt)};
  EXPECT_STREQ(texts[0], "Type=MEDIATYPE_Audio, Subtype=GUID_NULL, Format=GUID_NULL");
  EXPECT_STREQ(texts[1], "Type=MEDIATYPE_Video, Subtype=GUID_NULL, Format=GUID_NULL");
  EXPECT_STREQ(texts[2], "NULL");
  EXPECT_STREQ(texts[3], texts[0]);
}

}  // namespace
}  // namespace flvdmx
