#include "diag/media_type_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/mediatypes.h"

namespace flvdmx {
namespace {

// A media type over a format block the test owns.
struct TypeWithBlock {
  TypeWithBlock(const GUID& major, const GUID& sub, const GUID& format, std::vector<BYTE> block)
      : bytes(std::move(block)),
        mt{major,
           sub,
           FALSE,
           FALSE,
           0,
           format,
           nullptr,
           static_cast<ULONG>(bytes.size()),
           bytes.empty() ? nullptr : bytes.data()} {}
  std::vector<BYTE> bytes;
  AM_MEDIA_TYPE mt;
};

// The bytes of `value`, cut or padded with zeros to `size` (0: its own size).
template <typename T>
std::vector<BYTE> Bytes(const T& value, size_t size = 0) {
  std::vector<BYTE> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  bytes.resize(size ? size : sizeof value);
  return bytes;
}

template <typename Header>
Header Video(uint32_t compression, LONG height, RECT target) {
  Header vih{};
  vih.rcTarget = target;
  vih.AvgTimePerFrame = 400000;
  vih.bmiHeader.biWidth = 320;
  vih.bmiHeader.biHeight = height;
  vih.bmiHeader.biBitCount = 24;
  vih.bmiHeader.biCompression = compression;
  vih.bmiHeader.biSizeImage = 230400;
  return vih;
}

TEST(DescribeMediaTypeTest, VideoAndAudioFormatBlocks) {
  const RECT none{0, 0, 0, 0}, whole{0, 0, 320, 240}, part{8, 4, 312, 236};
  VIDEOINFOHEADER2 vih2 = Video<VIDEOINFOHEADER2>(kFourccHVC1, 240, none);
  vih2.dwPictAspectRatioX = 16;
  vih2.dwPictAspectRatioY = 9;
  VIDEOINFOHEADER2 cropped = vih2;
  cropped.rcTarget = part;
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_RAW_AAC1;
  wfx.nChannels = 2;
  wfx.nSamplesPerSec = 44100;
  wfx.nAvgBytesPerSec = 16000;
  wfx.wBitsPerSample = 16;
  wfx.cbSize = 2;
  const int32_t greyBits[2] = {2, 13};
  std::vector<BYTE> grey =
      Bytes(Video<VIDEOINFOHEADER>(kFourccQGRY, 240, none), sizeof(VIDEOINFOHEADER) + 8);
  std::memcpy(grey.data() + sizeof(VIDEOINFOHEADER), greyBits, sizeof greyBits);
  const std::vector<BYTE> greyCut(grey.begin(), grey.end() - 4);
  struct Case {
    GUID major, format;
    std::vector<BYTE> block;
    const char* text;
  } cases[] = {
      {MEDIATYPE_Video, FORMAT_VideoInfo, Bytes(Video<VIDEOINFOHEADER>(kFourccAVC1, -240, whole)),
       "Vid avc1 320 x -240 x 24 400000 (230400 bytes)"},  // the whole picture is no target
      {MEDIATYPE_Video, FORMAT_VideoInfo, Bytes(Video<VIDEOINFOHEADER>(kFourccAVC1, 240, part)),
       "Vid avc1 320 x 240 x 24 400000 (230400 bytes) rcTarget=(8,4,312,236)"},
      {MEDIATYPE_Video, FORMAT_VideoInfo, Bytes(Video<VIDEOINFOHEADER>(0x01020304, 240, none)),
       "Vid Comp=0x01020304 320 x 240 x 24 400000 (230400 bytes)"},
      {MEDIATYPE_Video, FORMAT_VideoInfo, grey,
       "Vid QGRY 320 x 240 x 24 400000 (230400 bytes) lowBit=2, highBit=13"},
      {MEDIATYPE_Video, FORMAT_VideoInfo, greyCut, "Vid QGRY 320 x 240 x 24 400000 (230400 bytes)"},
      {MEDIATYPE_Video, FORMAT_VideoInfo2, Bytes(vih2), "Vid hvc1 320 x 240 x 24 400000 (16:9)"},
      {MEDIATYPE_Video, FORMAT_VideoInfo2, Bytes(cropped),
       "Vid hvc1 320 x 240 x 24 400000 (16:9) rcTarget=(8,312 4,236)"},
      {MEDIATYPE_Audio, FORMAT_WaveFormatEx, Bytes(wfx, sizeof wfx + 2),
       "Aud tag=255, chan=2, 44100Hz, 16 bits, 16000 bytes/s, cbSize=2"},
      {MEDIATYPE_Audio, FORMAT_WaveFormatEx, Bytes(wfx, 16),
       "Aud tag=255, chan=2, 44100Hz, 16 bits, 16000 bytes/s"},
      {MEDIATYPE_Audio, FORMAT_WaveFormatEx, Bytes(wfx, 15),
       "Type=MEDIATYPE_Audio, Subtype=0x6134706D (mp4a), Format=FORMAT_WaveFormatEx"},
  };
  for (const Case& c : cases) {
    TypeWithBlock t(c.major, MEDIASUBTYPE_mp4a, c.format, c.block);
    EXPECT_STREQ(DescribeMediaType(&t.mt), c.text);
  }
}

TEST(DescribeMediaTypeTest, ShortOrMissingVideoBlocksAreNotRead) {
  TypeWithBlock shortInfo(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo, std::vector<BYTE>(87));
  char expected[64];
  std::snprintf(
      expected, sizeof expected, "Vid cbFormat = 87 pbFormat=0x%016llX",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(shortInfo.bytes.data())));
  EXPECT_STREQ(DescribeMediaType(&shortInfo.mt), expected);
  TypeWithBlock missing(MEDIATYPE_Video, GUID_NULL, FORMAT_VideoInfo2, {});
  missing.mt.cbFormat = 200;
  EXPECT_STREQ(DescribeMediaType(&missing.mt), "Vid cbFormat = 200 pbFormat=0x0000000000000000");
}

TEST(DescribeMediaTypeTest, OtherTypesByName) {
  const GUID unknown = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  struct Case {
    GUID major, sub, format;
    const char* text;
  } cases[] = {
      {MEDIATYPE_Stream, MEDIASUBTYPE_QFLV, FORMAT_None,
       "Type=MEDIATYPE_Stream, Subtype=0x564C4651 (QFLV), Format=FORMAT_None"},
      {MEDIATYPE_Video, FourccGuid(0), FORMAT_MPEGVideo,
       "Type=MEDIATYPE_Video, Subtype=RGB, Format=FORMAT_MPEGVideo"},
      {unknown, GUID_NULL, unknown,
       "Type={12345678-9ABC-DEF0-0102-030405060708}, Subtype=GUID_NULL, "
       "Format={12345678-9ABC-DEF0-0102-030405060708}"},
      {FourccGuid(0x736C7275), MEDIASUBTYPE_RGB24, FORMAT_MPEGStreams,
       "Type=MEDIATYPE_URL_STREAM, Subtype={E436EB7D-524F-11CE-9F53-0020AF0BA770}, "
       "Format=FORMAT_MPEGStreams"},
      {GUID_NULL, GUID_NULL, GUID_NULL, "(NULL)"},
  };
  for (const Case& c : cases) {
    TypeWithBlock t(c.major, c.sub, c.format, {});
    EXPECT_STREQ(DescribeMediaType(&t.mt), c.text);
  }
  // Descriptions stand side by side.
  TypeWithBlock a(MEDIATYPE_Audio, GUID_NULL, GUID_NULL, {}),
      v(MEDIATYPE_Video, GUID_NULL, GUID_NULL, {});
  const char* texts[2] = {DescribeMediaType(&a.mt), DescribeMediaType(&v.mt)};
  EXPECT_STREQ(texts[0], "Type=MEDIATYPE_Audio, Subtype=GUID_NULL, Format=GUID_NULL");
  EXPECT_STREQ(DescribeMediaType(nullptr), "NULL");
}

}  // namespace
}  // namespace flvdmx
