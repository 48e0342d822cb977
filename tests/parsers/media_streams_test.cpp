// Raw H.264 and H.265 streams made by ffmpeg (libx264, libx265) fed to the
// mini-parsers: what they find must match what ffprobe reports.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx {
namespace {

// ffprobe's profile names for the profile_idc values of each standard.
uint32_t ProfileIdc(bool h265, const std::string& name) {
  static const std::map<std::string, uint32_t> h264 = {
      {"Baseline", 66},    {"Constrained Baseline", 66},
      {"Main", 77},        {"Extended", 88},
      {"High", 100},       {"High 10", 110},
      {"High 4:2:2", 122}, {"High 4:4:4 Predictive", 244}};
  static const std::map<std::string, uint32_t> hevc = {
      {"Main", 1}, {"Main 10", 2}, {"Main Still Picture", 3}, {"Rext", 4}};
  const auto& table = h265 ? hevc : h264;
  const auto it = table.find(name);
  return it == table.end() ? 0 : it->second;
}

class MediaStreamTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MediaStreamTest, ParserAgreesWithFfprobe) {
  const std::string path = MediaPath(GetParam());
  const bool h265 = path.back() == '5';
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  ASSERT_FALSE(bytes.empty());
  int code = -1;
  const nlohmann::json doc =
      nlohmann::json::parse(RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                       "stream=width,height,r_frame_rate,profile,level,sample_"
                                       "aspect_ratio,field_order,pix_fmt -of json " +
                                           ShellQuote(path),
                                       &code),
                            nullptr, false);
  ASSERT_TRUE(code == 0 && !doc.is_discarded() && doc["streams"].size() == 1)
      << "ffprobe failed on " << path;
  const nlohmann::json& probe = doc["streams"][0];

  std::unique_ptr<CMiniParser> parser;
  if (h265)
    parser = std::make_unique<CMiniParserH265>();
  else
    parser = std::make_unique<CMiniParserH264>();
  ASSERT_EQ(parser->Parse(bytes.data(), static_cast<uint32_t>(bytes.size())), kMiniParserFound);
  const VideoStreamInfo& info = parser->GetStreamInfo();

  EXPECT_EQ(info.m_dwWidth, probe.value("width", 0u));
  EXPECT_EQ(info.m_dwHeight, probe.value("height", 0u));
  EXPECT_NEAR(info.m_dFrameRate, RatioValue(probe.value("r_frame_rate", "")), 0.001);
  EXPECT_EQ(info.m_dwProfile, ProfileIdc(h265, probe.value("profile", "")))
      << probe.value("profile", "");
  EXPECT_EQ(info.m_dwLevel, probe.value("level", 0u));

  // ffprobe shows square samples as 1:1 whether or not the stream says so.
  uint32_t sarWidth = 0, sarHeight = 0;
  (void)std::sscanf(probe.value("sample_aspect_ratio", "").c_str(), "%u:%u", &sarWidth, &sarHeight);
  if (sarWidth && sarWidth != sarHeight) {
    EXPECT_EQ(info.m_bAspectRatioPresent, 1u);
    EXPECT_EQ(info.m_dwSarWidth * sarHeight, info.m_dwSarHeight * sarWidth)
        << info.m_dwSarWidth << ":" << info.m_dwSarHeight << " vs " << sarWidth << ":" << sarHeight;
  } else if (info.m_bAspectRatioPresent) {
    EXPECT_EQ(info.m_dwSarWidth, info.m_dwSarHeight);
  }

  if (h265) {
    const std::string pixFmt = probe.value("pix_fmt", "");
    const uint32_t depth = pixFmt.find("10") != std::string::npos ? 10 : 8;
    EXPECT_EQ(info.m_dwLumaBitDepth, depth) << pixFmt;
    EXPECT_EQ(info.m_dwChromaBitDepth, depth);
    if (probe.value("field_order", "").size() == 2) {
      EXPECT_EQ(info.m_bInterlaced, 1u);
    }
  }

  // The parameter-set bytes start with the trigger unit's start code.
  const CBuffer& sets = parser->GetParameterSets();
  ASSERT_GE(sets.Size(), 4);
  EXPECT_EQ(sets.Data()[2], 1);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, MediaStreamTest,
    ::testing::Values("ps_h264_baseline_176x144_25.h264", "ps_h264_main_720x576_25.h264",
                      "ps_h264_main_322x242_24.h264", "ps_h264_high_1280x720_50.h264",
                      "ps_h264_high_1920x1080_ntsc.h264", "ps_h264_high_sar_720x576_25.h264",
                      "ps_h264_high_sar_352x288_25.h264", "ps_h264_high10_640x360_25.h264",
                      "ps_h264_high422_322x242_30.h264", "ps_h264_interlaced_1920x1080_25.h264",
                      "ps_h264_interlaced_720x480_ntsc.h264", "ps_h264_rgb444_322x242_25.h264",
                      "ps_h265_main_320x240_25.h265", "ps_h265_main_322x242_24.h265",
                      "ps_h265_main_1280x720_50.h265", "ps_h265_main_1920x1080_ntsc.h265",
                      "ps_h265_main_sar_720x576_25.h265", "ps_h265_main10_640x360_50.h265",
                      "ps_h265_rext422_322x242_25.h265", "ps_h265_rext444_178x146_30.h265",
                      "ps_h265_interlaced_720x576_25.h265", "ps_h265_main_176x144_hrd.h265",
                      "ps_h265_main_scaling_176x144_25.h265", "ps_h265_main_rps_320x240_25.h265"),
    [](const auto& info) {
      std::string name = std::string(info.param).substr(3);  // "ps_h264_main_720x576_25.h264"
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

}  // namespace
}  // namespace flvdmx
