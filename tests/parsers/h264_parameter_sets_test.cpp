// The H.264 side: sequence parameter sets written field by field go through
// CMiniParserH264::ParseParameterSets and the library behind it; the table
// says what stream information comes out, or that the set is turned down.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "h264/q264.h"
#include "parsers/mini_parser_h264.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::AnnexB;
using test::H264PpsUnit;
using test::H264Sps;
using test::H264SpsUnit;

struct H264Case {
  const char* name;
  std::function<void(H264Sps&)> edit;
  HRESULT status;
  uint32_t width = 0, height = 0;
  double frameRate = 0;
  uint32_t aspect = 0, sarWidth = 0, sarHeight = 0;
};

HRESULT ParseSps(const H264Sps& sps, VideoStreamInfo* info) {
  const std::vector<uint8_t> stream = AnnexB({H264SpsUnit(sps), H264PpsUnit()});
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
  ASSERT_EQ(ParseSps(sps, &info), c.status);
  if (c.status != kParameterSetsParsed) {
    EXPECT_EQ(info.m_dwWidth, 12345u);
    return;
  }
  EXPECT_EQ(info.m_dwWidth, c.width);
  EXPECT_EQ(info.m_dwHeight, c.height);
  EXPECT_NEAR(info.m_dFrameRate, c.frameRate, 0.001);
  EXPECT_EQ(info.m_bAspectRatioPresent, c.aspect);
  EXPECT_EQ(info.m_dwSarWidth, c.sarWidth);
  EXPECT_EQ(info.m_dwSarHeight, c.sarHeight);
  EXPECT_EQ(info.m_dwProfile, sps.profile_idc);
  EXPECT_EQ(info.m_dwLevel, sps.level_idc);
  EXPECT_EQ(info.m_dwLumaBitDepth, 0u);
  EXPECT_EQ(info.m_bInterlaced, 0u);
}

void Timing(H264Sps& s, uint32_t ticks, uint32_t scale) {
  s.vui_parameters_present_flag = 1;
  s.timing_info_present_flag = 1;
  s.num_units_in_tick = ticks;
  s.time_scale = scale;
}

void Aspect(H264Sps& s, uint32_t idc, uint32_t w = 0, uint32_t h = 0) {
  s.vui_parameters_present_flag = 1;
  s.aspect_ratio_info_present_flag = 1;
  s.aspect_ratio_idc = idc;
  s.sar_width = w;
  s.sar_height = h;
}

void Hd(H264Sps& s) {
  s.pic_width_in_mbs_minus1 = 119;
  s.pic_height_in_map_units_minus1 = 67;
  s.frame_cropping_flag = 1;
  s.crop_bottom = 4;
}

const HRESULT kOk = kParameterSetsParsed;
const HRESULT kNo = kParameterSetsNotFound;

INSTANTIATE_TEST_SUITE_P(
    Derivation, H264SpsTest,
    ::testing::Values(
        H264Case{"Defaults", [](H264Sps&) {}, kOk, 320, 240, 30.0},
        H264Case{"FullHdIsCroppedTo1080", Hd, kOk, 1920, 1080, 30.0},
        H264Case{"FieldCodingDoublesTheCropUnit",
                 [](H264Sps& s) { Hd(s); s.frame_mbs_only_flag = 0; s.pic_height_in_map_units_minus1 = 33; },
                 kOk, 1920, 1072, 30.0},
        H264Case{"BaselineCropsAsFourTwoZero",
                 [](H264Sps& s) { s.profile_idc = 66; s.frame_cropping_flag = 1; s.crop_bottom = 4; s.crop_right = 3; },
                 kOk, 314, 232, 30.0},
        H264Case{"MonochromeCropsBySamples",
                 [](H264Sps& s) {
                   s.chroma_format_idc = 0; s.frame_cropping_flag = 1; s.crop_left = 1; s.crop_top = 1;
                 },
                 kOk, 319, 239, 30.0},
        H264Case{"FourTwoTwoCropsRowsOneByOne",
                 [](H264Sps& s) {
                   s.profile_idc = 122; s.chroma_format_idc = 2; s.frame_cropping_flag = 1; s.crop_left = 1;
                   s.crop_bottom = 2;
                 },
                 kOk, 318, 238, 30.0},
        H264Case{"FourFourFourCropsBySamples",
                 [](H264Sps& s) {
                   s.profile_idc = 144; s.chroma_format_idc = 3; s.frame_cropping_flag = 1; s.crop_right = 5;
                   s.crop_bottom = 5;
                 },
                 kOk, 315, 235, 30.0},
        H264Case{"HighProfileWithScalingMatrices", [](H264Sps& s) { s.scaling_matrix = true; }, kOk, 320, 240, 30.0},
        H264Case{"ScalingMatrixFallingBackToDefault",
                 [](H264Sps& s) { s.scaling_matrix = true; s.first_delta_scale = -8; },
                 kOk, 320, 240, 30.0},
        H264Case{"PicOrderCntTypeOne",
                 [](H264Sps& s) { s.pic_order_cnt_type = 1; s.num_ref_frames_in_pic_order_cnt_cycle = 255; },
                 kOk, 320, 240, 30.0},
        H264Case{"PicOrderCntTypeTwo", [](H264Sps& s) { s.pic_order_cnt_type = 2; }, kOk, 320, 240, 30.0},
        H264Case{"AspectFromTheTable", [](H264Sps& s) { Aspect(s, 14); }, kOk, 320, 240, 30.0, 1, 4, 3},
        H264Case{"SquareSamplesAreStated", [](H264Sps& s) { Aspect(s, 1); }, kOk, 320, 240, 30.0, 1, 1, 1},
        H264Case{"ReservedAspectIdcGivesNoAspect", [](H264Sps& s) { Aspect(s, 17); }, kOk, 320, 240, 30.0},
        H264Case{"ExtendedSar", [](H264Sps& s) { Aspect(s, 255, 64, 45); }, kOk, 320, 240, 30.0, 1, 64, 45},
        H264Case{"NtscTiming", [](H264Sps& s) { Timing(s, 1001, 60000); }, kOk, 320, 240, 29.97},
        H264Case{"TwoTicksPerFrame", [](H264Sps& s) { Timing(s, 1, 50); }, kOk, 320, 240, 25.0},
        H264Case{"RateAboveHundredFallsBackToThirty", [](H264Sps& s) { Timing(s, 1, 1000); }, kOk, 320, 240, 30.0},
        H264Case{"ZeroTicksFallBackToThirty", [](H264Sps& s) { Timing(s, 0, 50); }, kOk, 320, 240, 30.0},
        H264Case{"ZeroTimeScaleFallsBackToThirty", [](H264Sps& s) { Timing(s, 1, 0); }, kOk, 320, 240, 30.0},
        H264Case{"LargestPictureAnyLevelAllows",
                 [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 1054; s.pic_height_in_map_units_minus1 = 1054; },
                 kOk, 16880, 16880, 30.0}),
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
                 [](H264Sps& s) { s.pic_order_cnt_type = 1; s.num_ref_frames_in_pic_order_cnt_cycle = 256; },
                 kNo},
        H264Case{"MoreThan16RefFrames", [](H264Sps& s) { s.max_num_ref_frames = 17; }, kNo},
        H264Case{"WiderThanAnyLevel", [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 1055; }, kNo},
        H264Case{"HugeWidthCode", [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 0xFFFFFFFEu; }, kNo},
        H264Case{"FieldPictureTallerThanAnyLevel",
                 [](H264Sps& s) { s.frame_mbs_only_flag = 0; s.pic_height_in_map_units_minus1 = 528; },
                 kNo},
        H264Case{"CropWiderThanThePicture",
                 [](H264Sps& s) { s.frame_cropping_flag = 1; s.crop_left = 80; s.crop_right = 80; },
                 kNo},
        H264Case{"CropTallerThanThePicture", [](H264Sps& s) { s.frame_cropping_flag = 1; s.crop_bottom = 0x7FFFFFFF; },
                 kNo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(H264Sps, ForbiddenBitOrOtherUnitTypesAreNotSequenceParameterSets) {
  H264Sps sps;
  std::vector<uint8_t> unit = H264SpsUnit(sps);
  VideoStreamInfo info;
  CMiniParserH264 parser;
  for (uint8_t header : {0xE7, 0x68, 0x65, 0x06}) {
    unit[0] = header;
    const std::vector<uint8_t> stream = AnnexB({unit, H264PpsUnit()});
    EXPECT_EQ(parser.ParseParameterSets(&info, stream.data(), static_cast<uint32_t>(stream.size())), kNo)
        << std::hex << int{header};
  }
  // nal_ref_idc does not matter.
  unit[0] = 0x07;
  const std::vector<uint8_t> stream = AnnexB({unit, H264PpsUnit()});
  EXPECT_EQ(parser.ParseParameterSets(&info, stream.data(), static_cast<uint32_t>(stream.size())), kOk);
}

TEST(H264Sps, WithoutAStartCodeBehindItTheSetIsIncomplete) {
  const std::vector<uint8_t> stream = AnnexB({H264SpsUnit(H264Sps{})});
  VideoStreamInfo info;
  CMiniParserH264 parser;
  EXPECT_EQ(parser.ParseParameterSets(&info, stream.data(), static_cast<uint32_t>(stream.size())),
            kParameterSetsIncomplete);
}

// A set cut short before its VUI gives no usable picture size; one cut
// inside the VUI keeps what was read.
TEST(H264Sps, TruncationIsRejectedBeforeTheVuiAndToleratedInsideIt) {
  H264Sps sps;
  sps.vui_parameters_present_flag = 1;
  sps.aspect_ratio_info_present_flag = 1;
  sps.aspect_ratio_idc = 255;
  sps.sar_width = 4;
  sps.sar_height = 3;
  sps.timing_info_present_flag = 1;
  sps.num_units_in_tick = 1;
  sps.time_scale = 50;
  const std::vector<uint8_t> rbsp = test::H264SpsRbsp(sps);
  Q264SeqParameterSet full;
  ASSERT_EQ(Q264_ParseSeqParameterSet(rbsp.data(), rbsp.size(), &full), Q264ParseResult::kOk);

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

TEST(H264Sps, ProcessingKeepsTheSetByItsId) {
  H264Sps sps;
  sps.seq_parameter_set_id = 31;
  sps.pic_order_cnt_type = 1;
  sps.num_ref_frames_in_pic_order_cnt_cycle = 5;
  std::vector<uint8_t> unit = H264SpsUnit(sps);
  Q264DecoderObject* decoder = Q264_CreateDecoderObject();
  ASSERT_NE(decoder, nullptr);
  Q264NalUnit nal{unit.data(), static_cast<uint32_t>(unit.size()), 0, 3, 7};
  VideoStreamInfo info;
  EXPECT_EQ(Q264_ProcessSPS(decoder, &nal, &info), 1);
  EXPECT_EQ(decoder->sps_present[31], 1u);
  const Q264SeqParameterSet& kept = decoder->sps[31];
  EXPECT_EQ(kept.offset_for_non_ref_pic, -1);
  EXPECT_EQ(kept.offset_for_top_to_bottom_field, 2);
  EXPECT_EQ(kept.offset_for_ref_frame[0], -3);
  EXPECT_EQ(kept.offset_for_ref_frame[4], 1);
  EXPECT_EQ(kept.max_num_ref_frames, 1u);
  Q264_FreeDecoderObject(decoder);
}

TEST(H264Sps, ScalingListsFollowTheDeltas) {
  H264Sps sps;
  sps.scaling_matrix = true;
  sps.first_delta_scale = -8;  // nextScale 0 at j = 0: the default matrix
  const std::vector<uint8_t> rbsp = test::H264SpsRbsp(sps);
  Q264SeqParameterSet s;
  ASSERT_EQ(Q264_ParseSeqParameterSet(rbsp.data(), rbsp.size(), &s), Q264ParseResult::kOk);
  EXPECT_EQ(s.UseDefaultScalingMatrix4x4Flag[0], 1u);
  EXPECT_EQ(s.ScalingList4x4[0][15], 8) << "a zero nextScale repeats lastScale";
  EXPECT_EQ(s.UseDefaultScalingMatrix4x4Flag[1], 0u);
  EXPECT_EQ(s.ScalingList8x8[1][63], 8);
  EXPECT_EQ(s.pic_width_in_mbs_minus1, 19u) << "the lists were read to their end";
}

TEST(Q264, EmptyAndOneByteUnitsKeepTheirLength) {
  uint8_t header = 0x67;
  EXPECT_EQ(Q264_EBSPtoRBSP(&header, 1), 1u);
  EXPECT_EQ(Q264_EBSPtoRBSP(nullptr, 0), 0u);
  Q264DecoderObject* decoder = Q264_CreateDecoderObject();
  ASSERT_NE(decoder, nullptr);
  VideoStreamInfo info;
  Q264NalUnit nal{&header, 1, 0, 3, 7};
  EXPECT_EQ(Q264_ProcessSPS(decoder, &nal, &info), 0);
  EXPECT_EQ(Q264_ProcessSPS(nullptr, &nal, &info), 0);
  Q264_FreeDecoderObject(decoder);
}

}  // namespace
}  // namespace flvdmx
