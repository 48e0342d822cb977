// The mini-parser base: finding a group in input split anywhere, and the
// parameter-set bytes it keeps.
#include <gtest/gtest.h>

#include <vector>

#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "streams/video_units.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::AnnexB;
using Bytes = std::vector<uint8_t>;

Bytes Held(const CMiniParser& parser) {
  const CBuffer& b = parser.GetParameterSets();
  return Bytes(b.Data(), b.Data() + b.Size());
}

// A rejected set, then the group, split at every byte. The bytes kept are
// checked unsplit only: a split near the PPS's end changes how much is kept.
TEST(MiniParser, EverySplitFindsTheGroupAfterARejectedSetAndKeepsItUpToTheNextStartCode) {
  test::H264Sps bad;
  bad.seq_parameter_set_id = 32;
  test::H264Sps good;
  good.pic_width_in_mbs_minus1 = 39;
  good.vui_parameters_present_flag = good.timing_info_present_flag = 1;
  good.num_units_in_tick = 1000, good.time_scale = 50000;
  const Bytes slice{0x65, 0x88, 0x84, 0x00, 0x33, 0xFF}, sps = test::H264SpsUnit(good),
                                                         pps = test::H264PpsUnit();
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
    const HRESULT second =
        parser.Parse(stream.data() + cut, static_cast<uint32_t>(stream.size() - cut));
    EXPECT_TRUE(first == kMiniParserFound || second == kMiniParserFound);
    EXPECT_EQ(parser.GetState(), CMiniParser::kDone);
    EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 640u);
    EXPECT_DOUBLE_EQ(parser.GetStreamInfo().m_dFrameRate, 25.0);
    if (cut == stream.size()) {
      EXPECT_EQ(Held(parser), expected);
    }
  }
  CMiniParserH264 parser;
  EXPECT_EQ(parser.Parse(nullptr, 100), S_FALSE);
}

TEST(MiniParser, H265GroupStartsAtTheVideoParameterSet) {
  const Bytes stream = AnnexB({kH265Sps, kH265Vps, kH265Sps, kH265Pps, {0x26, 0x01, 0xAF, 0x00}});
  CMiniParserH265 parser;
  EXPECT_EQ(parser.Parse(stream.data(), static_cast<uint32_t>(stream.size())), kMiniParserFound);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
  const Bytes held = Held(parser);
  ASSERT_GE(held.size(), 8u);
  EXPECT_EQ(held[3], 0x40);
  EXPECT_EQ(Bytes(held.end() - 4, held.end()), (Bytes{0, 0, 0, 1}));
}

}  // namespace
}  // namespace flvdmx
