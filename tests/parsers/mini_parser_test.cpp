// The mini-parser base: finding a group in input split anywhere, the
// parameter-set bytes it keeps, and the media type it gives.
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
using Bytes = std::vector<uint8_t>;

Bytes Sps(uint32_t widthMbsMinus1, uint32_t timeScale, uint32_t cropBottom = 0, uint32_t heightMapUnitsMinus1 = 14) {
  test::H264Sps sps;
  sps.pic_width_in_mbs_minus1 = widthMbsMinus1;
  sps.pic_height_in_map_units_minus1 = heightMapUnitsMinus1;
  sps.frame_cropping_flag = cropBottom != 0;
  sps.crop_bottom = cropBottom;
  sps.vui_parameters_present_flag = sps.timing_info_present_flag = 1;
  sps.num_units_in_tick = 1000;
  sps.time_scale = timeScale;
  return test::H264SpsUnit(sps);
}

Bytes Held(const CMiniParser& parser) {
  const CBuffer& b = parser.GetParameterSets();
  return Bytes(b.Data(), b.Data() + b.Size());
}

// A rejected set first, then the group; split into two calls at every byte.
// The bytes kept are checked for the whole input only: a split near the
// start code after the PPS changes how much of it is kept.
TEST(MiniParser, EverySplitFindsTheGroupAfterARejectedSetAndKeepsItUpToTheNextStartCode) {
  test::H264Sps bad;
  bad.profile_idc = 244;
  const Bytes slice{0x65, 0x88, 0x84, 0x00, 0x33, 0xFF}, sps = Sps(39, 50000), pps = test::H264PpsUnit();
  const Bytes stream = AnnexB({slice, test::H264SpsUnit(bad), pps, sps, pps, slice});
  // From the trigger's three-byte start code to the start code after the PPS.
  Bytes expected{0, 0, 1};
  expected.insert(expected.end(), sps.begin(), sps.end());
  expected.insert(expected.end(), {0, 0, 0, 1});
  expected.insert(expected.end(), pps.begin(), pps.end());
  expected.insert(expected.end(), {0, 0, 0, 1});
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    CMiniParserH264 parser;
    const HRESULT first = parser.Parse(stream.data(), static_cast<uint32_t>(cut));
    const HRESULT second = parser.Parse(stream.data() + cut, static_cast<uint32_t>(stream.size() - cut));
    EXPECT_TRUE(first == kMiniParserFound || second == kMiniParserFound);
    EXPECT_EQ(parser.GetState(), CMiniParser::kDone);
    EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 640u);
    EXPECT_DOUBLE_EQ(parser.GetStreamInfo().m_dFrameRate, 25.0);
    if (cut == stream.size()) { EXPECT_EQ(Held(parser), expected); }
  }
  CMiniParserH264 parser;
  EXPECT_EQ(parser.Parse(nullptr, 100), S_FALSE);
}

TEST(MiniParser, H265GroupStartsAtTheVideoParameterSet) {
  const Bytes stream = AnnexB({test::H265SpsUnit({}), test::H265VpsUnit({}), test::H265SpsUnit({}),
                               test::H265PpsUnit({}), {0x26, 0x01, 0xAF, 0x00}});
  CMiniParserH265 parser;
  EXPECT_EQ(parser.Parse(stream.data(), static_cast<uint32_t>(stream.size())), kMiniParserFound);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
  const Bytes held = Held(parser);
  ASSERT_GE(held.size(), 8u);
  EXPECT_EQ(held[3], 0x40);
  EXPECT_EQ(Bytes(held.end() - 4, held.end()), (Bytes{0, 0, 0, 1}));
}

TEST(MiniParser, VideoInfoHeaderCarriesTheParameterSetsAndTheFrameTime) {
  const struct {
    uint32_t timeScale;  // ticks of 1/1000000 s, two per frame
    REFERENCE_TIME avgTimePerFrame;
  } cases[] = {{50000, 400000}, {59940, 333667}, {48000, 416666}};
  for (const auto& c : cases) {
    CMiniParserH264 parser;
    const Bytes stream = AnnexB({Sps(119, c.timeScale, 4, 67), test::H264PpsUnit()});
    ASSERT_EQ(parser.Parse(stream.data(), static_cast<uint32_t>(stream.size())), kMiniParserFound);
    CMediaType mt;
    mt.SetSampleSize(1234);
    ASSERT_EQ(parser.GetMediaType(&mt), S_OK);
    EXPECT_EQ(*mt.Subtype(), FourccGuid(MakeFourcc('H', '2', '6', '4')));
    EXPECT_EQ(*mt.FormatType(), FORMAT_VideoInfo);
    EXPECT_EQ(mt.GetSampleSize(), 1234u) << "fields it does not name stay";
    const CBuffer& sets = parser.GetParameterSets();
    ASSERT_EQ(mt.FormatLength(), 88u + sets.Size());
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.Format(), sizeof vih);
    EXPECT_EQ(vih.AvgTimePerFrame, c.avgTimePerFrame);
    EXPECT_EQ(vih.bmiHeader.biSize, 40u + sets.Size());
    EXPECT_EQ(vih.bmiHeader.biWidth, 1920);
    EXPECT_EQ(vih.bmiHeader.biHeight, 1080);
    EXPECT_EQ(vih.bmiHeader.biSizeImage, 1920u * 3 * 1080);
    EXPECT_EQ(0, std::memcmp(mt.Format() + 88, sets.Data(), sets.Size()));
  }
}

}  // namespace
}  // namespace flvdmx
