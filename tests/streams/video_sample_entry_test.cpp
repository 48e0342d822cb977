#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "baseclasses/mediatype.h"
#include "streams/decoder_config.h"
#include "streams_test_util.h"
#include "video_units.h"

namespace flvdmx {
namespace {

HRESULT ReadVideo(VideoSampleEntry& entry, const std::vector<uint8_t>& payload,
                  std::optional<uint32_t> dataSize = std::nullopt) {
  auto reader = MakeReader(payload);
  const FlvTag tag = TagWithDataSize(dataSize.value_or(static_cast<uint32_t>(payload.size())), kFlvTagVideo);
  return entry.ReadFormatFromTag(reader.get(), 0, &tag, 0);
}

// Sorenson H.263: flags byte, picture start code, version, temporal
// reference, PictureSize, then the size fields when PictureSize is 0 or 1.
std::vector<uint8_t> H263Payload(uint32_t pictureSize, uint32_t width = 0, uint32_t height = 0,
                                 uint32_t startCode = 1) {
  BitWriter w;
  w.Put(8, 0x12).Put(17, startCode).Put(5, 0).Put(8, 0).Put(3, pictureSize);
  if (pictureSize == 0) w.Put(8, width).Put(8, height);
  if (pictureSize == 1) w.Put(16, width).Put(16, height);
  w.Put(16, 0xFFFF);  // the rest of the picture header
  return w.Bytes();
}

std::vector<uint8_t> Prefix(std::vector<uint8_t> bytes, size_t n) {
  bytes.resize(n);
  return bytes;
}

// Screen video (1 and 2): block width, image width, block height, image height.
std::vector<uint8_t> ScreenPayload(uint8_t codecId, uint32_t width, uint32_t height) {
  return BitWriter().Put(8, 0x10u | codecId).Put(4, 3).Put(12, width).Put(4, 3).Put(12, height).Put(8, 0).Bytes();
}

// VP6: flags byte, adjustment byte, frame header (intra flag + quantizer,
// version/profile byte, MB rows, MB columns, display rows and columns).
std::vector<uint8_t> Vp6Payload(uint8_t firstHeaderByte, uint8_t secondHeaderByte, uint8_t rows, uint8_t cols) {
  return {0x14, 0x00, firstHeaderByte, secondHeaderByte, rows, cols, rows, cols, 0x00};
}

struct SizeCase {
  const char* name;
  std::vector<uint8_t> payload;
  HRESULT hr;
  int32_t codecId;
  uint16_t width;
  uint16_t height;
};

class VideoHeaderTest : public testing::TestWithParam<SizeCase> {};

TEST_P(VideoHeaderTest, CodecHeaderGivesThePictureSize) {
  const SizeCase& c = GetParam();
  VideoSampleEntry entry;
  EXPECT_EQ(ReadVideo(entry, c.payload), c.hr);
  EXPECT_EQ(entry.m_iCodecID, c.codecId);
  EXPECT_EQ(entry.m_wWidth, c.width);
  EXPECT_EQ(entry.m_wHeight, c.height);
  EXPECT_EQ(entry.m_ConfigBytes.Size(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, VideoHeaderTest,
    testing::Values(
        SizeCase{"H263ExplicitByteSizes", H263Payload(0, 0xA0, 0x78), S_OK, 2, 160, 120},
        SizeCase{"H263ExplicitWordSizes", H263Payload(1, 1000, 500), S_OK, 2, 1000, 500},
        SizeCase{"H263Cif", H263Payload(2), S_OK, 2, 352, 288},
        SizeCase{"H263Qcif", H263Payload(3), S_OK, 2, 176, 144},
        SizeCase{"H263SubQcif", H263Payload(4), S_OK, 2, 128, 96},
        SizeCase{"H263Qvga", H263Payload(5), S_OK, 2, 320, 240},
        SizeCase{"H263QuarterQvga", H263Payload(6), S_OK, 2, 160, 120},
        SizeCase{"H263PictureSize7", H263Payload(7), VFW_E_INVALID_FILE_FORMAT, 2, 1, 1},
        SizeCase{"H263WrongStartCode", H263Payload(5, 0, 0, 2), VFW_E_INVALID_FILE_FORMAT, 2, 1, 1},
        SizeCase{"H263CutInItsHeightField", Prefix(H263Payload(0, 0xA0, 0x78), 7), kStreamDataShort, 2, 160, 1},
        SizeCase{"ScreenVideo", ScreenPayload(3, 160, 120), S_OK, 3, 160, 120},
        SizeCase{"ScreenVideo2", ScreenPayload(6, 4095, 2000), S_OK, 6, 4095, 2000},
        SizeCase{"Vp6IntraFrame", Vp6Payload(0x36, 0x46, 30, 40), S_OK, 4, 640, 480},
        SizeCase{"Vp6InterFrame", Vp6Payload(0xB6, 0x46, 30, 40), S_FALSE, 4, 1, 1},
        SizeCase{"Vp6UnknownVersion", Vp6Payload(0x36, 0x47, 30, 40), VFW_E_INVALID_FILE_FORMAT, 4, 1, 1},
        SizeCase{"Vp6Alpha", {0x15, 0, 0x36, 0x46, 30, 40}, VFW_E_UNSUPPORTED_VIDEO, 5, 1, 1},
        SizeCase{"CodecId1", {0x11, 0, 0, 0}, VFW_E_UNSUPPORTED_VIDEO, 1, 1, 1},
        SizeCase{"CodecId8", {0x18, 0, 0, 0}, VFW_E_UNSUPPORTED_VIDEO, 8, 1, 1},
        SizeCase{"CodecId15", {0x1F, 0, 0, 0}, VFW_E_UNSUPPORTED_VIDEO, 15, 1, 1},
        SizeCase{"AvcTooShortForAConfiguration", {0x17, 0, 0, 0, 0, 1, 0x64, 0, 0x0C}, S_OK, 7, 1, 1},
        SizeCase{"AvcNalUnitsTag", {0x17, 1, 0, 0, 0, 1, 0x64, 0, 0x0C, 0xFF, 0xE1}, S_OK, 7, 1, 1},
        SizeCase{"AvcSequenceHeaderWithCompositionTime", {0x17, 0, 0, 0, 1, 1, 0x64, 0, 0x0C, 0xFF, 0xE1}, S_OK, 7,
                 1, 1}),
    [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST(VideoSampleEntryTest, H263MediaTypeIsAVideoInfoHeaderWithTheFourcc) {
  VideoSampleEntry entry;
  ASSERT_EQ(ReadVideo(entry, H263Payload(0, 0xA0, 0x78)), S_OK);
  entry.SetAvgTimePerFrame(400000);
  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_S263);
  EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(mt.bTemporalCompression, TRUE);
  EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
  EXPECT_EQ(mt.lSampleSize, 1u);
  // rcSource rcTarget dwBitRate dwBitErrorRate AvgTimePerFrame | biSize
  // biWidth biHeight biPlanes biBitCount biCompression biSizeImage
  // biXPelsPerMeter biYPelsPerMeter biClrUsed biClrImportant
  EXPECT_EQ(FormatHex(mt), Unspaced("00000000000000000000000000000000 00000000000000000000000000000000 00000000 "
                                    "00000000 801a060000000000 | 28000000 a0000000 78000000 0100 1800 53323633 "
                                    "00000000 00000000 00000000 00000000 00000000"));
  EXPECT_EQ(entry.GetMaxSampleSize(), 160u * 120 * 3 * 2);
  EXPECT_EQ(entry.GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
}

TEST(VideoSampleEntryTest, EachCodecHasItsFourccSubtype) {
  const struct {
    int32_t codecId;
    const char* fourcc;
  } cases[] = {{2, "S263"}, {3, "FSV1"}, {4, "VP6F"}, {6, "FSV2"}, {7, "avc1"}, {12, "hvc1"}};
  for (const auto& c : cases) {
    VideoSampleEntry entry;
    entry.m_iCodecID = c.codecId;
    CMediaType mt;
    ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK) << c.fourcc;
    const GUID expected = FourccGuid(MakeFourcc(c.fourcc[0], c.fourcc[1], c.fourcc[2], c.fourcc[3]));
    EXPECT_EQ(mt.subtype, expected) << c.fourcc;
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.Format(), sizeof(vih));
    EXPECT_EQ(vih.bmiHeader.biCompression, expected.Data1) << c.fourcc;
  }
  char text[39];
  FormatGuid(MEDIASUBTYPE_avc1, text);
  EXPECT_STREQ(text, "{31637661-0000-0010-8000-00AA00389B71}");
  VideoSampleEntry entry;
  CMediaType mt;
  EXPECT_EQ(entry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_VIDEO);  // nothing read yet
  entry.m_iCodecID = 5;
  EXPECT_EQ(entry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_VIDEO);
}

TEST(VideoSampleEntryTest, MaxSampleSizeIsTwoPictures) {
  VideoSampleEntry entry;
  EXPECT_EQ(entry.GetMaxSampleSize(), 6u);  // 1 x 1 at 24 bits
  entry.m_wWidth = 640, entry.m_wHeight = 480;
  EXPECT_EQ(entry.GetMaxSampleSize(), 1843200u);
  entry.m_wWidth = 65535, entry.m_wHeight = 65535;
  EXPECT_EQ(entry.GetMaxSampleSize(), 0x7FFFFFFFu);
}

struct ConfigCase {
  const char* name;
  uint8_t codecId;
  std::vector<uint8_t> record;
  uint16_t width;
  uint16_t height;
};

class DecoderConfigurationTest : public testing::TestWithParam<ConfigCase> {};

TEST_P(DecoderConfigurationTest, RecordBecomesTheAvcCBoxAndParametersGiveTheSize) {
  const ConfigCase& c = GetParam();
  const std::vector<uint8_t> payload = SequenceHeaderPayload(c.codecId, c.record);
  VideoSampleEntry entry;
  ASSERT_EQ(ReadVideo(entry, payload), S_OK);
  EXPECT_EQ(entry.m_wWidth, c.width);
  EXPECT_EQ(entry.m_wHeight, c.height);
  EXPECT_EQ(entry.m_wBitCount, 24);
  EXPECT_TRUE(c.codecId == 7 ? entry.m_pH264Parser != nullptr : entry.m_pH265Parser != nullptr);

  const uint32_t cbBox = static_cast<uint32_t>(payload.size()) + 3;
  std::vector<uint8_t> box = {static_cast<uint8_t>(cbBox >> 24), static_cast<uint8_t>(cbBox >> 16),
                              static_cast<uint8_t>(cbBox >> 8), static_cast<uint8_t>(cbBox), 'a', 'v', 'c', 'C'};
  box.insert(box.end(), c.record.begin(), c.record.end());
  ASSERT_EQ(static_cast<uint32_t>(entry.m_ConfigBytes.Size()), cbBox);
  EXPECT_EQ(Hex(entry.m_ConfigBytes.Data(), entry.m_ConfigBytes.Size()), Hex(box));

  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  ASSERT_EQ(mt.cbFormat, 88 + cbBox);
  VIDEOINFOHEADER vih;
  std::memcpy(&vih, mt.Format(), sizeof(vih));
  EXPECT_EQ(vih.bmiHeader.biSize, 40 + cbBox);
  EXPECT_EQ(vih.bmiHeader.biWidth, c.width);
  EXPECT_EQ(vih.bmiHeader.biHeight, c.height);
  EXPECT_EQ(Hex(mt.Format() + 88, cbBox), Hex(box));

  // A second scan sets the box anew rather than appending to it.
  ASSERT_EQ(ReadVideo(entry, payload), S_OK);
  EXPECT_EQ(static_cast<uint32_t>(entry.m_ConfigBytes.Size()), cbBox);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DecoderConfigurationTest,
    testing::Values(ConfigCase{"Avc", 7, ConfigRecord({kH264Sps}, kH264Pps), 320, 180},
                    ConfigCase{"HevcInTheAvcLayout", 12, ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01), 320,
                               180},
                    // DataSize 40: a 43-byte box. Units that no parser
                    // recognises: the size becomes 0 x 0.
                    ConfigCase{"AvcDataSize40", 7, ConfigRecord({std::vector<uint8_t>(18, 0x21)}, {0x68, 1, 2, 3, 4, 5}),
                               0, 0}),
    [](const testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

TEST(DecoderConfigurationTest, UnitLengthRunningPastTheRecordIsRefused) {
  std::vector<uint8_t> longSps = ConfigRecord({kH264Sps}, kH264Pps);
  longSps[7] = 0x40;  // the SPS claims 64 bytes
  std::vector<uint8_t> longPps = ConfigRecord({kH264Sps}, kH264Pps);
  longPps[longPps.size() - 7] = 0x07;  // the PPS claims 7 of its 6 bytes
  std::vector<uint8_t> noPps = ConfigRecord({kH264Sps}, kH264Pps);
  noPps.resize(noPps.size() - 8);  // ends after the SPS
  std::vector<uint8_t> hevcTooManyUnits = ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01);
  hevcTooManyUnits[5] = 0xE4;  // four leading units announced, two there
  const struct {
    const char* name;
    uint8_t codecId;
    std::vector<uint8_t> record;
  } cases[] = {
      {"SpsLength", 7, longSps}, {"PpsLength", 7, longPps}, {"NoPps", 7, noPps}, {"HevcCount", 12, hevcTooManyUnits}};
  for (const auto& c : cases) {
    VideoSampleEntry entry;
    EXPECT_EQ(ReadVideo(entry, SequenceHeaderPayload(c.codecId, c.record)), VFW_E_INVALID_FILE_FORMAT) << c.name;
    EXPECT_EQ(entry.m_wWidth, 1) << c.name;
  }
}

TEST(DecoderConfigurationTest, ParameterSetsAreHandedOverInStartCodeForm) {
  const std::vector<uint8_t> record = ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01);
  CBuffer units;
  ASSERT_EQ(AppendParameterSetsFromRecord(record.data(), record.size(), true, &units), S_OK);
  std::vector<uint8_t> expected;
  for (const auto* u : {&kH265Vps, &kH265Sps, &kH265Pps}) {
    expected.insert(expected.end(), {0, 0, 1});
    expected.insert(expected.end(), u->begin(), u->end());
  }
  EXPECT_EQ(Hex(units.Data(), units.Size()), Hex(expected));
  EXPECT_EQ(AppendParameterSetsFromRecord(record.data(), 5, true, &units), VFW_E_INVALID_FILE_FORMAT);
}

TEST(DecoderConfigurationTest, FileEndingInsideTheRecordIsAShortRead) {
  const std::vector<uint8_t> payload = SequenceHeaderPayload(7, ConfigRecord({kH264Sps}, kH264Pps));
  std::vector<uint8_t> cut(payload.begin(), payload.begin() + 20);
  VideoSampleEntry entry;
  EXPECT_EQ(ReadVideo(entry, cut, static_cast<uint32_t>(payload.size())), S_FALSE);
  EXPECT_EQ(entry.m_wWidth, 1);
}

}  // namespace
}  // namespace flvdmx
