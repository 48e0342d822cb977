// Hostile input: parameter sets from the encoders and from the writers,
// truncated at every length, bit-flipped, overwritten with random bytes,
// or replaced by random data altogether, thousands of seeded cases per
// parser. Every case must end with a status the interface allows and leave
// nothing out of bounds (the suite runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "h264/q264.h"
#include "h264/q264_bit_reader.h"
#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "parsers/nal_bit_reader.h"
#include "support/media.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using Bytes = std::vector<uint8_t>;

// The parameter-set group a parser keeps from a real stream.
Bytes GroupFromFile(const char* name, bool h265) {
  std::ifstream in(MediaPath(name), std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::unique_ptr<CMiniParser> parser;
  if (h265)
    parser = std::make_unique<CMiniParserH265>();
  else
    parser = std::make_unique<CMiniParserH264>();
  EXPECT_EQ(parser->Parse(file.data(), static_cast<uint32_t>(file.size())), kMiniParserFound) << name;
  const CBuffer& sets = parser->GetParameterSets();
  return Bytes(sets.Data(), sets.Data() + sets.Size());
}

std::vector<Bytes> H264Seeds() {
  test::H264Sps rich;
  rich.scaling_matrix = true;
  rich.pic_order_cnt_type = 1;
  rich.num_ref_frames_in_pic_order_cnt_cycle = 40;
  rich.frame_mbs_only_flag = 0;
  rich.frame_cropping_flag = 1;
  rich.crop_bottom = 2;
  rich.vui_parameters_present_flag = 1;
  rich.aspect_ratio_info_present_flag = 1;
  rich.aspect_ratio_idc = 255;
  rich.sar_width = 4;
  rich.sar_height = 3;
  rich.timing_info_present_flag = 1;
  rich.num_units_in_tick = 1001;
  rich.time_scale = 60000;
  return {test::AnnexB({test::H264SpsUnit(rich), test::H264PpsUnit()}),
          GroupFromFile("ps_h264_high_1920x1080_ntsc.h264", false),
          GroupFromFile("ps_h264_interlaced_720x480_ntsc.h264", false),
          GroupFromFile("ps_h264_high_sar_720x576_25.h264", false)};
}

std::vector<Bytes> H265Seeds() {
  test::H265Vps vps;
  vps.vps_max_sub_layers_minus1 = 2;
  vps.vps_timing_info_present_flag = 1;
  vps.vps_num_hrd_parameters = 1;
  test::H265Sps sps;
  sps.sps_max_sub_layers_minus1 = 2;
  sps.conformance_window_flag = 1;
  sps.conf_bottom = 4;
  sps.scaling_list_enabled_flag = 1;
  sps.sps_scaling_list_data_present_flag = 1;
  sps.pcm_enabled_flag = 1;
  sps.rps = {test::H265Rps{false, {{0, 1}, {1, 1}}, {{0, 1}}},
             test::H265Rps{true, {}, {}, 1, 0, {{1, 1}, {0, 0}, {1, 1}, {1, 1}}}};
  sps.lt_ref_pic_poc_lsb_sps = {3, 9};
  sps.vui_parameters_present_flag = 1;
  sps.aspect_ratio_info_present_flag = 1;
  sps.aspect_ratio_idc = 255;
  sps.sar_width = 16;
  sps.sar_height = 11;
  sps.vui_timing_info_present_flag = 1;
  sps.vui_num_units_in_tick = 1;
  sps.vui_time_scale = 25;
  sps.vui_hrd_parameters_present_flag = 1;
  sps.bitstream_restriction_flag = 1;
  test::H265Pps pps;
  pps.tiles_enabled_flag = 1;
  pps.num_tile_columns_minus1 = 2;
  pps.num_tile_rows_minus1 = 2;
  pps.uniform_spacing_flag = 0;
  pps.deblocking_filter_control_present_flag = 1;
  pps.pps_scaling_list_data_present_flag = 1;
  const Bytes slice{0x26, 0x01, 0xAF, 0x11, 0x22, 0x33};
  return {test::AnnexB({test::H265VpsUnit(vps), test::H265SpsUnit(sps), test::H265PpsUnit(pps), slice}),
          GroupFromFile("ps_h265_main_176x144_hrd.h265", true),
          GroupFromFile("ps_h265_main_rps_320x240_25.h265", true),
          GroupFromFile("ps_h265_main_scaling_176x144_25.h265", true),
          GroupFromFile("ps_h265_rext422_322x242_25.h265", true)};
}

// Feeds one input whole, and again in random pieces, to a fresh parser.
template <typename Parser>
void FeedAndCheck(const Bytes& input, std::mt19937& rng) {
  for (int pass = 0; pass < 2; ++pass) {
    Parser parser;
    // A copy of exactly the input's size, so that ASan sees any overread.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[input.size() + 1]);
    std::copy(input.begin(), input.end(), exact.get());
    size_t pos = 0;
    do {
      const size_t piece = pass == 0 ? input.size() : std::min<size_t>(input.size() - pos, 1 + rng() % 40);
      const HRESULT hr = parser.Parse(exact.get() + pos, static_cast<uint32_t>(piece));
      ASSERT_TRUE(hr == kMiniParserFound || hr == kMiniParserNothingYet || hr == kMiniParserIncomplete) << hr;
      pos += piece;
    } while (pos < input.size());
    const VideoStreamInfo& info = parser.GetStreamInfo();
    if (parser.GetState() == CMiniParser::kDone) {
      ASSERT_TRUE(info.m_dFrameRate >= 0.0) << "no NaN, no negative rate";
    }
  }
}

template <typename Parser>
void Mutate(const std::vector<Bytes>& seeds, uint32_t seed, int rounds) {
  std::mt19937 rng(seed);
  for (const Bytes& s : seeds) {
    // Every truncation.
    for (size_t n = 0; n <= s.size(); ++n) FeedAndCheck<Parser>(Bytes(s.begin(), s.begin() + n), rng);
    for (int round = 0; round < rounds; ++round) {
      Bytes m = s;
      switch (round % 4) {
        case 0:  // a few bit flips
          for (int k = 0, n = 1 + rng() % 4; k < n; ++k) m[rng() % m.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
          break;
        case 1:  // a run of random bytes
          for (size_t k = rng() % m.size(), n = 1 + rng() % 8; k < m.size() && n; ++k, --n)
            m[k] = static_cast<uint8_t>(rng());
          break;
        case 2:  // a long run of zero or one bits, to stretch Exp-Golomb codes
          std::fill(m.begin() + rng() % m.size(), m.end(), (rng() & 1) ? 0x00 : 0xFF);
          break;
        default: {  // bytes cut out of the middle, sometimes the tail too
          const size_t from = rng() % m.size();
          const size_t count = std::min<size_t>(m.size() - from, rng() % 6);
          m.erase(m.begin() + from, m.begin() + from + count);
          if (rng() & 1) m.resize(rng() % (m.size() + 1));
          break;
        }
      }
      FeedAndCheck<Parser>(m, rng);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(ParserFuzz, H264MutatedParameterSets) { Mutate<CMiniParserH264>(H264Seeds(), 264, 2000); }

TEST(ParserFuzz, H265MutatedParameterSets) { Mutate<CMiniParserH265>(H265Seeds(), 265, 2000); }

// Random streams with start codes sprinkled in and headers of the trigger
// kinds, so that the parsers get past the search into the syntax.
template <typename Parser>
void RandomStreams(uint32_t seed, std::initializer_list<uint8_t> headers) {
  std::mt19937 rng(seed);
  const std::vector<uint8_t> kinds(headers);
  for (int i = 0; i < 2000; ++i) {
    Bytes m(rng() % 300);
    for (uint8_t& b : m) b = static_cast<uint8_t>(rng());
    for (size_t k = 0; k + 6 < m.size(); k += 4 + rng() % 40) {
      m[k] = 0;
      m[k + 1] = 0;
      m[k + 2] = 1;
      m[k + 3] = kinds[rng() % kinds.size()];
      m[k + 4] = 0x01;
    }
    FeedAndCheck<Parser>(m, rng);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(ParserFuzz, H264RandomStreams) { RandomStreams<CMiniParserH264>(1264, {0x67, 0x27, 0x68, 0x65, 0x47}); }

TEST(ParserFuzz, H265RandomStreams) { RandomStreams<CMiniParserH265>(1265, {0x40, 0x42, 0x44, 0x4E, 0x26}); }

// The readers on their own: random reads of random kinds never pass the end.
TEST(ParserFuzz, BitReadersStayInsideTheirBytes) {
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    const size_t n = rng() % 24;
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[n + 1]);
    for (size_t k = 0; k < n; ++k) bytes[k] = static_cast<uint8_t>((rng() % 3 == 0) ? rng() % 4 : rng());
    NalBitReader nal(bytes.get(), bytes.get() + n);
    Q264BitReader q(bytes.get(), n);
    for (int reads = 0; reads < 64; ++reads) {
      uint32_t u;
      int32_t s;
      switch (rng() % 3) {
        case 0:
          (void)nal.ReadBits(static_cast<int>(rng() % 33), &u);
          (void)q.ReadBits(static_cast<int>(rng() % 33), &u);
          break;
        case 1:
          (void)nal.ReadUe(&u);
          (void)q.ReadUe(&u);
          break;
        default:
          (void)nal.ReadSe(&s);
          (void)q.ReadSe(&s);
          break;
      }
    }
    Bytes unit(bytes.get(), bytes.get() + n);
    unit.insert(unit.begin(), 0x67);
    const uint32_t len = Q264_EBSPtoRBSP(unit.data(), static_cast<uint32_t>(unit.size()));
    ASSERT_LE(len, unit.size());
    Q264SeqParameterSet sps;
    (void)Q264_ParseSeqParameterSet(bytes.get(), n, &sps);
  }
}

}  // namespace
}  // namespace flvdmx
