// What `flvdmx probe --json` says a file's streams are, against what ffprobe
// says of the files ffmpeg writes; and what it says of a file it cannot play.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "conformance/cli_runs.h"
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
