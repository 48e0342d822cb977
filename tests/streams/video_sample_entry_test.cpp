#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <optional>

#include "baseclasses/mediatype.h"
#include "streams_test_util.h"
#include "video_units.h"

namespace flvdmx {
namespace {

HRESULT ReadVideo(VideoSampleEntry& entry, const std::vector<uint8_t>& payload,
                  std::optional<uint32_t> dataSize = std::nullopt) {
  auto reader = MakeReader(payload);
  const FlvTag tag =
      TagWithDataSize(dataSize.value_or(static_cast<uint32_t>(payload.size())), kFlvTagVideo);
  return entry.ReadFormatFromTag(reader.get(), 0, &tag, 0);
}

// Sorenson H.263: flags byte, picture start code, version, temporal
// reference, PictureSize, then the size fields when PictureSize is 0 or 1.
std::vector<uint8_t> H263(uint32_t pictureSize, uint32_t width = 0, uint32_t height = 0,
                          uint32_t startCode = 1, size_t cut = 0) {
  BitWriter w;
  w.Bits(0x12, 8).Bits(startCode, 17).Bits(0, 5).Bits(0, 8).Bits(pictureSize, 3);
  if (pictureSize == 0) w.Bits(width, 8).Bits(height, 8);
  if (pictureSize == 1) w.Bits(width, 16).Bits(height, 16);
  std::vector<uint8_t> p = w.Bits(0xFFFF, 16).Bytes();
  if (cut) p.resize(cut);
  return p;
}

// VP6: flags, adjustment byte, intra flag + quantizer, version/profile, MB
// rows and columns, display rows and columns.
std::vector<uint8_t> Vp6(uint8_t first, uint8_t second, uint8_t rows, uint8_t cols) {
  return {0x14, 0x00, first, second, rows, cols, rows, cols, 0x00};
}

TEST(VideoSampleEntryTest, CodecHeaderGivesThePictureSize) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload;
    HRESULT hr;
    int32_t codecId;
    uint16_t width, height;
  } cases[] = {
      {"H263ExplicitWordSizes", H263(1, 1000, 500), S_OK, 2, 1000, 500},
      {"H263PictureSize7", H263(7), VFW_E_INVALID_FILE_FORMAT, 2, 1, 1},
      {"H263WrongStartCode", H263(5, 0, 0, 2), VFW_E_INVALID_FILE_FORMAT, 2, 1, 1},
      {"H263CutInItsHeightField", H263(0, 0xA0, 0x78, 1, 7), kStreamDataShort, 2, 160, 1},
      {"Vp6IntraFrame", Vp6(0x36, 0x46, 30, 40), S_OK, 4, 640, 480},
      {"Vp6InterFrame", Vp6(0xB6, 0x46, 30, 40), S_FALSE, 4, 1, 1},
      {"Vp6UnknownVersion", Vp6(0x36, 0x47, 30, 40), VFW_E_INVALID_FILE_FORMAT, 4, 1, 1},
      // Separated coefficients (the first byte's last bit), and the simple
      // profile: the 16-bit offset of the second partition comes before the
      // size, and must not be read as the size.
      {"Vp6SeparatedCoefficients",
       std::vector<uint8_t>{0x14, 0, 0x37, 0x46, 0x12, 0x34, 30, 40, 30, 40}, S_OK, 4, 640, 480},
      {"Vp6SimpleProfile", {0x14, 0, 0x36, 0x40, 0x02, 0x10, 15, 20, 15, 20}, S_OK, 4, 320, 240},
      {"Vp6SeparatedCutInTheOffset", {0x14, 0, 0x37, 0x46, 0x12}, kStreamDataShort, 4, 1, 1},
      {"Vp6Alpha", {0x15, 0, 0x36, 0x46, 30, 40}, VFW_E_UNSUPPORTED_VIDEO, 5, 1, 1},
      {"AvcTooShortForAConfiguration", {0x17, 0, 0, 0, 0, 1, 0x64, 0, 0x0C}, S_OK, 7, 1, 1},
      {"AvcNalUnitsTag", {0x17, 1, 0, 0, 0, 1, 0x64, 0, 0x0C, 0xFF, 0xE1}, S_OK, 7, 1, 1},
      {"AvcSequenceHeaderWithCompositionTime",
       std::vector<uint8_t>{0x17, 0, 0, 0, 1, 1, 0x64, 0, 0x0C, 0xFF, 0xE1}, S_OK, 7, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoSampleEntry entry;
    EXPECT_EQ(ReadVideo(entry, c.payload), c.hr);
    EXPECT_EQ(entry.m_iCodecID, c.codecId);
    EXPECT_EQ(entry.m_wWidth, c.width);
    EXPECT_EQ(entry.m_wHeight, c.height);
    EXPECT_EQ(entry.m_ConfigBytes.Size(), 0);
  }
}

// VP6 is the one codec the corpus lacks; the others are checked end to end.
TEST(VideoSampleEntryTest, Vp6Fourcc) {
  VideoSampleEntry entry;
  CMediaType mt;
  EXPECT_EQ(entry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_VIDEO) << "nothing read yet";
  entry.m_iCodecID = 4;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(mt.subtype, FourccGuid(MakeFourcc('V', 'P', '6', 'F')));
}

// Writers put HEVC either in the AVC-like layout or in an
// HEVCDecoderConfigurationRecord; the structure tells which, and the box
// says which to the decoder.
TEST(DecoderConfigurationTest, HevcInEitherLayoutGivesThePictureAndItsBox) {
  const std::vector<uint8_t> hvcc = HvccRecord(
      {{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}, {39, {{0x4E, 0x01, 0x80}}}});
  const struct {
    const char* name;
    std::vector<uint8_t> record;
    const char* boxType;
  } cases[] = {
      {"AvcLike", ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01), "avcC"},
      {"Hvcc", hvcc, "hvcC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoSampleEntry entry;
    ASSERT_EQ(ReadVideo(entry, SequenceHeaderPayload(12, c.record)), S_OK);
    EXPECT_EQ(entry.m_wWidth, 320);
    EXPECT_EQ(entry.m_wHeight, 180);
    CMediaType mt;
    ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(mt.subtype, FourccGuid(MakeFourcc('h', 'v', 'c', '1')));
    const uint8_t* box = mt.Format() + sizeof(VIDEOINFOHEADER);
    ASSERT_EQ(mt.FormatLength(), sizeof(VIDEOINFOHEADER) + 8 + c.record.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(box) + 4, 4), c.boxType);
    EXPECT_EQ(box[3], 8 + c.record.size());
    EXPECT_EQ(std::vector<uint8_t>(box + 8, box + 8 + c.record.size()), c.record);
  }
}

TEST(DecoderConfigurationTest, BrokenRecordsAreRefused) {
  const std::vector<uint8_t> avc = ConfigRecord({kH264Sps}, kH264Pps);
  const std::vector<uint8_t> avcPayload = SequenceHeaderPayload(7, avc);
  std::vector<uint8_t> longSps = avc, longPps = avc;
  longSps[7] = 0x40;                   // the SPS claims 64 bytes
  longPps[longPps.size() - 7] = 0x07;  // the PPS claims 7 of its 6 bytes
  std::vector<uint8_t> hevcCount = ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01);
  hevcCount[5] = 0xE4;  // four leading units announced, two there
  const struct {
    const char* name;
    std::vector<uint8_t> payload;
    std::optional<uint32_t> dataSize;
    HRESULT hr;
  } cases[] = {
      {"SpsLength", SequenceHeaderPayload(7, longSps), std::nullopt, VFW_E_INVALID_FILE_FORMAT},
      {"PpsLength", SequenceHeaderPayload(7, longPps), std::nullopt, VFW_E_INVALID_FILE_FORMAT},
      {"NoPps", SequenceHeaderPayload(7, std::vector<uint8_t>(avc.begin(), avc.end() - 8)),
       std::nullopt, VFW_E_INVALID_FILE_FORMAT},
      {"HevcCount", SequenceHeaderPayload(12, hevcCount), std::nullopt, VFW_E_INVALID_FILE_FORMAT},
      {"FileEndsInsideTheRecord", std::vector<uint8_t>(avcPayload.begin(), avcPayload.begin() + 20),
       static_cast<uint32_t>(avcPayload.size()), S_FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoSampleEntry entry;
    EXPECT_EQ(ReadVideo(entry, c.payload, c.dataSize), c.hr);
    EXPECT_EQ(entry.m_wWidth, 1);
  }
}

}  // namespace
}  // namespace flvdmx
