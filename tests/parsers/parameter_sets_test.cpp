// H.264 sequence parameter sets written field by field (the limits that turn
// a set down, derivations the corpus cannot reach), H.265 groups and cuts.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "h264/q264.h"
#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "streams/video_units.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::H264Sps;

const ParameterSetsResult kOk = ParameterSetsResult::kParsed;
const ParameterSetsResult kNo = ParameterSetsResult::kNotFound;

ParameterSetsResult ParseH264(const std::vector<uint8_t>& sps, VideoStreamInfo* info) {
  const std::vector<uint8_t> stream = test::AnnexB({sps, test::H264PpsUnit()});
  CMiniParserH264 parser;
  return parser.ParseParameterSets(info, stream.data(), static_cast<uint32_t>(stream.size()),
                                   nullptr);
}

void Timing(H264Sps& s, uint32_t ticks, uint32_t scale) {
  s.vui_parameters_present_flag = s.timing_info_present_flag = 1;
  s.num_units_in_tick = ticks, s.time_scale = scale;
}

// Rows without a width are rejections; a rejection leaves the info alone.
struct Case {
  const char* name;
  std::function<void(H264Sps&)> edit;
  uint32_t width = 0, height = 0;
  double frameRate = 0;
};

TEST(H264Sps, LimitsRejectTheSetAndEdgeValuesStillGiveTheInformation) {
  const Case cases[] = {
      {"RateAboveHundredFallsBackToThirty", [](H264Sps& s) { Timing(s, 1, 1000); }, 320, 240, 30.0},
      {"LargestPictureAnyLevelAllows",
       [](H264Sps& s) { s.pic_width_in_mbs_minus1 = s.pic_height_in_map_units_minus1 = 1054; },
       16880, 16880, 30.0},
      {"ScalingListFallingBackToDefault",
       [](H264Sps& s) { s.scaling_matrix = true, s.first_delta_scale = -8; }, 320, 240, 30.0},
      {"UnknownProfileHasTheBasicSyntax", [](H264Sps& s) { s.profile_idc = 0; }, 320, 240, 30.0},
      {"SpsIdAbove31", [](H264Sps& s) { s.seq_parameter_set_id = 32; }},
      {"ChromaFormatAbove3", [](H264Sps& s) { s.chroma_format_idc = 4; }},
      {"LumaDeeperThan14Bits", [](H264Sps& s) { s.bit_depth_luma_minus8 = 7; }},
      {"DeltaScaleOutOfRange",
       [](H264Sps& s) { s.scaling_matrix = true, s.first_delta_scale = 128; }},
      {"Log2MaxFrameNumAbove16", [](H264Sps& s) { s.log2_max_frame_num_minus4 = 13; }},
      {"PicOrderCntTypeAbove2", [](H264Sps& s) { s.pic_order_cnt_type = 3; }},
      {"PocCycleLongerThan255",
       [](H264Sps& s) { s.pic_order_cnt_type = 1, s.num_ref_frames_in_pic_order_cnt_cycle = 256; }},
      {"MoreThan16RefFrames", [](H264Sps& s) { s.max_num_ref_frames = 17; }},
      {"WiderThanAnyLevel", [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 1055; }},
      {"HugeWidthCode", [](H264Sps& s) { s.pic_width_in_mbs_minus1 = 0xFFFFFFFEu; }},
      {"FieldPictureTallerThanAnyLevel",
       [](H264Sps& s) { s.frame_mbs_only_flag = 0, s.pic_height_in_map_units_minus1 = 528; }},
      {"CropTallerThanThePicture",
       [](H264Sps& s) { s.frame_cropping_flag = 1, s.crop_bottom = 0x7FFFFFFF; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    H264Sps sps;
    c.edit(sps);
    VideoStreamInfo info;
    info.m_dwWidth = 12345;
    ASSERT_EQ(ParseH264(test::H264SpsUnit(sps), &info), c.width ? kOk : kNo);
    EXPECT_EQ(info.m_dwWidth, c.width ? c.width : 12345u);
    if (!c.width) continue;
    EXPECT_EQ(info.m_dwHeight, c.height);
    EXPECT_NEAR(info.m_dFrameRate, c.frameRate, 0.001);
  }
}

// Deliberate: no profile is refused for its number. Each gets its size and
// cropping in the crop units of its chroma format (4:4:4 and monochrome crop
// by single samples, 4:2:0 by two in each direction, 4:2:2 by two across).
TEST(H264Sps, EveryProfileGivesItsSizeAndCropping) {
  struct ProfileCase {
    uint32_t profile_idc, chroma_format_idc, width, height;
  };
  const ProfileCase cases[] = {
      {66, 1, 314, 230},  {77, 1, 314, 230},  {88, 1, 314, 230},  {100, 1, 314, 230},
      {100, 0, 317, 235}, {110, 1, 314, 230}, {122, 2, 314, 235}, {244, 3, 317, 235},
      {44, 3, 317, 235},  {83, 1, 314, 230},  {86, 1, 314, 230},  {118, 1, 314, 230},
      {128, 1, 314, 230}, {138, 1, 314, 230}, {139, 1, 314, 230}, {134, 1, 314, 230},
      {135, 1, 314, 230}, {144, 3, 317, 235}, {1, 1, 314, 230},   {255, 1, 314, 230},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "profile " << c.profile_idc << " chroma " << c.chroma_format_idc);
    H264Sps sps;
    sps.profile_idc = c.profile_idc, sps.chroma_format_idc = c.chroma_format_idc;
    sps.frame_cropping_flag = 1, sps.crop_right = 3, sps.crop_bottom = 5;
    VideoStreamInfo info;
    ASSERT_EQ(ParseH264(test::H264SpsUnit(sps), &info), kOk);
    EXPECT_EQ(info.m_dwWidth, c.width);
    EXPECT_EQ(info.m_dwHeight, c.height);
    EXPECT_EQ(info.m_dwProfile, c.profile_idc);
  }
}

// Deliberate: a cut before the VUI gives no usable picture size; a cut
// inside the VUI keeps what was read.
TEST(H264Sps, TruncationIsRejectedBeforeTheVuiAndToleratedInsideIt) {
  H264Sps sps;
  sps.aspect_ratio_info_present_flag = 1, sps.aspect_ratio_idc = 255, sps.sar_width = 4,
  sps.sar_height = 3;
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
    ASSERT_EQ(Q264_ParseSeqParameterSet(rbsp.data(), cut, &partial), Q264ParseResult::kTruncated)
        << cut;
    EXPECT_EQ(result, partial.vui_parameters_present_flag ? 1 : 0) << "cut at " << cut;
    if (result == 1) {
      ++accepted;
      EXPECT_EQ(info.m_dwWidth, 320u);
      EXPECT_EQ(info.m_dwHeight, 240u);
    }
  }
  EXPECT_GT(accepted, 0);
}

// Real libx265 sets (320x180); hostile H.265 sets are in the fuzz test.
ParameterSetsResult ParseUnits(CMiniParserH265& parser,
                               std::initializer_list<std::vector<uint8_t>> units,
                               VideoStreamInfo* info) {
  const std::vector<uint8_t> stream = test::AnnexB(units);
  return parser.ParseParameterSets(info, stream.data(), static_cast<uint32_t>(stream.size()),
                                   nullptr);
}

TEST(H265Sets, KindsMayComeInAnyOrderButAllThreeAreNeeded) {
  const std::vector<uint8_t> sei{0x4E, 0x01, 0x05, 0x02, 0xAA, 0xBB, 0x80};
  CMiniParserH265 parser;
  VideoStreamInfo info;
  EXPECT_EQ(ParseUnits(parser, {sei, kH265Pps, sei, kH265Sps, kH265Vps, sei}, &info), kOk);
  EXPECT_EQ(info.m_dwHeight, 180u);
  // A sequence (or video) parameter set needs a start code after it.
  EXPECT_EQ(ParseUnits(parser, {kH265Vps, kH265Pps, kH265Sps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {kH265Vps, kH265Sps}, &info), kNo);
  EXPECT_EQ(ParseUnits(parser, {kH265Sps, kH265Pps, sei}, &info), kNo);
  EXPECT_EQ(parser.ParseParameterSets(&info, nullptr, 0, nullptr), kNo);
}

// Deliberate: values a strict reading refuses, but that fit the records,
// are kept and the set gives its picture; a value that would not fit a
// record refuses the set, yet a sequence parameter set still gives the size
// it had read by then (one refused before its size gives nothing). Expected
// values are what the writer wrote.
struct H265Case {
  const char* name;
  std::function<void(test::H265Sets&)> edit;
  uint32_t width, height;
  double frameRate;
};

TEST(H265Sets, OnlyValuesThatOverflowARecordAreRefusedAndTheSizeIsKept) {
  using test::H265Sets;
  const H265Case cases[] = {
      {"Plain", [](H265Sets&) {}, 320, 180, 30.0},
      {"ReorderAboveTheBufferSize",
       [](H265Sets& s) { s.max_dec_pic_buffering_minus1 = 1, s.max_num_reorder_pics = 3; }, 320,
       180, 30.0},
      {"BufferAbove16Pictures", [](H265Sets& s) { s.max_dec_pic_buffering_minus1 = 20; }, 320, 180,
       30.0},
      {"InitQpBelowAnyBitDepth", [](H265Sets& s) { s.init_qp_minus26 = -80; }, 320, 180, 30.0},
      {"ChromaQpOffsetOutOfRange", [](H265Sets& s) { s.pps_cb_qp_offset = 20; }, 320, 180, 30.0},
      {"WindowWiderThanThePicture", [](H265Sets& s) { s.conf_win_right_offset = 200; }, 320, 184,
       30.0},
      {"WindowTallerThanThePicture", [](H265Sets& s) { s.conf_win_bottom_offset = 92; }, 320, 184,
       30.0},
      {"VuiRangesBroken",
       [](H265Sets& s) {
         s.vui_parameters_present_flag = 1, s.chroma_sample_loc_type = 9;
         s.min_spatial_segmentation_idc = 5000, s.log2_max_mv_length = 40;
       },
       320, 180, 25.0},
      {"VideoSetWithTooManySubLayers", [](H265Sets& s) { s.vps_max_sub_layers_minus1 = 7; }, 320,
       180, 30.0},
      {"TooManyReferencePictureSetsAfterTheSize",
       [](H265Sets& s) { s.num_short_term_ref_pic_sets = 65; }, 320, 180, 30.0},
      {"TooManySubLayersBeforeTheSize", [](H265Sets& s) { s.sps_max_sub_layers_minus1 = 7; }, 0, 0,
       30.0},
  };
  for (const H265Case& c : cases) {
    SCOPED_TRACE(c.name);
    H265Sets sets;
    c.edit(sets);
    CMiniParserH265 parser;
    VideoStreamInfo info;
    ASSERT_EQ(
        ParseUnits(parser,
                   {test::H265VpsUnit(sets), test::H265SpsUnit(sets), test::H265PpsUnit(sets)},
                   &info),
        c.width ? kOk : kNo);
    if (!c.width) continue;
    EXPECT_EQ(info.m_dwWidth, c.width);
    EXPECT_EQ(info.m_dwHeight, c.height);
    EXPECT_NEAR(info.m_dFrameRate, c.frameRate, 0.001);
  }
}

// Deliberate: a set cut short reads as zeros from the cut on and still parses.
TEST(H265Sets, TruncatedSetReadsAsZerosAndStaysParsed) {
  bool sawWidthWithoutHeight = false;
  H265SeqParameterSet s{};
  for (size_t cut = 2; cut <= kH265Sps.size(); ++cut) {
    BitReader r(kH265Sps.data() + 2, cut - 2, BitReader::EmulationPrevention::kStrip);
    ASSERT_EQ(ParseSeqParameterSet(r, &s), H265SetResult::kParsed) << "cut at " << cut;
    EXPECT_TRUE(s.pic_width_in_luma_samples == 0 || s.pic_width_in_luma_samples == 320) << cut;
    EXPECT_TRUE(s.pic_height_in_luma_samples == 0 || s.pic_height_in_luma_samples == 184) << cut;
    sawWidthWithoutHeight |=
        s.pic_width_in_luma_samples == 320 && s.pic_height_in_luma_samples == 0;
  }
  EXPECT_TRUE(sawWidthWithoutHeight);
  EXPECT_EQ(s.sps_temporal_mvp_enabled_flag, 1u);
}

}  // namespace
}  // namespace flvdmx
