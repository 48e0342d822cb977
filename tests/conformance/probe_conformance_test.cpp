// What `flvdmx probe --json` says a file's streams are, against what they
// really are: ffprobe for the files ffmpeg writes, the writer's own record
// for streams ffmpeg cannot write or read in FLV.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "conformance/cli_runs.h"
#include "streams/video_units.h"
#include "support/flv_writer.h"

namespace flvdmx::conformance {
namespace {

struct ProbeRun {
  int exitCode = -1;
  json object;
  std::string err;
};

ProbeRun RunProbeJson(const std::string& file) {
  ProbeRun run;
  TempDir dir;
  const std::string errFile = dir.File("err");
  const std::string out = RunCommand(
      Cli() + " probe --json " + ShellQuote(file) + " 2>" + ShellQuote(errFile), &run.exitCode);
  run.object = json::parse(out, nullptr, false);
  run.err = RunCommand("cat " + ShellQuote(errFile));
  return run;
}

const json* PinOfKind(const json& object, const char* name) {
  for (const json& pin : object["pins"])
    if (pin.value("name", "") == name) return &pin;
  return nullptr;
}

class ProbeAgreesWithFfprobe : public ::testing::TestWithParam<const char*> {};

// The picture size, the rate and channels a decoder puts out, and a wave
// format whose block and byte rate follow from them.
TEST_P(ProbeAgreesWithFfprobe, SizeRateAndChannelsAreTheStreams) {
  const std::string file = Media(GetParam());
  const ProbeRun run = RunProbeJson(file);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_TRUE(run.object.is_object());
  for (const ProbeStream& s : ProbeStreams(file)) {
    SCOPED_TRACE(s.codec_name);
    const bool video = s.codec_type == "video";
    const json* pin = PinOfKind(run.object, video ? "Video" : "Audio");
    ASSERT_NE(pin, nullptr);
    if (video) {
      EXPECT_EQ(pin->value("width", 0), s.width);
      EXPECT_EQ(pin->value("height", 0), s.height);
      continue;
    }
    EXPECT_EQ(pin->value("sample_rate", 0), s.sample_rate);
    EXPECT_EQ(pin->value("channels", 0), s.channels);
    const int bits = pin->value("bits", 0), channels = pin->value("channels", 0);
    if (s.codec_name == "mp3") {
      EXPECT_EQ(pin->value("block_align", 0), 1);
    } else {
      EXPECT_EQ(pin->value("block_align", 0), bits * channels / 8);
      EXPECT_EQ(pin->value("avg_bytes_per_sec", 0), bits * channels / 8 * s.sample_rate);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProbeAgreesWithFfprobe,
                         ::testing::Values("h264_aac.flv", "aac_only.flv", "h264_aac_long.flv",
                                           "h264_mp3.flv", "h263_mp3.flv", "pcm.flv",
                                           "decoders/mp3_11025_mono.flv",
                                           "decoders/mp3_22050_stereo.flv",
                                           "h264rgb_aac22050mono.flv"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// Streams ffmpeg cannot put in FLV (HEVC) or cannot encode (VP6): the size
// is the one the writer coded.
struct CraftedVideo {
  const char* name;
  std::vector<uint8_t> first;  // the first video tag's payload
  int width, height;
  const char* configBox;  // the box type after the bitmap header, or ""
};

class CraftedVideoProbe : public ::testing::TestWithParam<CraftedVideo> {};

TEST_P(CraftedVideoProbe, SizeIsTheCodedOne) {
  const CraftedVideo& c = GetParam();
  TempDir dir;
  FlvWriter w(kFlvHasVideo);
  w.Video(0, c.first);
  for (uint32_t t = 0; t < 5; ++t) {
    std::vector<uint8_t> frame = c.first;
    if (c.configBox[0]) frame = {0x1C, 1, 0, 0, 0, 0, 0, 0, 2, 0x26, 0x01};
    w.Video(40 * t, frame);
  }
  const std::string file = dir.File("crafted.flv");
  ASSERT_TRUE(w.WriteFile(file));
  const ProbeRun run = RunProbeJson(file);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json* pin = PinOfKind(run.object, "Video");
  ASSERT_NE(pin, nullptr);
  EXPECT_EQ(pin->value("width", 0), c.width);
  EXPECT_EQ(pin->value("height", 0), c.height);
  if (c.configBox[0]) {
    // The box type is the 13th to 16th bytes after the 88-byte header, in hex.
    const std::string format = pin->value("format", "");
    ASSERT_GE(format.size(), 2u * (88 + 8));
    std::string type;
    for (size_t i = 0; i < 4; ++i)
      type += static_cast<char>(std::stoi(format.substr(2 * (88 + 4 + i), 2), nullptr, 16));
    EXPECT_EQ(type, c.configBox);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writer, CraftedVideoProbe,
    ::testing::Values(
        CraftedVideo{"HevcWithHvccRecord",
                     SequenceHeaderPayload(
                         12, HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}})),
                     320, 180, "hvcC"},
        CraftedVideo{"HevcAvcLikeRecord",
                     SequenceHeaderPayload(12, ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01)),
                     320, 180, "avcC"},
        CraftedVideo{"Vp6SeparatedCoefficients",
                     {0x14, 0, 0x37, 0x46, 0x12, 0x34, 30, 40, 30, 40, 0, 0},
                     640,
                     480,
                     ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A file whose every stream the filter cannot play still gets its object:
// no pins, a null duration and the reason; the exit status and the one line
// on stderr stay those of the failure.
TEST(ProbeJson, FileWithoutPlayableStreamPrintsTheObjectAndFails) {
  const struct {
    const char* name;
    uint8_t flags;
    bool video;
    const char* result;
  } cases[] = {
      {"AdpcmAudioOnly", 0x1E, false, "VFW_E_UNSUPPORTED_AUDIO"},
      {"Vp6AlphaVideoOnly", 0x15, true, "VFW_E_UNSUPPORTED_VIDEO"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FlvWriter w(c.video ? kFlvHasVideo : kFlvHasAudio);
    for (uint32_t t = 0; t < 3; ++t)
      w.Tag(c.video ? kFlvTagVideo : kFlvTagAudio, 40 * t, std::vector<uint8_t>(16, c.flags));
    const std::string file = dir.File("unplayable.flv");
    ASSERT_TRUE(w.WriteFile(file));
    const ProbeRun run = RunProbeJson(file);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_TRUE(run.object.is_object()) << "stdout is not one JSON object";
    EXPECT_EQ(run.object.value("file", ""), file);
    EXPECT_TRUE(run.object["duration"].is_null());
    EXPECT_TRUE(run.object["pins"].is_array() && run.object["pins"].empty());
    EXPECT_EQ(run.object["error"].value("result", ""), c.result);
    EXPECT_FALSE(run.object["error"].value("problem", "").empty());
    EXPECT_EQ(run.err.rfind("flvdmx: " + file + ": ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  }
}

}  // namespace
}  // namespace flvdmx::conformance
