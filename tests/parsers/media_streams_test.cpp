// Real encoder output: raw H.264 and H.265 streams made by ffmpeg (libx264,
// libx265; scripts/media/parameter-sets.sh) fed to the mini-parsers, whose
// picture size, frame rate, profile, level, sample aspect, bit depth and
// interlacing must match what ffprobe reports for the same stream.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string>
#include <vector>

#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx {
namespace {

enum class Codec { kH264, kH265 };

struct StreamCase {
  const char* file;
  Codec codec;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<CMiniParser> MakeParser(Codec codec) {
  if (codec == Codec::kH264) return std::make_unique<CMiniParserH264>();
  return std::make_unique<CMiniParserH265>();
}

// ffprobe's profile names for the profile_idc values of each standard.
uint32_t ProfileIdc(Codec codec, const std::string& name) {
  static const std::map<std::string, uint32_t> h264 = {
      {"Baseline", 66}, {"Constrained Baseline", 66}, {"Main", 77}, {"Extended", 88}, {"High", 100},
      {"High 10", 110}, {"High 4:2:2", 122}, {"High 4:4:4 Predictive", 244}};
  static const std::map<std::string, uint32_t> h265 = {
      {"Main", 1}, {"Main 10", 2}, {"Main Still Picture", 3}, {"Rext", 4}};
  const auto& table = codec == Codec::kH264 ? h264 : h265;
  const auto it = table.find(name);
  return it == table.end() ? 0 : it->second;
}

// The stream as ffprobe reports it, from one run of ffprobe.
struct ProbedVideo {
  uint32_t width = 0, height = 0;
  std::string r_frame_rate;
  std::string profile;
  uint32_t level = 0;
  uint32_t sarWidth = 0, sarHeight = 0;
  std::string fieldOrder;
  std::string pixFmt;
};

bool ProbeVideo(const std::string& file, ProbedVideo* v) {
  int code = -1;
  const std::string out = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=width,height,r_frame_rate,profile,level,sample_aspect_ratio,field_order,pix_fmt -of json " +
          ShellQuote(file),
      &code);
  const nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  if (code != 0 || doc.is_discarded() || !doc.contains("streams") || doc["streams"].size() != 1) return false;
  const nlohmann::json& s = doc["streams"][0];
  v->width = s.value("width", 0u);
  v->height = s.value("height", 0u);
  v->r_frame_rate = s.value("r_frame_rate", "");
  v->profile = s.value("profile", "");
  v->level = s.value("level", 0u);
  const std::string sar = s.value("sample_aspect_ratio", "");
  if (std::sscanf(sar.c_str(), "%u:%u", &v->sarWidth, &v->sarHeight) != 2) v->sarWidth = v->sarHeight = 0;
  v->fieldOrder = s.value("field_order", "");
  v->pixFmt = s.value("pix_fmt", "");
  return true;
}

class MediaStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(MediaStreamTest, ParserAgreesWithFfprobe) {
  const StreamCase& c = GetParam();
  const std::string path = MediaPath(c.file);
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_FALSE(bytes.empty());
  ProbedVideo probe;
  ASSERT_TRUE(ProbeVideo(path, &probe)) << "ffprobe failed on " << path;

  std::unique_ptr<CMiniParser> parser = MakeParser(c.codec);
  ASSERT_EQ(parser->Parse(bytes.data(), static_cast<uint32_t>(bytes.size())), kMiniParserFound);
  const VideoStreamInfo& info = parser->GetStreamInfo();

  EXPECT_EQ(info.m_dwWidth, probe.width);
  EXPECT_EQ(info.m_dwHeight, probe.height);
  EXPECT_NEAR(info.m_dFrameRate, RatioValue(probe.r_frame_rate), 0.001) << probe.r_frame_rate;
  EXPECT_EQ(info.m_dwProfile, ProfileIdc(c.codec, probe.profile)) << probe.profile;
  EXPECT_EQ(info.m_dwLevel, probe.level);

  // ffprobe shows square samples as 1:1 whether or not the stream says so.
  if (probe.sarWidth && probe.sarWidth != probe.sarHeight) {
    EXPECT_EQ(info.m_bAspectRatioPresent, 1u);
    EXPECT_EQ(info.m_dwSarWidth * probe.sarHeight, info.m_dwSarHeight * probe.sarWidth)
        << info.m_dwSarWidth << ":" << info.m_dwSarHeight << " vs " << probe.sarWidth << ":" << probe.sarHeight;
  } else if (info.m_bAspectRatioPresent) {
    EXPECT_EQ(info.m_dwSarWidth, info.m_dwSarHeight);
  }

  if (c.codec == Codec::kH265) {
    const uint32_t depth = probe.pixFmt.find("10") != std::string::npos ? 10 : 8;
    EXPECT_EQ(info.m_dwLumaBitDepth, depth) << probe.pixFmt;
    EXPECT_EQ(info.m_dwChromaBitDepth, depth);
    const bool fields = probe.fieldOrder == "tt" || probe.fieldOrder == "bb" || probe.fieldOrder == "tb" ||
                        probe.fieldOrder == "bt";
    if (fields) {
      EXPECT_EQ(info.m_bInterlaced, 1u);
    }
  }

  // The parameter-set bytes start with the trigger unit's start code.
  const CBuffer& sets = parser->GetParameterSets();
  ASSERT_GE(sets.Size(), 4);
  EXPECT_EQ(sets.Data()[2], 1);
}

// The H.264 parser is also fed in pieces; a set cut off by the end of one
// piece is held until the next. (The H.265 parser needs its three sets in
// one piece, as the video description gives them.)
class H264PiecesTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(H264PiecesTest, PiecesGiveTheSameAnswerAsTheWholeStream) {
  const StreamCase& c = GetParam();
  const std::vector<uint8_t> bytes = ReadFile(MediaPath(c.file));
  ASSERT_FALSE(bytes.empty());
  std::unique_ptr<CMiniParser> whole = MakeParser(c.codec);
  ASSERT_EQ(whole->Parse(bytes.data(), static_cast<uint32_t>(bytes.size())), kMiniParserFound);
  for (size_t piece : {1u, 2u, 5u, 13u, 100u}) {
    std::unique_ptr<CMiniParser> parser = MakeParser(c.codec);
    HRESULT hr = S_FALSE;
    for (size_t pos = 0; pos < bytes.size() && hr != kMiniParserFound; pos += piece)
      hr = parser->Parse(bytes.data() + pos, static_cast<uint32_t>(std::min(piece, bytes.size() - pos)));
    ASSERT_EQ(hr, kMiniParserFound) << "pieces of " << piece;
    EXPECT_EQ(parser->GetStreamInfo().m_dwWidth, whole->GetStreamInfo().m_dwWidth);
    EXPECT_EQ(parser->GetStreamInfo().m_dwHeight, whole->GetStreamInfo().m_dwHeight);
    EXPECT_EQ(parser->GetStreamInfo().m_dFrameRate, whole->GetStreamInfo().m_dFrameRate);
  }
}

const StreamCase kH264Streams[] = {
    {"ps_h264_baseline_176x144_25.h264", Codec::kH264},
    {"ps_h264_main_720x576_25.h264", Codec::kH264},
    {"ps_h264_main_322x242_24.h264", Codec::kH264},
    {"ps_h264_high_1280x720_50.h264", Codec::kH264},
    {"ps_h264_high_1920x1080_ntsc.h264", Codec::kH264},
    {"ps_h264_high_sar_720x576_25.h264", Codec::kH264},
    {"ps_h264_high_sar_352x288_25.h264", Codec::kH264},
    {"ps_h264_high10_640x360_25.h264", Codec::kH264},
    {"ps_h264_high422_322x242_30.h264", Codec::kH264},
    {"ps_h264_interlaced_1920x1080_25.h264", Codec::kH264},
    {"ps_h264_interlaced_720x480_ntsc.h264", Codec::kH264},
};

const StreamCase kH265Streams[] = {
    {"ps_h265_main_320x240_25.h265", Codec::kH265},
    {"ps_h265_main_322x242_24.h265", Codec::kH265},
    {"ps_h265_main_1280x720_50.h265", Codec::kH265},
    {"ps_h265_main_1920x1080_ntsc.h265", Codec::kH265},
    {"ps_h265_main_sar_720x576_25.h265", Codec::kH265},
    {"ps_h265_main10_640x360_50.h265", Codec::kH265},
    {"ps_h265_rext422_322x242_25.h265", Codec::kH265},
    {"ps_h265_rext444_178x146_30.h265", Codec::kH265},
    {"ps_h265_interlaced_720x576_25.h265", Codec::kH265},
    {"ps_h265_main_176x144_hrd.h265", Codec::kH265},
    {"ps_h265_main_scaling_176x144_25.h265", Codec::kH265},
    {"ps_h265_main_rps_320x240_25.h265", Codec::kH265},
};

std::string CaseName(const ::testing::TestParamInfo<StreamCase>& info) {
  // "ps_h264_main_720x576_25.h264" -> "H264Main720x576_25"
  std::string name;
  const std::string file = info.param.file;
  bool upper = true;
  for (size_t i = 3; i < file.size() && file[i] != '.'; ++i) {
    if (file[i] == '_') {
      upper = true;
      const bool digits = std::isdigit(static_cast<unsigned char>(name.back())) &&
                          std::isdigit(static_cast<unsigned char>(file[i + 1]));
      if (digits) name += '_';
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(file[i]))) : file[i];
    upper = false;
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(H264, MediaStreamTest, ::testing::ValuesIn(kH264Streams), CaseName);
INSTANTIATE_TEST_SUITE_P(H265, MediaStreamTest, ::testing::ValuesIn(kH265Streams), CaseName);
INSTANTIATE_TEST_SUITE_P(H264, H264PiecesTest, ::testing::ValuesIn(kH264Streams), CaseName);

// libx264's High 4:4:4 Predictive stream: the profile is not taken, so no
// group is ever found.
TEST(MediaStream, High444PredictiveIsNotTaken) {
  const std::vector<uint8_t> bytes = ReadFile(MediaPath("ps_h264_high444_176x144_25.h264"));
  ASSERT_FALSE(bytes.empty());
  CMiniParserH264 parser;
  EXPECT_EQ(parser.Parse(bytes.data(), static_cast<uint32_t>(bytes.size())), S_FALSE);
  EXPECT_EQ(parser.GetStreamInfo().m_dwWidth, 0u);
}

}  // namespace
}  // namespace flvdmx
