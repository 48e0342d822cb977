// Seeks (`flvdmx packets --start`) on the corpus: where each stream starts, against ffprobe's
// packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "conformance/cli_runs.h"

namespace flvdmx::conformance {
namespace {

// The index of the packet whose dts is `t` (reference time); -1 if none.
int IndexAtTime(const std::vector<ProbePacket>& packets, int64_t t) {
  for (size_t i = 0; i < packets.size(); ++i)
    if (packets[i].dts_ms * kMs == t) return static_cast<int>(i);
  return -1;
}

// The start, video key frames' times and the milliseconds around them, other video tags, random
// times, the last tag.
std::vector<int64_t> TargetsFor(const std::vector<ProbePacket>& video, int64_t lastMs,
                                int cRandom) {
  std::set<int64_t> targets = {0, 1, lastMs};
  for (size_t i = 1, cKeys = 0; i < video.size() && cKeys < 4; ++i) {
    if (!video[i].key) continue;
    ++cKeys;
    targets.insert({video[i].dts_ms - 1, video[i].dts_ms, video[i].dts_ms + 1});
    if (i + 3 < video.size()) targets.insert(video[i + 3].dts_ms);
  }
  for (size_t i = video.size() / 3; i < video.size(); i += video.size() / 3)
    targets.insert(video[i].dts_ms);
  std::mt19937 random(static_cast<unsigned>(lastMs));
  for (int i = 0; i < cRandom; ++i)
    targets.insert(static_cast<int64_t>(random() % static_cast<uint64_t>(lastMs)));
  return std::vector<int64_t>(targets.begin(), targets.end());
}

struct SeekFile {
  const char* name;
  int cRandomTargets;
};

class SeekTest : public ::testing::TestWithParam<SeekFile> {};

// Video starts at the last key frame at or before the target, audio at its
// last tag at or before it; then the file's packets, stamped from the target,
// preroll while they end at or before it.
TEST_P(SeekTest, StreamsStartWhereTheTargetNeedsThem) {
  const std::string file = Media(GetParam().name);
  const std::vector<ProbePacket> probed = ProbePackets(file);
  const std::vector<ProbePacket> video = PacketsOf(probed, "Video"),
                                 audio = PacketsOf(probed, "Audio");
  ASSERT_FALSE(video.empty() || audio.empty());
  const int64_t lastMs = std::max(video.back().dts_ms, audio.back().dts_ms);

  for (const int64_t targetMs : TargetsFor(video, lastMs, GetParam().cRandomTargets)) {
    SCOPED_TRACE("target " + std::to_string(targetMs) + " ms");
    const PacketsRun run = RunPackets(file, "--start " + std::to_string(targetMs) + " --count 6");
    ASSERT_EQ(run.exitCode, 0);
    const int64_t tTarget = targetMs * kMs;
    for (const std::string pin : {"Video", "Audio"}) {
      SCOPED_TRACE(pin);
      const std::vector<ProbePacket>& packets = pin == "Video" ? video : audio;
      ASSERT_EQ(run.segments.count(pin), 1u);
      EXPECT_EQ(run.segments.at(pin).front()["start"], tTarget);
      ASSERT_EQ(run.samples.count(pin), 1u) << "no sample";
      const std::vector<CliSample>& samples = run.samples.at(pin);
      const int first = IndexAtTime(packets, samples.front().start + tTarget);
      ASSERT_GE(first, 0) << "no packet at " << samples.front().start + tTarget;
      const size_t k = static_cast<size_t>(first);
      const int64_t firstMs = packets[k].dts_ms;
      if (firstMs > targetMs) {
        EXPECT_EQ(first, 0) << "only the stream's first packet may start after the target";
      } else if (pin == "Video") {
        EXPECT_TRUE(packets[k].key) << "starts at " << firstMs;
        for (const ProbePacket& p : packets)
          EXPECT_FALSE(p.key && p.dts_ms > firstMs && p.dts_ms < targetMs)
              << "key frame at " << p.dts_ms;
      } else if (k + 1 < packets.size()) {
        EXPECT_GE(packets[k + 1].dts_ms, targetMs) << "starts at " << firstMs;
      }
      ASSERT_LE(k + samples.size(), packets.size());
      for (size_t i = 0; i < samples.size(); ++i) {
        const ProbePacket& p = packets[k + i];
        EXPECT_EQ(samples[i].start, p.dts_ms * kMs - tTarget) << "sample " << i;
        EXPECT_EQ(samples[i].size, p.size) << "sample " << i;
        EXPECT_EQ(samples[i].crc32, p.crc32) << "sample " << i;
        EXPECT_EQ(samples[i].sync, p.key) << "sample " << i;
        EXPECT_EQ(samples[i].preroll, samples[i].stop <= 0) << "sample " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, SeekTest,
                         ::testing::Values(SeekFile{"h264_aac.flv", 4},
                                           SeekFile{"h264_aac_bframes.flv", 2},
                                           SeekFile{"h264_mp3.flv", 2}, SeekFile{"h263_mp3.flv", 2},
                                           SeekFile{"h264_aac_long.flv", 8},
                                           SeekFile{"h264_aac_long_nometa.flv", 8}),
                         [](const auto& info) { return FileStem(info); });

}  // namespace
}  // namespace flvdmx::conformance
