// H.264 sequence parameter sets written field by field: derivations the
// ffmpeg-made corpus cannot reach and every limit that turns a set down.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "h264/q264.h"
#include "parsers/mini_parser_h264.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::H264Sps;

struct H264Case {
  const char* name;
  std::function<void(H264Sps&)> edit;
  HRESULT status;
  uint32_t width = 0, height = 0;
  double frameRate = 0;
  uint32_t sarWidth = 0, sarHeight = 0;  // 0: no aspect stated
};

HRESULT ParseUnit(const std::vector<uint8_t>& sps, VideoStreamInfo* info) {
  const std::vector<uint8_t> stream = test::AnnexB({sps, test::H264PpsUnit()});
  CMiniParserH264 parser;
  return parser.ParseParameterSets(info, stream.data(), static_cast<uint32_t>(stream.size()));
}

class H264SpsTest : public ::testing::TestWithParam<H264Case> {};

TEST_P(H264SpsTest, GivesTheStreamInformationOrRejectsTheSet) {
  const H264Case& c = GetParam();
  H264Sps sps;
  c.edit(sps);
  VideoStreamInfo info;
  info.m_dwWidth = 12345;  // must survive a rejection
  ASSERT_EQ(ParseUnit(test::H264SpsUnit(sps), &info), c.status);
  if (c.status != kParameterSetsParsed) {
    EXPECT_EQ(info.m_dwWidth, 12345u);
    return;
  }
  EXPECT_EQ(info.m_dwWidth, c.width);
  EXPECT_EQ(info.m_dwHeight, c.height);
  EXPECT_NEAR(info.m_dFrameRate, c.frameRate, 0.001);
  EXPECT_EQ(info.m_bAspectRatioPresent, c.sarWidth ? 1u : 0u);
  EXPECT_EQ(info.m_dwSarWidth, c.sarWidth);
  EXPECT_EQ(info.m_dwSarHeight, c.sarHeight);
}

void Timing(H264Sps& s, uint32_t ticks, uint32_t scale) {
  s.vui_parameters_present_flag = s.timing_info_present_flag = 1;
  s.num_units_in_tick = ticks;
  s.time_scale = scale;
}

void Aspect(H264Sps& s, uint32_t idc, uint32_t w = 0, uint32_t h = 0) {
  s.vui_parameters_present_flag = s.aspect_ratio_info_present_flag = 1;
  s.aspect_ratio_idc = idc;
  s.sar_width = w;
  s.sar_height = h;
}

void Crop(H264Sps& s, uint32_t left, uint32_t right, uint32_t top, uint32_t bottom) {
  s.frame_cropping_flag = 1;
  s.crop_left = left, s.crop_right = right, s.crop_top = top, s.crop_bottom = bottom;
}

const HRESULT kOk = kParameterSetsParsed;
const HRESULT kNo = kParameterSetsNotFound;

INSTANTIATE_TEST_SUITE_P(
    Derivation, H264SpsTest,
    ::testing::Values(
        H264Case{"FieldCodingDoublesTheCropUnit",
                 [](H264Sps& s) {
                   s.frame_mbs_only_flag = 0, s.pic_height_in_map_units_minus1 = 7;
                   Crop(s, 0, 0, 0, 2);
                 },
                 kOk, 320, 248, 30.0},
        H264Case{"FourTwoTwoCropsRowsOneByOne",
                 [](H264Sps& s) { s.profile_idc = 122; s.chroma_format_idc = 2; Crop(s, 1, 0, 0, 2); }, kOk, 318,
                 238, 30.0},
        H264Case{"FourFourFourCropsBySamples",
                 [](H264Sps& s) { s.profile_idc = 144; s.chroma_format_idc = 3; Crop(s, 0, 5, 0, 5); }, kOk, 315,
                 235, 30.0},
        H264Case{"ScalingMatrixFallingBackToDefault",
                 [](H264Sps& s) { s.scaling_matrix = true; s.first_delta_scale = -8; }, kOk, 320, 240, 30.0},
        H264Case{"ExtendedSar", [](H264Sps& s) { Aspect(s, 255, 64, 45); }, kOk, 320, 240, 30.0, 64, 45},
        H264Case{"TwoTicksPerFrame", [](H264Sps& s) { Timing(s, 1, 50); }, kOk, 320, 240, 25.0},
        H264Case{"RateAboveHundredFallsBackToThirty", [](H264Sps& s) { Timing(s, 1, 1000); }, kOk, 320, 240, 30.0},
        H264Case{"LargestPictureAnyLevelAllows",
                 [](H264Sps& s) { s.pic_width_in_mbs_minus1 = s.pic_height_in_map_units_minus1 = 1054; }, kOk,
                 16880, 16880, 30.0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rejected, H264SpsTest,
    ::testing::Values(
        H264Case{"High444PredictiveProfile", [](H264Sps& s) { s.profile_idc = 244; s.chroma_format_idc = 3; }, kNo},
        H264Case{"ScalableBaselineProfile", [](H264Sps& s) { s.profile_idc = 83; }, kNo},
        H264Case{"UnknownProfile", [](H264Sps& s) { s.profile_idc = 0; }, kNo},
        H264Case{"SpsIdAbove31", [](H264Sps& s) { s.seq_parameter_set_id = 32; }, kNo},
        H264Case{"ChromaFormatAbove3", [](H264Sps& s) { s.chroma_format_idc = 4; }, kNo},
        H264Case{"LumaDeeperThan14Bits", [](H264Sps& s) { s.bit_depth_luma_minus8 = 7; }, kNo},
        H264Case{"ChromaDeeperThan14Bits", [](H264Sps& s) { s.bit_depth_chroma_minus8 = 7; }, kNo},
        H264Case{"DeltaScaleOutOfRange", [](H264Sps& s) { s.scaling_matrix = true; s.first_delta_scale = 128; }, kNo},
        H264Case{"Log2MaxFrameNumAbove16", [](H264Sps& s) { s.log2_max_frame_num_minus4 = 13; }, kNo},
        H264Case{"PicOrderCntTypeAbove2", [](H264Sps& s) { s.pic_order_cnt_type = 3; }, kNo},
        H264Case{"Log2MaxPocLsbAbove16", [](H264Sps& s) { s.log2_max_pic_order_cnt_lsb_minus4 = 13; }, kNo},
        H264Case{"PocCycleLongerThan255",
                 [](H264Sps& s) { s.pic_order_cnt_type = 1; s.num_ref_frames_in_pic_order_cnt_cycle = 256; }, kNo},
        H264Case{"MoreThan16RefFrames", [](H264Sps& s) { s.max_num_ref_frames = 17; }, kNo},
        H264Case{"WiderThanAnyLevel", [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 1055; }, kNo},
        H264Case{"HugeWidthCode", [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 0xFFFFFFFEu; }, kNo},
        H264Case{"FieldPictureTallerThanAnyLevel",
                 [](H264Sps& s) { s.frame_mbs_only_flag = 0; s.pic_height_in_map_units_minus1 = 528; }, kNo},
        H264Case{"CropWiderThanThePicture", [](H264Sps& s) { Crop(s, 80, 80, 0, 0); }, kNo},
        H264Case{"CropTallerThanThePicture", [](H264Sps& s) { Crop(s, 0, 0, 0, 0x7FFFFFFF); }, kNo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(H264Sps, OnlyUnitType7WithoutTheForbiddenBitIsASequenceParameterSet) {
  std::vector<uint8_t> unit = test::H264SpsUnit({});
  VideoStreamInfo info;
  for (uint8_t header : {0xE7, 0x68, 0x65, 0x07}) {
    unit[0] = header;
    EXPECT_EQ(ParseUnit(unit, &info), header == 0x07 ? kOk : kNo) << std::hex << int{header};
  }
}

// A set cut short before its VUI gives no usable picture size; one cut
// inside the VUI keeps what was read.
TEST(H264Sps, TruncationIsRejectedBeforeTheVuiAndToleratedInsideIt) {
  H264Sps sps;
  Aspect(sps, 255, 4, 3);
  Timing(sps, 1, 50);
  const std::vector<uint8_t> rbsp = test::H264SpsRbsp(sps);
  int accepted = 0;
  for (size_t cut = 0; cut < rbsp.size(); ++cut) {
    std::vector<uint8_t> unit{0x67};
    unit.insert(unit.end(), rbsp.begin(), rbsp.begin() + cut);
    Q264DecoderObject* decoder = Q264_CreateDecoderObject();
    ASSERT_NE(decoder, nullptr);
    Q264NalUnit nal{unit.data(), static_cast<uint32_t>(unit.size()), 0, 3, 7};
    VideoStreamInfo info;
    const int result = Q264_ProcessSPS(decoder, &nal, &info);
    Q264_FreeDecoderObject(decoder);
    Q264SeqParameterSet partial;
    ASSERT_EQ(Q264_ParseSeqParameterSet(rbsp.data(), cut, &partial), Q264ParseResult::kTruncated) << cut;
    EXPECT_EQ(result, partial.vui_parameters_present_flag ? 1 : 0) << "cut at " << cut;
    if (result == 1) {
      ++accepted;
      EXPECT_EQ(info.m_dwWidth, 320u);
      EXPECT_EQ(info.m_dwHeight, 240u);
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace flvdmx
