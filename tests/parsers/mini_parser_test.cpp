// The mini-parser base: how Parse finds a group in input that comes whole,
// in pieces, or split inside a start code; the states it moves through; the
// parameter-set bytes it keeps; and the media type it builds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "baseclasses/mediatype.h"
#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "platform/mediatypes.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::AnnexB;

std::vector<uint8_t> Slice() { return {0x65, 0x88, 0x84, 0x00, 0x33, 0xFF}; }

std::vector<uint8_t> Sps(uint32_t widthMbsMinus1 = 19) {
  test::H264Sps sps;
  sps.pic_width_in_mbs_minus1 = widthMbsMinus1;
  sps.vui_parameters_present_flag = 1;
  sps.timing_info_present_flag = 1;
  sps.num_units_in_tick = 1;
  sps.time_scale = 50;
  return test::H264SpsUnit(sps);
}

HRESULT Feed(CMiniParser& parser, const std::vector<uint8_t>& bytes) {
  return parser.Parse(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> Held(const CMiniParser& parser) {
  const CBuffer& b = parser.GetParameterSets();
  return std::vector<uint8_t>(b.Data(), b.Data() + b.Size());
}

TEST(MiniParser, WholeGroupInOneCallIsFoundAndKeptUpToTheNextStartCode) {
  const std::vector<uint8_t> sps = Sps(), pps = test::H264PpsUnit();
  const std::vector<uint8_t> stream = AnnexB({sps, pps, Slice()});
  CMiniParserH264 parser;
  EXPECT_EQ(Feed(parser, stream), kMiniParserFound);
  EXPECT_EQ(parser.GetState(), CMiniParser::kDone);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
  EXPECT_DOUBLE_EQ(parser.GetStreamInfo().m_dFrameRate, 25.0);

  // From the trigger's three-byte start code to the start code of the
  // unit after the picture parameter set, inclusive.
  std::vector<uint8_t> expected{0, 0, 1};
  expected.insert(expected.end(), sps.begin(), sps.end());
  expected.insert(expected.end(), {0, 0, 0, 1});
  expected.insert(expected.end(), pps.begin(), pps.end());
  expected.insert(expected.end(), {0, 0, 0, 1});
  EXPECT_EQ(Held(parser), expected);
}

TEST(MiniParser, GroupWithoutAFollowingUnitIsKeptToTheEndOfTheInput) {
  const std::vector<uint8_t> stream = AnnexB({Sps(), test::H264PpsUnit()});
  CMiniParserH264 parser;
  EXPECT_EQ(Feed(parser, stream), kMiniParserFound);
  EXPECT_EQ(Held(parser), std::vector<uint8_t>(stream.begin() + 1, stream.end()));
}

TEST(MiniParser, AfterSuccessEveryCallIsNothingAndTheInformationStays) {
  CMiniParserH264 parser;
  ASSERT_EQ(Feed(parser, AnnexB({Sps(), test::H264PpsUnit()})), kMiniParserFound);
  EXPECT_EQ(Feed(parser, AnnexB({Sps(39), test::H264PpsUnit()})), S_FALSE);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
}

TEST(MiniParser, SetWithoutItsEndWaitsForTheRest) {
  const std::vector<uint8_t> stream = AnnexB({Sps(), test::H264PpsUnit(), Slice()});
  CMiniParserH264 parser;
  // Cut inside the sequence parameter set: no start code follows it yet.
  const size_t cut = 12;
  EXPECT_EQ(parser.Parse(stream.data(), cut), kMiniParserIncomplete);
  EXPECT_EQ(parser.GetState(), CMiniParser::kWaitingForRest);
  EXPECT_EQ(Held(parser), std::vector<uint8_t>(stream.begin() + 1, stream.begin() + cut));
  EXPECT_EQ(parser.Parse(stream.data() + cut, static_cast<uint32_t>(stream.size() - cut)), kMiniParserFound);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
}

TEST(MiniParser, EverySplitIntoTwoCallsFindsTheGroup) {
  const std::vector<uint8_t> stream = AnnexB({Slice(), Sps(), test::H264PpsUnit(), Slice()});
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    CMiniParserH264 parser;
    const HRESULT first = parser.Parse(stream.data(), static_cast<uint32_t>(cut));
    const HRESULT second = parser.Parse(stream.data() + cut, static_cast<uint32_t>(stream.size() - cut));
    EXPECT_TRUE(first == kMiniParserFound || second == kMiniParserFound) << "cut at " << cut;
    EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u) << "cut at " << cut;
  }
}

TEST(MiniParser, RejectedSetIsSkippedForTheNextOne) {
  test::H264Sps bad;
  bad.profile_idc = 244;
  const std::vector<uint8_t> stream =
      AnnexB({test::H264SpsUnit(bad), test::H264PpsUnit(), Sps(39), test::H264PpsUnit(), Slice()});
  CMiniParserH264 parser;
  EXPECT_EQ(Feed(parser, stream), kMiniParserFound);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 640u);
  EXPECT_EQ(parser.GetStreamInfo().m_dwProfile, 100u);
}

TEST(MiniParser, NothingInEmptyOrNullInput) {
  CMiniParserH264 parser;
  EXPECT_EQ(parser.Parse(nullptr, 100), S_FALSE);
  EXPECT_EQ(parser.Parse(nullptr, 0), S_FALSE);
  const uint8_t junk[] = {1, 2, 3};
  EXPECT_EQ(parser.Parse(junk, sizeof junk), S_FALSE);
  EXPECT_EQ(parser.GetState(), CMiniParser::kSearching);
}

TEST(MiniParser, H265GroupStartsAtTheVideoParameterSet) {
  test::H265Vps vps;
  vps.vps_timing_info_present_flag = 1;
  vps.vps_num_units_in_tick = 1;
  vps.vps_time_scale = 50;
  const std::vector<uint8_t> stream =
      AnnexB({test::H265SpsUnit({}), test::H265VpsUnit(vps), test::H265SpsUnit({}), test::H265PpsUnit({}),
              {0x26, 0x01, 0xAF, 0x00}});
  CMiniParserH265 parser;
  EXPECT_EQ(Feed(parser, stream), kMiniParserFound);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
  EXPECT_DOUBLE_EQ(parser.GetStreamInfo().m_dFrameRate, 50.0);
  // Three start codes follow the trigger: SPS, PPS and the slice.
  const std::vector<uint8_t> held = Held(parser);
  ASSERT_GE(held.size(), 8u);
  EXPECT_EQ(held[3], 0x40);
  EXPECT_EQ(std::vector<uint8_t>(held.end() - 4, held.end()), (std::vector<uint8_t>{0, 0, 0, 1}));
}

struct MediaTypeCase {
  double frameRate;
  REFERENCE_TIME avgTimePerFrame;
};

class MiniParserMediaType : public ::testing::TestWithParam<MediaTypeCase> {};

TEST_P(MiniParserMediaType, VideoInfoHeaderCarriesTheParameterSets) {
  test::H264Sps sps;
  sps.pic_width_in_mbs_minus1 = 119;
  sps.pic_height_in_map_units_minus1 = 67;
  sps.frame_cropping_flag = 1;
  sps.crop_bottom = 4;
  sps.vui_parameters_present_flag = 1;
  sps.timing_info_present_flag = 1;
  sps.num_units_in_tick = 1000;
  sps.time_scale = static_cast<uint32_t>(GetParam().frameRate * 2000 + 0.5);
  CMiniParserH264 parser;
  ASSERT_EQ(Feed(parser, AnnexB({test::H264SpsUnit(sps), test::H264PpsUnit()})), kMiniParserFound);

  CMediaType mt;
  mt.SetSampleSize(1234);
  ASSERT_EQ(parser.GetMediaType(&mt), S_OK);
  EXPECT_EQ(*mt.Type(), MEDIATYPE_Video);
  EXPECT_EQ(*mt.Subtype(), FourccGuid(MakeFourcc('H', '2', '6', '4')));
  EXPECT_EQ(mt.Subtype()->Data1, 0x34363248u);
  EXPECT_EQ(*mt.FormatType(), FORMAT_VideoInfo);
  EXPECT_TRUE(mt.IsTemporalCompressed());
  EXPECT_EQ(mt.GetSampleSize(), 1234u) << "fields it does not name stay";

  const CBuffer& sets = parser.GetParameterSets();
  ASSERT_EQ(mt.FormatLength(), 88u + sets.Size());
  VIDEOINFOHEADER vih;
  std::memcpy(&vih, mt.Format(), sizeof vih);
  EXPECT_EQ(vih.AvgTimePerFrame, GetParam().avgTimePerFrame);
  EXPECT_EQ(vih.rcSource.right, 0);
  EXPECT_EQ(vih.dwBitRate, 0u);
  EXPECT_EQ(vih.bmiHeader.biSize, 40u + sets.Size());
  EXPECT_EQ(vih.bmiHeader.biWidth, 1920);
  EXPECT_EQ(vih.bmiHeader.biHeight, 1080);
  EXPECT_EQ(vih.bmiHeader.biPlanes, 1);
  EXPECT_EQ(vih.bmiHeader.biBitCount, 24);
  EXPECT_EQ(vih.bmiHeader.biCompression, MakeFourcc('H', '2', '6', '4'));
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 1920u * 3 * 1080);
  EXPECT_EQ(0, std::memcmp(mt.Format() + 88, sets.Data(), sets.Size()));
}

INSTANTIATE_TEST_SUITE_P(Rates, MiniParserMediaType,
                         ::testing::Values(MediaTypeCase{25.0, 400000}, MediaTypeCase{29.97, 333667},
                                           MediaTypeCase{50.0, 200000}, MediaTypeCase{24.0, 416666}));

TEST(MiniParser, MediaTypeBeforeAnythingWasFoundHasNoFrameTime) {
  CMiniParserH265 parser;
  CMediaType mt;
  ASSERT_EQ(parser.GetMediaType(&mt), S_OK);
  EXPECT_EQ(*mt.Subtype(), FourccGuid(MakeFourcc('H', '2', '6', '5')));
  ASSERT_EQ(mt.FormatLength(), 88u);
  VIDEOINFOHEADER vih;
  std::memcpy(&vih, mt.Format(), sizeof vih);
  EXPECT_EQ(vih.AvgTimePerFrame, 0);
  EXPECT_EQ(vih.bmiHeader.biSize, 40u);
  EXPECT_EQ(parser.GetMediaType(nullptr), E_POINTER);
}

}  // namespace
}  // namespace flvdmx
