// H.265 parameter sets written field by field: derivations the ffmpeg-made
// corpus cannot reach and every limit that turns the group down.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "parsers/mini_parser_h265.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::H265Pps;
using test::H265Sps;
using test::H265Vps;

struct H265Sets {
  H265Vps vps;
  H265Sps sps;
  H265Pps pps;
};

HRESULT ParseUnits(CMiniParserH265& parser, std::initializer_list<std::vector<uint8_t>> units,
                   VideoStreamInfo* info) {
  const std::vector<uint8_t> stream = test::AnnexB(units);
  return parser.ParseParameterSets(info, stream.data(), static_cast<uint32_t>(stream.size()));
}

HRESULT ParseSets(CMiniParserH265& parser, const H265Sets& s, VideoStreamInfo* info) {
  return ParseUnits(parser, {test::H265VpsUnit(s.vps), test::H265SpsUnit(s.sps), test::H265PpsUnit(s.pps)}, info);
}

struct H265Case {
  const char* name;
  std::function<void(H265Sets&)> edit;
  HRESULT status;
  uint32_t width = 0, height = 0;
  double frameRate = 0;
  uint32_t sarWidth = 0, sarHeight = 0;  // 0: no aspect stated
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
  EXPECT_EQ(info.m_bAspectRatioPresent, c.sarWidth ? 1u : 0u);
  EXPECT_EQ(info.m_dwSarWidth, c.sarWidth);
  EXPECT_EQ(info.m_dwSarHeight, c.sarHeight);
  EXPECT_EQ(info.m_dwProfile, sets.vps.ptl.general_profile_idc);
  EXPECT_EQ(info.m_dwLevel, sets.vps.ptl.general_level_idc);
  // The last fields of the sets were read from the right place.
  EXPECT_EQ(parser.GetSps().sps_temporal_mvp_enabled_flag, 1u);
  EXPECT_EQ(parser.GetPps().pps_cr_qp_offset, 3);
}

const HRESULT kOk = kParameterSetsParsed;
const HRESULT kNo = kParameterSetsNotFound;

void VuiTiming(H265Sets& s, uint32_t ticks, uint32_t scale) {
  s.sps.vui_parameters_present_flag = s.sps.vui_timing_info_present_flag = 1;
  s.sps.vui_num_units_in_tick = ticks;
  s.sps.vui_time_scale = scale;
}

void VpsTiming(H265Sets& s, uint32_t ticks, uint32_t scale) {
  s.vps.vps_timing_info_present_flag = 1;
  s.vps.vps_num_units_in_tick = ticks;
  s.vps.vps_time_scale = scale;
}

void Aspect(H265Sets& s, uint32_t idc, uint32_t w = 0, uint32_t h = 0) {
  s.sps.vui_parameters_present_flag = s.sps.aspect_ratio_info_present_flag = 1;
  s.sps.aspect_ratio_idc = idc;
  s.sps.sar_width = w;
  s.sps.sar_height = h;
}

void Window(H265Sets& s, uint32_t chroma, uint32_t left, uint32_t right, uint32_t top, uint32_t bottom) {
  s.sps.chroma_format_idc = chroma;
  s.sps.conformance_window_flag = 1;
  s.sps.conf_left = left, s.sps.conf_right = right, s.sps.conf_top = top, s.sps.conf_bottom = bottom;
}

INSTANTIATE_TEST_SUITE_P(
    Derivation, H265SetsTest,
    ::testing::Values(
        H265Case{"FourTwoTwoWindowHalvesOnlyColumns", [](H265Sets& s) { Window(s, 2, 1, 0, 0, 8); }, kOk, 318, 232,
                 30.0},
        H265Case{"SeparateColourPlanes",
                 [](H265Sets& s) { Window(s, 3, 0, 2, 0, 2); s.sps.separate_colour_plane_flag = 1; }, kOk, 318, 238,
                 30.0},
        H265Case{"VpsTimingWinsOverVui", [](H265Sets& s) { VpsTiming(s, 1001, 30000); VuiTiming(s, 1, 50); }, kOk,
                 320, 240, 29.97003},
        H265Case{"ZeroTicksInTheVpsFallToTheVui", [](H265Sets& s) { VpsTiming(s, 0, 25); VuiTiming(s, 1, 24); },
                 kOk, 320, 240, 24.0},
        H265Case{"LastAspectTableEntry", [](H265Sets& s) { Aspect(s, 16); }, kOk, 320, 240, 30.0, 2, 1},
        H265Case{"SubLayersWithTheirOwnProfilesAndHrd",
                 [](H265Sets& s) {
                   s.vps.vps_max_sub_layers_minus1 = s.sps.sps_max_sub_layers_minus1 = 6;
                   VpsTiming(s, 1, 60);
                   s.vps.vps_num_hrd_parameters = 1;
                   VuiTiming(s, 1, 25);
                   s.sps.vui_hrd_parameters_present_flag = 1, s.sps.vui_hrd_cpb_cnt_minus1 = 31;
                 },
                 kOk, 320, 240, 60.0},
        H265Case{"LayerIdFlagsBeyondThe32KeptAreDropped",
                 [](H265Sets& s) { s.vps.vps_max_layer_id = 40, s.vps.vps_num_layer_sets_minus1 = 40; }, kOk, 320,
                 240, 30.0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rejected, H265SetsTest,
    ::testing::Values(
        H265Case{"VpsWithEightSubLayers", [](H265Sets& s) { s.vps.vps_max_sub_layers_minus1 = 7; }, kNo},
        H265Case{"SpsWithEightSubLayers", [](H265Sets& s) { s.sps.sps_max_sub_layers_minus1 = 7; }, kNo},
        H265Case{"ReservedLayerId", [](H265Sets& s) { s.vps.vps_max_layer_id = 63; }, kNo},
        H265Case{"MoreThan1024LayerSets", [](H265Sets& s) { s.vps.vps_num_layer_sets_minus1 = 1024; }, kNo},
        H265Case{"MoreHrdEntriesThanLayerSets",
                 [](H265Sets& s) { s.vps.vps_timing_info_present_flag = 1, s.vps.vps_num_hrd_parameters = 2; }, kNo},
        H265Case{"ThirtyThreeCodedPictureBuffers",
                 [](H265Sets& s) {
                   VuiTiming(s, 1, 25);
                   s.sps.vui_hrd_parameters_present_flag = 1, s.sps.vui_hrd_cpb_cnt_minus1 = 32;
                 },
                 kNo},
        H265Case{"SpsIdAbove15", [](H265Sets& s) { s.sps.sps_seq_parameter_set_id = 16; }, kNo},
        H265Case{"ChromaFormatAbove3", [](H265Sets& s) { s.sps.chroma_format_idc = 4; }, kNo},
        H265Case{"DeeperThan16Bits", [](H265Sets& s) { s.sps.bit_depth_luma_minus8 = 9; }, kNo},
        H265Case{"PocLsbLongerThan16Bits", [](H265Sets& s) { s.sps.log2_max_pic_order_cnt_lsb_minus4 = 13; }, kNo},
        H265Case{"DpbLargerThan16", [](H265Sets& s) { s.sps.sps_max_dec_pic_buffering_minus1 = 16; }, kNo},
        H265Case{"WindowWiderThanThePicture", [](H265Sets& s) { Window(s, 1, 80, 80, 0, 0); }, kNo},
        H265Case{"WindowWrappingAround", [](H265Sets& s) { Window(s, 1, 0, 0, 0x80000000u, 0x80000000u); }, kNo},
        H265Case{"SixtyFiveReferencePictureSets",
                 [](H265Sets& s) { s.sps.num_short_term_ref_pic_sets_override = 65; }, kNo},
        H265Case{"MorePicturesThanTheDpbHolds",
                 [](H265Sets& s) {
                   s.sps.sps_max_dec_pic_buffering_minus1 = 2;
                   s.sps.rps = {test::H265Rps{{{0, 1}, {0, 1}}, {{0, 1}}}};
                 },
                 kNo},
        H265Case{"ThirtyThreeLongTermPictures", [](H265Sets& s) { s.sps.num_long_term_ref_pics_sps = 33; }, kNo},
        H265Case{"InitQpAbove51", [](H265Sets& s) { s.pps.init_qp_minus26 = 26; }, kNo},
        H265Case{"TooManyTileColumns",
                 [](H265Sets& s) { s.pps.tiles_enabled_flag = 1, s.pps.num_tile_columns_minus1 = 1056; }, kNo},
        H265Case{"DeblockingOffsetOutOfRange",
                 [](H265Sets& s) { s.pps.deblocking_filter_control_present_flag = 1, s.pps.pps_beta_offset_div2 = 7; },
                 kNo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(H265Sets, KindsMayComeInAnyOrderButAllThreeAreNeeded) {
  const auto vps = test::H265VpsUnit({}), sps = test::H265SpsUnit({}), pps = test::H265PpsUnit({});
  const std::vector<uint8_t> sei{0x4E, 0x01, 0x05, 0x02, 0xAA, 0xBB, 0x80};
  CMiniParserH265 parser;
  VideoStreamInfo info;
  EXPECT_EQ(ParseUnits(parser, {sei, pps, sei, sps, vps, sei}, &info), kOk);
  // A sequence (or video) parameter set needs a start code after it.
  EXPECT_EQ(ParseUnits(parser, {vps, pps, sps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {vps, sps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {sps, pps, sei}, &info), kNo);
  EXPECT_EQ(parser.ParseParameterSets(&info, nullptr, 0), kNo);
}

// The tile arrays belong to the last set read.
TEST(H265Sets, TileSizesAreKeptUntilTheNextSet) {
  CMiniParserH265 parser;
  VideoStreamInfo info;
  H265Sets sets;
  sets.pps.tiles_enabled_flag = 1, sets.pps.uniform_spacing_flag = 0;
  sets.pps.num_tile_columns_minus1 = 3, sets.pps.num_tile_rows_minus1 = 2;
  ASSERT_EQ(ParseSets(parser, sets, &info), kOk);
  const H265PicParameterSet& p = parser.GetPps();
  ASSERT_TRUE(p.column_width_minus1 && p.row_height_minus1);
  EXPECT_EQ(p.column_width_minus1[2], 3u);
  EXPECT_EQ(p.row_height_minus1[1], 3u);
  ASSERT_EQ(ParseSets(parser, {}, &info), kOk);
  EXPECT_FALSE(parser.GetPps().column_width_minus1);
}

// Deliberate: a set cut short reads as zeros from the cut on and still parses.
TEST(H265Sets, TruncatedSetReadsAsZerosAndStaysParsed) {
  H265Sets sets;
  sets.sps.pic_width_in_luma_samples = 1280;
  sets.sps.pic_height_in_luma_samples = 720;
  VuiTiming(sets, 1, 50);
  const std::vector<uint8_t> unit = test::H265SpsUnit(sets.sps);
  bool sawWidthWithoutHeight = false;
  H265SeqParameterSet s{};
  for (size_t cut = 2; cut <= unit.size(); ++cut) {
    NalBitReader r(unit.data() + 2, unit.data() + cut);
    ASSERT_EQ(ParseSeqParameterSet(r, &s), S_OK) << "cut at " << cut;
    EXPECT_TRUE(s.pic_width_in_luma_samples == 0 || s.pic_width_in_luma_samples == 1280) << cut;
    EXPECT_TRUE(s.pic_height_in_luma_samples == 0 || s.pic_height_in_luma_samples == 720) << cut;
    sawWidthWithoutHeight |= s.pic_width_in_luma_samples == 1280 && s.pic_height_in_luma_samples == 0;
  }
  EXPECT_TRUE(sawWidthWithoutHeight);
  EXPECT_EQ(s.vui.vui_time_scale, 50u);
}

}  // namespace
}  // namespace flvdmx
