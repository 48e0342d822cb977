// Whole-file playback of the ffmpeg-made corpus through the filter
// (`flvdmx packets`), checked sample by sample against ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "conformance/cli_runs.h"

namespace flvdmx::conformance {
namespace {

struct CorpusFile {
  const char* name;
  std::vector<std::string> pins;  // in the filter's order
};

void PrintTo(const CorpusFile& c, std::ostream* os) { *os << c.name; }

class FullPlayTest : public ::testing::TestWithParam<CorpusFile> {};

// Per pin: the samples are ffprobe's packets (time = dts, size, CRC-32, key
// frames = sync points); each stop is the time of the stream's next tag
// (sequence headers and end-of-sequence tags included, though they bring no
// sample) and the last tag lasts 26 ms; the discontinuity goes with the tag
// delivery starts from, so a sequence header that starts the stream uses it
// up; nothing is preroll; one segment from 0 at rate 1 before and one
// end-of-stream after.
TEST_P(FullPlayTest, EveryPacketArrivesAsFfprobeSeesIt) {
  const std::string file = Media(GetParam().name);
  const PacketsRun run = RunPackets(file);
  ASSERT_EQ(run.exitCode, 0);
  const std::vector<ProbePacket> probed = ProbePackets(file);
  ASSERT_FALSE(probed.empty());

  std::vector<std::string> pins;
  for (const auto& [pin, samples] : run.samples) pins.push_back(pin);
  std::vector<std::string> expectedPins = GetParam().pins;
  std::sort(expectedPins.begin(), expectedPins.end());
  EXPECT_EQ(pins, expectedPins);

  for (const std::string& pin : GetParam().pins) {
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
      ASSERT_EQ(s.start, p.dts_ms * kMs) << "sample " << i;
      EXPECT_EQ(s.stop, tag + 1 < tags.size() ? tags[tag + 1].timeMs * kMs : s.start + 260000)
          << "sample " << i;
      EXPECT_EQ(s.size, p.size) << "sample " << i;
      EXPECT_EQ(s.crc32, p.crc32) << "sample " << i;
      EXPECT_EQ(s.sync, p.key) << "sample " << i;
      EXPECT_EQ(s.discontinuity, i == 0 && tag == startTag) << "sample " << i;
      EXPECT_FALSE(s.preroll) << "sample " << i;
    }
    ASSERT_EQ(run.segments.at(pin).size(), 1u);
    const json& segment = run.segments.at(pin).front();
    EXPECT_EQ(segment["start"], 0);
    EXPECT_EQ(segment["rate"], 1.0);
    EXPECT_EQ(run.eos.at(pin), 1);
    // The segment line comes first, end-of-stream last.
    size_t firstLine = run.order.size(), lastLine = 0;
    for (size_t i = 0; i < run.order.size(); ++i) {
      if (run.order[i].find(":" + pin) == std::string::npos) continue;
      firstLine = std::min(firstLine, i);
      lastLine = i;
    }
    EXPECT_EQ(run.order[firstLine], "segment:" + pin);
    EXPECT_EQ(run.order[lastLine], "eos:" + pin);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, FullPlayTest,
    ::testing::Values(CorpusFile{"h264_aac.flv", {"Video", "Audio"}},
                      CorpusFile{"h264_aac_bframes.flv", {"Video", "Audio"}},
                      CorpusFile{"h264_aac_nometa.flv", {"Video", "Audio"}},
                      CorpusFile{"h264_aac_short.flv", {"Video", "Audio"}},
                      CorpusFile{"h264_mp3.flv", {"Video", "Audio"}},
                      CorpusFile{"h263_mp3.flv", {"Video", "Audio"}},
                      CorpusFile{"screen1.flv", {"Video"}},
                      CorpusFile{"screen2.flv", {"Video"}},
                      CorpusFile{"pcm.flv", {"Audio"}},
                      CorpusFile{"nellymoser.flv", {"Audio"}},
                      CorpusFile{"speex.flv", {"Audio"}},
                      CorpusFile{"aac_only.flv", {"Audio"}},
                      // Audio the filter cannot describe gets no pin; the video plays.
                      CorpusFile{"adpcm_h264.flv", {"Video"}},
                      CorpusFile{"h264_aac_long_nometa.flv", {"Video", "Audio"}}),
    [](const auto& info) {
      const std::string name = info.param.name;
      return name.substr(0, name.find('.'));
    });

// Probe reports what the pins offer, decoded, and the duration.
struct ProbeCase {
  const char* name;
  const char* videoCodec;  // null: no video pin
  const char* audioCodec;  // null: no audio pin
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class ProbeTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeTest, PinsAndDurationAgreeWithFfprobe) {
  const std::string file = Media(GetParam().name);
  int code = -1;
  const json j = json::parse(RunCommand(Cli() + " probe " + ShellQuote(file) + " --json", &code), nullptr, false);
  ASSERT_EQ(code, 0);
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(j["file"], file);
  const std::vector<ProbeStream> streams = ProbeStreams(file);
  ASSERT_FALSE(streams.empty());
  // Metadata or the last tag gives the duration; ffprobe's adds the last
  // packet's own length, so the two agree within a frame or so.
  EXPECT_NEAR(j["duration"].get<double>() / 1e7, streams.front().duration, 0.1);

  std::vector<std::string> names;
  for (const json& pin : j["pins"]) {
    names.push_back(pin["name"]);
    for (const char* key : {"major", "subtype", "format_type"}) {
      const std::string guid = pin[key];
      EXPECT_EQ(guid.size(), 38u);
      EXPECT_EQ(guid.find_first_of("abcdef"), std::string::npos) << "upper-case hex: " << guid;
    }
    EXPECT_EQ(pin["format"].get<std::string>().size() % 2, 0u);
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
        // stereo); its own AudioSpecificConfig has the truth.
        const bool aac = pin["codec"] == "aac";
        EXPECT_EQ(pin[aac ? "aac_sample_rate" : "sample_rate"], s.sample_rate);
        EXPECT_EQ(pin[aac ? "aac_channels" : "channels"], s.channels);
      }
    }
  }
  std::vector<std::string> expected;
  if (GetParam().videoCodec != nullptr) expected.push_back("Video");
  if (GetParam().audioCodec != nullptr) expected.push_back("Audio");
  EXPECT_EQ(names, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, ProbeTest,
    ::testing::Values(ProbeCase{"h264_aac.flv", "h264", "aac"},
                      ProbeCase{"h264_aac_nometa.flv", "h264", "aac"},
                      ProbeCase{"h264_mp3.flv", "h264", "mp3"},
                      ProbeCase{"h263_mp3.flv", "sorenson_h263", "mp3"},
                      ProbeCase{"screen1.flv", "screen_video", nullptr},
                      ProbeCase{"screen2.flv", "screen_video_2", nullptr},
                      ProbeCase{"pcm.flv", nullptr, "pcm"},
                      ProbeCase{"nellymoser.flv", nullptr, "nellymoser"},
                      ProbeCase{"speex.flv", nullptr, "speex"},
                      ProbeCase{"adpcm_h264.flv", "h264", nullptr},
                      ProbeCase{"h264_aac_long_nometa.flv", "h264", "aac"}),
    [](const auto& info) {
      const std::string name = info.param.name;
      return name.substr(0, name.find('.'));
    });

}  // namespace
}  // namespace flvdmx::conformance
