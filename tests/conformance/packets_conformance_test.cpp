// Whole-file playback of the ffmpeg-made corpus through the filter
// (`flvdmx packets`), checked sample by sample against ffprobe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance/cli_runs.h"

namespace flvdmx::conformance {
namespace {

struct CorpusFile {
  const char* name;
  bool video, audio;  // the pins it has
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
  if (GetParam().video) pins.push_back("Video");
  if (GetParam().audio) pins.push_back("Audio");
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

INSTANTIATE_TEST_SUITE_P(
    Corpus, FullPlayTest,
    ::testing::Values(
        CorpusFile{"h264_aac.flv", true, true}, CorpusFile{"h264_aac_bframes.flv", true, true},
        CorpusFile{"h264_aac_nometa.flv", true, true}, CorpusFile{"h264_aac_short.flv", true, true},
        CorpusFile{"h264_mp3.flv", true, true}, CorpusFile{"h263_mp3.flv", true, true},
        CorpusFile{"screen1.flv", true, false}, CorpusFile{"screen2.flv", true, false},
        CorpusFile{"pcm.flv", false, true}, CorpusFile{"nellymoser.flv", false, true},
        CorpusFile{"speex.flv", false, true}, CorpusFile{"aac_only.flv", false, true},
        // Audio the filter cannot describe gets no pin; the video plays.
        CorpusFile{"adpcm_h264.flv", true, false},
        CorpusFile{"h264_aac_long_nometa.flv", true, true}),
    [](const auto& info) { return FileStem(info); });

}  // namespace
}  // namespace flvdmx::conformance
