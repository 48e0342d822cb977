// Seeded hostile input for both mini-parsers: every case ends with a stated
// status and, under ASan, reads nothing out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <type_traits>
#include <vector>

#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "support/media.h"

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
  EXPECT_EQ(parser->Parse(file.data(), static_cast<uint32_t>(file.size())), kMiniParserFound)
      << name;
  const CBuffer& sets = parser->GetParameterSets();
  return Bytes(sets.Data(), sets.Data() + sets.Size());
}

// Feeds one input whole, and again in random pieces, to a fresh parser.
template <typename Parser>
void FeedAndCheck(const Bytes& input, std::mt19937& rng) {
  for (int pass = 0; pass < 2; ++pass) {
    Parser parser;
    // Exactly sized: ASan sees a read one byte past the input.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[input.size()]);
    std::copy(input.begin(), input.end(), exact.get());
    size_t pos = 0;
    do {
      const size_t piece =
          pass == 0 ? input.size() : std::min<size_t>(input.size() - pos, 1 + rng() % 40);
      const HRESULT hr = parser.Parse(exact.get() + pos, static_cast<uint32_t>(piece));
      ASSERT_TRUE(hr == kMiniParserFound || hr == kMiniParserNothingYet ||
                  hr == kMiniParserIncomplete)
          << hr;
      pos += piece;
    } while (pos < input.size());
    if (parser.GetState() == CMiniParser::kDone) {
      ASSERT_TRUE(parser.GetStreamInfo().m_dFrameRate >= 0.0);
    }
  }
}

template <typename Parser>
void Mutate(std::initializer_list<const char*> files, uint32_t seed, int rounds) {
  std::mt19937 rng(seed);
  for (const char* file : files) {
    const Bytes s = GroupFromFile(file, std::is_same_v<Parser, CMiniParserH265>);
    // Every truncation.
    for (size_t n = 0; n <= s.size(); ++n)
      FeedAndCheck<Parser>(Bytes(s.begin(), s.begin() + n), rng);
    for (int round = 0; round < rounds; ++round) {
      Bytes m = s;
      switch (round % 4) {
        case 0:  // a few bit flips
          for (int k = 0, n = 1 + rng() % 4; k < n; ++k)
            m[rng() % m.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
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

TEST(ParserFuzz, MutatedParameterSetsEndWithAStatedStatus) {
  Mutate<CMiniParserH264>(
      {"ps_h264_high_1920x1080_ntsc.h264", "ps_h264_interlaced_720x480_ntsc.h264",
       "ps_h264_high_sar_720x576_25.h264", "ps_h264_rgb444_322x242_25.h264"},
      264, 2000);
  if (HasFatalFailure()) return;
  Mutate<CMiniParserH265>(
      {"ps_h265_main_176x144_hrd.h265", "ps_h265_main_rps_320x240_25.h265",
       "ps_h265_main_scaling_176x144_25.h265", "ps_h265_rext422_322x242_25.h265"},
      265, 3000);
}

}  // namespace
}  // namespace flvdmx
