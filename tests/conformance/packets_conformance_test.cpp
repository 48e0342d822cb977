// Whole-file playback of the ffmpeg-made corpus through the filter
// (`flvdmx packets`, `flvdmx probe`), checked sample by sample against ffprobe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance/cli_runs.h"

namespace flvdmx::conformance {
namespace {

struct CorpusFile {
  const char* name;
  const char* videoCodec;  // what probe names the pin's codec; null: no Video pin
  const char* audioCodec;  // null: no Audio pin
};

class FullPlayTest : public ::testing::TestWithParam<CorpusFile> {};

// Per pin: the samples are ffprobe's packets (time = dts, size, CRC-32, key
// frames = sync points); each stop is the time of the stream's next tag
// (sequence headers included, though they bring no sample) and the last tag
// lasts 26 ms; the discontinuity goes with the tag delivery starts from, so a
// sequence header that starts the stream uses it up; nothing is preroll; one
// segment from 0 at rate 1 first and one end-of-stream last.
TEST_P(FullPlayTest, EveryPacketArrivesAsFfprobeSeesIt) {
  const std::string file = Media(GetParam().name);
  const PacketsRun run = RunPackets(file);
  ASSERT_EQ(run.exitCode, 0);
  const std::vector<ProbePacket> probed = ProbePackets(file);
  std::vector<std::string> pins;
  if (GetParam().videoCodec) pins.push_back("Video");
  if (GetParam().audioCodec) pins.push_back("Audio");
  EXPECT_EQ(run.samples.size(), pins.size());

  for (const std::string& pin : pins) {
    SCOPED_TRACE(pin);
    const std::vector<ProbePacket> packets = PacketsOf(probed, pin);
    const std::vector<TagInfo> tags = RunTags(file, pin == "Video" ? 9 : 8);
    ASSERT_EQ(run.samples.count(pin), 1u);
    const std::vector<CliSample>& samples = run.samples.at(pin);
    ASSERT_EQ(samples.size(), packets.size());
    // Delivery from 0 starts on the last of the stream's leading tags at 0.
    size_t startTag = 0;
    while (startTag + 1 < tags.size() && tags[startTag + 1].timeMs <= 0) ++startTag;
    size_t tag = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
      const CliSample& s = samples[i];
      const ProbePacket& p = packets[i];
      while (tag < tags.size() && tags[tag].position + 4 != p.pos) ++tag;
      ASSERT_LT(tag, tags.size()) << "no tag for packet " << i;
      SCOPED_TRACE("sample " + std::to_string(i));
      ASSERT_EQ(s.start, p.dts_ms * kMs);
      EXPECT_EQ(s.stop, tag + 1 < tags.size() ? tags[tag + 1].timeMs * kMs : s.start + 260000);
      EXPECT_EQ(s.size, p.size);
      EXPECT_EQ(s.crc32, p.crc32);
      EXPECT_EQ(s.sync, p.key);
      EXPECT_EQ(s.discontinuity, i == 0 && tag == startTag);
      EXPECT_FALSE(s.preroll);
    }
    ASSERT_EQ(run.segments.at(pin).size(), 1u);
    EXPECT_EQ(run.segments.at(pin)[0]["start"], 0);
    EXPECT_EQ(run.segments.at(pin)[0]["rate"], 1.0);
    EXPECT_EQ(run.eos.at(pin), 1);
    std::vector<std::string> lines;
    for (const std::string& line : run.order)
      if (line.find(":" + pin) != std::string::npos) lines.push_back(line);
    EXPECT_EQ(lines.front(), "segment:" + pin);
    EXPECT_EQ(lines.back(), "eos:" + pin);
  }
}

// Probe reports the same pins with ffprobe's picture size and sound format,
// and a duration that agrees within a frame or so (ffprobe adds the last
// packet's own length).
TEST_P(FullPlayTest, ProbeAgreesWithFfprobe) {
  const std::string file = Media(GetParam().name);
  int code = -1;
  const json j = json::parse(RunCommand(Cli() + " probe " + ShellQuote(file) + " --json", &code), nullptr, false);
  ASSERT_EQ(code, 0);
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(j["file"], file);
  const std::vector<ProbeStream> streams = ProbeStreams(file);
  ASSERT_FALSE(streams.empty());
  EXPECT_NEAR(j["duration"].get<double>() / 1e7, streams.front().duration, 0.1);

  std::vector<std::string> names;
  for (const json& pin : j["pins"]) {
    names.push_back(pin["name"]);
    for (const char* key : {"major", "subtype", "format_type"}) {
      const std::string guid = pin[key];
      EXPECT_EQ(guid.size(), 38u);
      EXPECT_EQ(guid.find_first_of("abcdef"), std::string::npos) << "upper-case hex: " << guid;
    }
    for (const ProbeStream& s : streams) {
      if (PinOf(s.codec_type) != pin["name"]) continue;
      if (s.codec_type == "video") {
        EXPECT_EQ(pin["codec"], GetParam().videoCodec);
        EXPECT_EQ(pin["width"], s.width);
        EXPECT_EQ(pin["height"], s.height);
        EXPECT_GT(pin["frame_duration"].get<int64_t>(), 0);
      } else {
        EXPECT_EQ(pin["codec"], GetParam().audioCodec);
        // AAC's wave format says what the FLV flags say (always 44 kHz
        // stereo); its AudioSpecificConfig has the truth.
        const bool aac = pin["codec"] == "aac";
        EXPECT_EQ(pin[aac ? "aac_sample_rate" : "sample_rate"], s.sample_rate);
        EXPECT_EQ(pin[aac ? "aac_channels" : "channels"], s.channels);
      }
    }
  }
  std::vector<std::string> expected;
  if (GetParam().videoCodec) expected.push_back("Video");
  if (GetParam().audioCodec) expected.push_back("Audio");
  EXPECT_EQ(names, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, FullPlayTest,
    ::testing::Values(CorpusFile{"h264_aac.flv", "h264", "aac"}, CorpusFile{"h264_aac_bframes.flv", "h264", "aac"},
                      CorpusFile{"h264_aac_nometa.flv", "h264", "aac"},
                      CorpusFile{"h264_aac_short.flv", "h264", "aac"}, CorpusFile{"h264_mp3.flv", "h264", "mp3"},
                      CorpusFile{"h263_mp3.flv", "sorenson_h263", "mp3"},
                      CorpusFile{"screen1.flv", "screen_video", nullptr},
                      CorpusFile{"screen2.flv", "screen_video_2", nullptr}, CorpusFile{"pcm.flv", nullptr, "pcm"},
                      CorpusFile{"nellymoser.flv", nullptr, "nellymoser"}, CorpusFile{"speex.flv", nullptr, "speex"},
                      CorpusFile{"aac_only.flv", nullptr, "aac"},
                      // Audio the filter cannot describe gets no pin; the video plays.
                      CorpusFile{"adpcm_h264.flv", "h264", nullptr},
                      CorpusFile{"h264_aac_long_nometa.flv", "h264", "aac"}),
    [](const auto& info) { return FileStem(info); });

}  // namespace
}  // namespace flvdmx::conformance
