// The mini-parser base: finding a group in input split anywhere, and the
// parameter-set bytes it keeps.
#include <gtest/gtest.h>

#include <algorithm>
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

// 00 00 01 00 00 01: the zero after the first start code begins the second,
// leaving an empty unit; the set behind it is found whole and in pieces.
TEST(MiniParser, StartCodeRightAfterAStartCodeIsNotSkipped) {
  Bytes stream{0, 0, 1, 0, 0, 1};
  for (const Bytes& unit : {test::H264SpsUnit(test::H264Sps{}), test::H264PpsUnit()}) {
    stream.insert(stream.end(), unit.begin(), unit.end());
    stream.insert(stream.end(), {0, 0, 1});
  }
  stream.push_back(0x65);
  for (const size_t piece : {stream.size(), size_t{3}, size_t{6}, size_t{7}}) {
    SCOPED_TRACE(piece);
    CMiniParserH264 parser;
    for (size_t pos = 0; pos < stream.size(); pos += piece)
      (void)parser.Parse(stream.data() + pos,
                         static_cast<uint32_t>(std::min(piece, stream.size() - pos)));
    EXPECT_EQ(parser.GetState(), CMiniParser::kDone);
  }
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

// Every video parameter set of a run starts a group whose walk reaches the
// end: searched from each in turn that was hours for a record of a few MB.
// Each unit is now parsed once, so this finishes well inside the test's
// time limit even under the sanitizers.
TEST(MiniParser, H265RunOfVideoParameterSetsIsWalkedOnce) {
  Bytes flood;
  for (int i = 0; i < 200000; ++i) {
    flood.insert(flood.end(), {0, 0, 0, 1});
    flood.insert(flood.end(), kH265Vps.begin(), kH265Vps.end());
  }
  CMiniParserH265 alone;
  EXPECT_EQ(alone.Parse(flood.data(), static_cast<uint32_t>(flood.size())), kMiniParserNothingYet);

  Bytes completed = flood;
  const Bytes group = AnnexB({kH265Sps, kH265Pps, {0x26, 0x01, 0xAF, 0x00}});
  completed.insert(completed.end(), group.begin(), group.end());
  CMiniParserH265 parser;
  EXPECT_EQ(parser.Parse(completed.data(), static_cast<uint32_t>(completed.size())),
            kMiniParserFound);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 320u);
}

}  // namespace
}  // namespace flvdmx
