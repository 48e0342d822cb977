// The H.265 side: video, sequence and picture parameter sets written field
// by field go through CMiniParserH265::ParseParameterSets; the tables say
// what stream information comes out or that the group is turned down, and
// the records show that every structure was read to its right end.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "parsers/mini_parser_h265.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::AnnexB;
using test::H265Pps;
using test::H265Sps;
using test::H265Vps;

struct H265Sets {
  H265Vps vps;
  H265Sps sps;
  H265Pps pps;
};

HRESULT ParseSets(CMiniParserH265& parser, const H265Sets& sets, VideoStreamInfo* info) {
  const std::vector<uint8_t> stream =
      AnnexB({test::H265VpsUnit(sets.vps), test::H265SpsUnit(sets.sps), test::H265PpsUnit(sets.pps)});
  return parser.ParseParameterSets(info, stream.data(), static_cast<uint32_t>(stream.size()));
}

struct H265Case {
  const char* name;
  std::function<void(H265Sets&)> edit;
  HRESULT status;
  uint32_t width = 0, height = 0;
  double frameRate = 0;
  uint32_t aspect = 0, sarWidth = 0, sarHeight = 0;
  uint32_t lumaBits = 8, chromaBits = 8;
  uint32_t interlaced = 0;
};

class H265SetsTest : public ::testing::TestWithParam<H265Case> {};

TEST_P(H265SetsTest, GivesTheStreamInformationOrRejectsTheGroup) {
  const H265Case& c = GetParam();
  H265Sets sets;
  c.edit(sets);
  CMiniParserH265 parser;
  VideoStreamInfo info;
  info.m_dwWidth = 12345;  // must survive a rejection
  ASSERT_EQ(ParseSets(parser, sets, &info), c.status);
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
  EXPECT_EQ(info.m_dwLumaBitDepth, c.lumaBits);
  EXPECT_EQ(info.m_dwChromaBitDepth, c.chromaBits);
  EXPECT_EQ(info.m_bInterlaced, c.interlaced);
  EXPECT_EQ(info.m_dwProfile, sets.vps.ptl.general_profile_idc);
  EXPECT_EQ(info.m_dwLevel, sets.vps.ptl.general_level_idc);
  // The last field of each set was read from the right place.
  EXPECT_EQ(parser.GetSps().sps_extension_present_flag, 0u);
  EXPECT_EQ(parser.GetSps().sps_temporal_mvp_enabled_flag, 1u);
  EXPECT_EQ(parser.GetPps().pps_loop_filter_across_slices_enabled_flag, 1u);
  EXPECT_EQ(parser.GetPps().pps_cb_qp_offset, -2);
  EXPECT_EQ(parser.GetPps().pps_cr_qp_offset, 3);
}

const HRESULT kOk = kParameterSetsParsed;
const HRESULT kNo = kParameterSetsNotFound;

void VuiTiming(H265Sets& s, uint32_t ticks, uint32_t scale) {
  s.sps.vui_parameters_present_flag = 1;
  s.sps.vui_timing_info_present_flag = 1;
  s.sps.vui_num_units_in_tick = ticks;
  s.sps.vui_time_scale = scale;
}

void Aspect(H265Sets& s, uint32_t idc, uint32_t w = 0, uint32_t h = 0) {
  s.sps.vui_parameters_present_flag = 1;
  s.sps.aspect_ratio_info_present_flag = 1;
  s.sps.aspect_ratio_idc = idc;
  s.sps.sar_width = w;
  s.sps.sar_height = h;
}

INSTANTIATE_TEST_SUITE_P(
    Derivation, H265SetsTest,
    ::testing::Values(
        H265Case{"Defaults", [](H265Sets&) {}, kOk, 320, 240, 30.0},
        H265Case{"FullHdWindowedTo1080",
                 [](H265Sets& s) {
                   s.sps.pic_width_in_luma_samples = 1920; s.sps.pic_height_in_luma_samples = 1088;
                   s.sps.conformance_window_flag = 1; s.sps.conf_bottom = 4;
                 },
                 kOk, 1920, 1080, 30.0},
        H265Case{"FourFourFourWindowCountsSamples",
                 [](H265Sets& s) {
                   s.vps.ptl.general_profile_idc = 4; s.sps.chroma_format_idc = 3; s.sps.conformance_window_flag = 1;
                   s.sps.conf_right = 8; s.sps.conf_top = 3;
                 },
                 kOk, 312, 237, 30.0},
        H265Case{"FourTwoTwoWindowHalvesOnlyColumns",
                 [](H265Sets& s) {
                   s.sps.chroma_format_idc = 2; s.sps.conformance_window_flag = 1; s.sps.conf_left = 1;
                   s.sps.conf_bottom = 8;
                 },
                 kOk, 318, 232, 30.0},
        H265Case{"SeparateColourPlanes",
                 [](H265Sets& s) {
                   s.sps.chroma_format_idc = 3; s.sps.separate_colour_plane_flag = 1;
                   s.sps.conformance_window_flag = 1; s.sps.conf_right = 2; s.sps.conf_bottom = 2;
                 },
                 kOk, 318, 238, 30.0},
        H265Case{"DefaultDisplayWindowLeavesTheSize",
                 [](H265Sets& s) {
                   s.sps.vui_parameters_present_flag = 1; s.sps.default_display_window_flag = 1;
                 },
                 kOk, 320, 240, 30.0},
        H265Case{"VpsTimingWinsOverVui",
                 [](H265Sets& s) {
                   s.vps.vps_timing_info_present_flag = 1; s.vps.vps_num_units_in_tick = 1001;
                   s.vps.vps_time_scale = 30000; VuiTiming(s, 1, 50);
                 },
                 kOk, 320, 240, 29.97003},
        H265Case{"VuiTimingIsNotHalved", [](H265Sets& s) { VuiTiming(s, 1, 50); }, kOk, 320, 240, 50.0},
        H265Case{"RatesAboveAHundredStay", [](H265Sets& s) { VuiTiming(s, 1, 1000); }, kOk, 320, 240, 1000.0},
        H265Case{"ZeroTicksInTheVpsFallToTheVui",
                 [](H265Sets& s) {
                   s.vps.vps_timing_info_present_flag = 1; s.vps.vps_num_units_in_tick = 0; VuiTiming(s, 1, 24);
                 },
                 kOk, 320, 240, 24.0},
        H265Case{"ZeroTicksInTheVuiFallToThirty", [](H265Sets& s) { VuiTiming(s, 0, 24); }, kOk, 320, 240, 30.0},
        H265Case{"SquareSamplesNeedNoAspect", [](H265Sets& s) { Aspect(s, 1); }, kOk, 320, 240, 30.0},
        H265Case{"AspectFromTheTable", [](H265Sets& s) { Aspect(s, 2); }, kOk, 320, 240, 30.0, 1, 12, 11},
        H265Case{"LastTableEntry", [](H265Sets& s) { Aspect(s, 16); }, kOk, 320, 240, 30.0, 1, 2, 1},
        H265Case{"ReservedAspectIdc", [](H265Sets& s) { Aspect(s, 17); }, kOk, 320, 240, 30.0},
        H265Case{"ExtendedSar", [](H265Sets& s) { Aspect(s, 255, 64, 45); }, kOk, 320, 240, 30.0, 1, 64, 45},
        H265Case{"TenBitLuma",
                 [](H265Sets& s) {
                   s.vps.ptl.general_profile_idc = 2; s.sps.bit_depth_luma_minus8 = 2;
                   s.sps.bit_depth_chroma_minus8 = 4;
                 },
                 kOk, 320, 240, 30.0, 0, 0, 0, 10, 12},
        H265Case{"InterlacedSource",
                 [](H265Sets& s) {
                   s.vps.ptl.general_progressive_source_flag = 0; s.vps.ptl.general_interlaced_source_flag = 1;
                 },
                 kOk, 320, 240, 30.0, 0, 0, 0, 8, 8, 1},
        H265Case{"ProfileAndLevelComeFromTheVps",
                 [](H265Sets& s) {
                   s.vps.ptl.general_profile_idc = 2; s.vps.ptl.general_level_idc = 120;
                   s.sps.ptl.general_profile_idc = 1; s.sps.ptl.general_level_idc = 30;
                   s.sps.ptl.general_progressive_source_flag = 0;
                 },
                 kOk, 320, 240, 30.0},
        H265Case{"SubLayersWithTheirOwnProfiles",
                 [](H265Sets& s) {
                   s.vps.vps_max_sub_layers_minus1 = 6; s.sps.sps_max_sub_layers_minus1 = 6;
                   s.vps.vps_timing_info_present_flag = 1; s.vps.vps_time_scale = 60;
                   s.vps.vps_num_hrd_parameters = 1; VuiTiming(s, 1, 25); s.sps.vui_hrd_parameters_present_flag = 1;
                 },
                 kOk, 320, 240, 60.0},
        H265Case{"SubLayersWithOnlyLevels",
                 [](H265Sets& s) {
                   s.vps.vps_max_sub_layers_minus1 = 3; s.vps.ptl.sub_layer_flags = 2;
                   s.sps.sps_max_sub_layers_minus1 = 2; s.sps.ptl.sub_layer_flags = 0;
                 },
                 kOk, 320, 240, 30.0},
        H265Case{"LayerSetsAndSeveralHrdEntries",
                 [](H265Sets& s) {
                   s.vps.vps_max_layer_id = 40;  // flags beyond the 32 kept are read and dropped
                   s.vps.vps_num_layer_sets_minus1 = 40;
                   s.vps.vps_timing_info_present_flag = 1;
                   s.vps.vps_num_hrd_parameters = 3;
                 },
                 kOk, 320, 240, 25.0},
        H265Case{"VuiWithHrdAndRestrictions",
                 [](H265Sets& s) {
                   VuiTiming(s, 1, 25); s.sps.vui_hrd_parameters_present_flag = 1; s.sps.vui_hrd_cpb_cnt_minus1 = 31;
                   s.sps.bitstream_restriction_flag = 1;
                 },
                 kOk, 320, 240, 25.0},
        H265Case{"ScalingListsInBothSets",
                 [](H265Sets& s) {
                   s.sps.scaling_list_enabled_flag = 1; s.sps.sps_scaling_list_data_present_flag = 1;
                   s.pps.pps_scaling_list_data_present_flag = 1;
                 },
                 kOk, 320, 240, 30.0},
        H265Case{"PcmAndLongTermPictures",
                 [](H265Sets& s) { s.sps.pcm_enabled_flag = 1; s.sps.lt_ref_pic_poc_lsb_sps = {1, 200, 255}; },
                 kOk, 320, 240, 30.0},
        H265Case{"TilesWithExplicitSizes",
                 [](H265Sets& s) {
                   s.pps.tiles_enabled_flag = 1; s.pps.num_tile_columns_minus1 = 3; s.pps.num_tile_rows_minus1 = 2;
                   s.pps.uniform_spacing_flag = 0; s.pps.deblocking_filter_control_present_flag = 1;
                 },
                 kOk, 320, 240, 30.0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rejected, H265SetsTest,
    ::testing::Values(
        H265Case{"VpsWithEightSubLayers", [](H265Sets& s) { s.vps.vps_max_sub_layers_minus1 = 7; }, kNo},
        H265Case{"SpsWithEightSubLayers", [](H265Sets& s) { s.sps.sps_max_sub_layers_minus1 = 7; }, kNo},
        H265Case{"ReservedLayerId", [](H265Sets& s) { s.vps.vps_max_layer_id = 63; }, kNo},
        H265Case{"MoreThan1024LayerSets", [](H265Sets& s) { s.vps.vps_num_layer_sets_minus1 = 1024; }, kNo},
        H265Case{"MoreHrdEntriesThanLayerSets",
                 [](H265Sets& s) { s.vps.vps_timing_info_present_flag = 1; s.vps.vps_num_hrd_parameters = 2; },
                 kNo},
        H265Case{"ThirtyThreeCodedPictureBuffers",
                 [](H265Sets& s) {
                   VuiTiming(s, 1, 25); s.sps.vui_hrd_parameters_present_flag = 1; s.sps.vui_hrd_cpb_cnt_minus1 = 32;
                 },
                 kNo},
        H265Case{"SpsIdAbove15", [](H265Sets& s) { s.sps.sps_seq_parameter_set_id = 16; }, kNo},
        H265Case{"ChromaFormatAbove3", [](H265Sets& s) { s.sps.chroma_format_idc = 4; }, kNo},
        H265Case{"LumaDeeperThan16Bits", [](H265Sets& s) { s.sps.bit_depth_luma_minus8 = 9; }, kNo},
        H265Case{"PocLsbLongerThan16Bits", [](H265Sets& s) { s.sps.log2_max_pic_order_cnt_lsb_minus4 = 13; }, kNo},
        H265Case{"DpbLargerThan16", [](H265Sets& s) { s.sps.sps_max_dec_pic_buffering_minus1 = 16; }, kNo},
        H265Case{"WindowWiderThanThePicture",
                 [](H265Sets& s) { s.sps.conformance_window_flag = 1; s.sps.conf_left = 80; s.sps.conf_right = 80; },
                 kNo},
        H265Case{"WindowWrappingAround",
                 [](H265Sets& s) {
                   s.sps.conformance_window_flag = 1; s.sps.conf_top = 0x80000000u; s.sps.conf_bottom = 0x80000000u;
                 },
                 kNo},
        H265Case{"SixtyFiveReferencePictureSets",
                 [](H265Sets& s) { s.sps.num_short_term_ref_pic_sets_override = 65; }, kNo},
        H265Case{"MorePicturesThanTheDpbHolds",
                 [](H265Sets& s) {
                   s.sps.sps_max_dec_pic_buffering_minus1 = 2;
                   s.sps.rps = {test::H265Rps{false, {{0, 1}, {0, 1}}, {{0, 1}}}};
                 },
                 kNo},
        H265Case{"ThirtyThreeLongTermPictures",
                 [](H265Sets& s) { s.sps.lt_ref_pic_poc_lsb_sps = std::vector<uint32_t>(33, 1); }, kNo},
        H265Case{"InitQpAbove51", [](H265Sets& s) { s.pps.init_qp_minus26 = 26; }, kNo},
        H265Case{"TooManyTileColumns",
                 [](H265Sets& s) { s.pps.tiles_enabled_flag = 1; s.pps.num_tile_columns_minus1 = 1056; },
                 kNo},
        H265Case{"DeblockingOffsetOutOfRange",
                 [](H265Sets& s) { s.pps.deblocking_filter_control_present_flag = 1; s.pps.pps_beta_offset_div2 = 7; },
                 kNo}),
    [](const auto& info) { return std::string(info.param.name); });

HRESULT ParseUnits(CMiniParserH265& parser, std::initializer_list<std::vector<uint8_t>> units,
                   VideoStreamInfo* info) {
  const std::vector<uint8_t> stream = AnnexB(units);
  return parser.ParseParameterSets(info, stream.data(), static_cast<uint32_t>(stream.size()));
}

TEST(H265Sets, KindsMayComeInAnyOrderButAllThreeAreNeeded) {
  const auto vps = test::H265VpsUnit({}), sps = test::H265SpsUnit({}), pps = test::H265PpsUnit({});
  const std::vector<uint8_t> sei{0x4E, 0x01, 0x05, 0x02, 0xAA, 0xBB, 0x80};
  CMiniParserH265 parser;
  VideoStreamInfo info;
  EXPECT_EQ(ParseUnits(parser, {vps, pps, sps, sei}, &info), kOk);
  EXPECT_EQ(ParseUnits(parser, {sei, pps, sei, sps, vps, sei}, &info), kOk);
  // A sequence (or video) parameter set needs a start code after it.
  EXPECT_EQ(ParseUnits(parser, {vps, pps, sps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {vps, sps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {vps, pps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {sps, pps, sei}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {}, &info), kNo);
  EXPECT_EQ(parser.ParseParameterSets(&info, nullptr, 0), kNo);
}

TEST(H265Sets, ForbiddenBitHidesAUnit) {
  auto sps = test::H265SpsUnit({});
  sps[0] |= 0x80;
  CMiniParserH265 parser;
  VideoStreamInfo info;
  EXPECT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), sps, test::H265PpsUnit({})}, &info), kNo);
}

TEST(H265Sets, TooShortUnitEndsTheSearch) {
  CMiniParserH265 parser;
  VideoStreamInfo info;
  // Fewer than nine bytes from the last start code.
  EXPECT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit({}), {0x44, 0x01, 0xC1}}, &info), kNo);
}

TEST(H265Sets, PpsQpIsSigned) {
  CMiniParserH265 parser;
  VideoStreamInfo info;
  H265Pps pps;
  pps.init_qp_minus26 = -1;  // codeNum 2
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit({}), test::H265PpsUnit(pps)}, &info), kOk);
  EXPECT_EQ(parser.GetPps().init_qp_minus26, -1);
  pps.init_qp_minus26 = -74;
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit({}), test::H265PpsUnit(pps)}, &info), kOk);
  EXPECT_EQ(parser.GetPps().init_qp_minus26, -74);
}

TEST(H265Sets, TileSizesAreKeptUntilTheNextSet) {
  CMiniParserH265 parser;
  VideoStreamInfo info;
  H265Pps pps;
  pps.tiles_enabled_flag = 1;
  pps.num_tile_columns_minus1 = 3;
  pps.num_tile_rows_minus1 = 2;
  pps.uniform_spacing_flag = 0;
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit({}), test::H265PpsUnit(pps)}, &info), kOk);
  const H265PicParameterSet& p = parser.GetPps();
  ASSERT_TRUE(p.column_width_minus1 && p.row_height_minus1);
  EXPECT_EQ(p.column_width_minus1[0], 1u);
  EXPECT_EQ(p.column_width_minus1[2], 3u);
  EXPECT_EQ(p.row_height_minus1[1], 3u);
  EXPECT_EQ(p.loop_filter_across_tiles_enabled_flag, 1u);
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit({}), test::H265PpsUnit({})}, &info), kOk);
  EXPECT_FALSE(parser.GetPps().column_width_minus1);
  EXPECT_EQ(parser.GetPps().uniform_spacing_flag, 1u);
}

TEST(H265Sets, ReferencePictureSetsArePredictedFromTheOneBefore) {
  H265Sps sps;
  test::H265Rps coded{false, {{0, 1}, {1, 1}}, {{0, 1}}};  // S0: -1, -3; S1: +1
  test::H265Rps predicted;
  predicted.inter = true;
  predicted.delta_rps_sign = 1;  // deltaRps = -1
  // One flag per picture of the reference set (S0, then S1), then one for
  // the reference picture itself; the second S0 picture (-3 - 1) is dropped.
  predicted.flags = {{1, 1}, {0, 0}, {1, 1}, {1, 1}};
  test::H265Rps again = predicted;
  again.flags = {{1, 1}, {1, 1}, {1, 1}};
  sps.rps = {coded, predicted, again};
  CMiniParserH265 parser;
  VideoStreamInfo info;
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit(sps), test::H265PpsUnit({})}, &info), kOk);
  const H265SeqParameterSet& s = parser.GetSps();
  ASSERT_EQ(s.num_short_term_ref_pic_sets, 3u);
  const H265StRefPicSet& r0 = s.st_ref_pic_set[0];
  EXPECT_EQ(r0.NumNegativePics, 2u);
  EXPECT_EQ(r0.DeltaPocS0[1], -3);
  EXPECT_EQ(r0.DeltaPocS1[0], 1);
  const H265StRefPicSet& r1 = s.st_ref_pic_set[1];
  ASSERT_EQ(r1.NumNegativePics, 2u);  // -1 (the reference picture itself), -2
  EXPECT_EQ(r1.DeltaPocS0[0], -1);
  EXPECT_EQ(r1.DeltaPocS0[1], -2);
  EXPECT_EQ(r1.NumPositivePics, 0u);
  EXPECT_EQ(r1.NumDeltaPocs, 2u);
  const H265StRefPicSet& r2 = s.st_ref_pic_set[2];
  ASSERT_EQ(r2.NumNegativePics, 3u);
  EXPECT_EQ(r2.DeltaPocS0[0], -1);
  EXPECT_EQ(r2.DeltaPocS0[1], -2);
  EXPECT_EQ(r2.DeltaPocS0[2], -3);
  EXPECT_EQ(s.sps_temporal_mvp_enabled_flag, 1u) << "read position after the sets";
}

TEST(H265Sets, ScalingListsAreCodedCopiedOrDefault) {
  H265Sps sps;
  sps.scaling_list_enabled_flag = 1;
  sps.sps_scaling_list_data_present_flag = 1;
  CMiniParserH265 parser;
  VideoStreamInfo info;
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit(sps), test::H265PpsUnit({})}, &info), kOk);
  const H265ScalingListData& d = parser.GetSps().scaling_list_data;
  EXPECT_EQ(d.ScalingList[0][0][0], 16);
  EXPECT_EQ(d.ScalingList[0][0][15], 31);
  EXPECT_EQ(d.ScalingList[0][1][15], 31) << "copied from matrix 0";
  EXPECT_EQ(d.scaling_list_dc_coef_minus8[0][0], 8);
  EXPECT_EQ(d.ScalingList[3][3][0], d.ScalingList[3][0][0]);

  sps.sps_scaling_list_data_present_flag = 0;
  ASSERT_EQ(ParseUnits(parser, {test::H265VpsUnit({}), test::H265SpsUnit(sps), test::H265PpsUnit({})}, &info), kOk);
  const H265ScalingListData& def = parser.GetSps().scaling_list_data;
  EXPECT_EQ(def.ScalingList[0][4][7], 16);
  EXPECT_EQ(def.ScalingList[1][0][63], 115);
  EXPECT_EQ(def.ScalingList[2][5][63], 91);
}

TEST(H265Sets, TruncatedSetReadsAsZerosAndStaysParsed) {
  H265Sps sps;
  sps.pic_width_in_luma_samples = 1280;
  sps.pic_height_in_luma_samples = 720;
  sps.bit_depth_luma_minus8 = 2;
  sps.vui_parameters_present_flag = 1;
  sps.vui_timing_info_present_flag = 1;
  sps.vui_num_units_in_tick = 1;
  sps.vui_time_scale = 50;
  const std::vector<uint8_t> unit = test::H265SpsUnit(sps);
  bool sawWidthWithoutHeight = false;
  H265SeqParameterSet s{};
  for (size_t cut = 2; cut <= unit.size(); ++cut) {
    NalBitReader r(unit.data() + 2, unit.data() + cut);
    ASSERT_EQ(ParseSeqParameterSet(r, &s), S_OK) << "cut at " << cut;
    EXPECT_TRUE(s.pic_width_in_luma_samples == 0 || s.pic_width_in_luma_samples == 1280) << cut;
    EXPECT_TRUE(s.pic_height_in_luma_samples == 0 || s.pic_height_in_luma_samples == 720) << cut;
    if (s.pic_width_in_luma_samples == 1280 && s.pic_height_in_luma_samples == 0) sawWidthWithoutHeight = true;
  }
  EXPECT_TRUE(sawWidthWithoutHeight);
  EXPECT_EQ(s.bit_depth_luma_minus8, 2u);
  EXPECT_EQ(s.vui.vui_time_scale, 50u);
}

}  // namespace
}  // namespace flvdmx
