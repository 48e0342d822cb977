// `flvdmx demux` on the corpus and on FLV files built from ffmpeg's raw H.264
// and H.265: ffprobe reads back the frames the FLV file holds.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "conformance/cli_runs.h"
#include "support/flv_writer.h"

namespace flvdmx::conformance {
namespace {

using Bytes = std::vector<uint8_t>;

struct DemuxOutput {
  const char* pin;
  const char* fileName;
  // What ffprobe decodes, a frame per packet; "pcm_s16le": a WAV file of
  // every payload byte; null: raw payloads and a JSON Lines index.
  const char* codec;
};

struct DemuxCase {
  const char* name;
  std::vector<DemuxOutput> outputs;
};

class DemuxTest : public ::testing::TestWithParam<DemuxCase> {};

TEST_P(DemuxTest, WrittenStreamsHoldEveryPacket) {
  const std::string file = Media(GetParam().name);
  const std::vector<ProbePacket> probed = ProbePackets(file);
  TempDir dir;
  ASSERT_EQ(RunDemux(file, dir.path()), 0);
  for (const DemuxOutput& out : GetParam().outputs) {
    SCOPED_TRACE(out.fileName);
    const std::vector<ProbePacket> packets = PacketsOf(probed, out.pin);
    const std::string path = dir.File(out.fileName);
    int64_t cbPayload = 0;
    for (const ProbePacket& p : packets) cbPayload += p.size;
    const Bytes bytes = ReadFileBytes(path);
    if (out.codec == nullptr) {
      EXPECT_EQ(static_cast<int64_t>(bytes.size()), cbPayload);
      std::ifstream index(path + ".jsonl");
      size_t i = 0;
      for (std::string line; std::getline(index, line); ++i) {
        if (i >= packets.size()) continue;
        const json expected = {
            {"time", packets[i].dts_ms * kMs}, {"size", packets[i].size}, {"key", packets[i].key}};
        EXPECT_EQ(json::parse(line), expected) << i;
      }
      EXPECT_EQ(i, packets.size());
    } else if (std::string(out.codec) == "pcm_s16le") {
      EXPECT_EQ(ProbeFrames(path).first, out.codec);
      ASSERT_EQ(static_cast<int64_t>(bytes.size()), 44 + cbPayload);
      const uint32_t cbData =
          bytes[40] | bytes[41] << 8 | bytes[42] << 16 | uint32_t{bytes[43]} << 24;
      EXPECT_EQ(cbData, cbPayload) << "the data size is filled in at the end";
    } else {
      EXPECT_EQ(ProbeFrames(path),
                std::make_pair(std::string(out.codec), static_cast<int64_t>(packets.size())));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, DemuxTest,
    ::testing::Values(
        DemuxCase{"h264_aac.flv", {{"Video", "video.h264", "h264"}, {"Audio", "audio.aac", "aac"}}},
        DemuxCase{"h264_aac_bframes.flv",
                  {{"Video", "video.h264", "h264"}, {"Audio", "audio.aac", "aac"}}},
        DemuxCase{"h264_mp3.flv", {{"Video", "video.h264", "h264"}, {"Audio", "audio.mp3", "mp3"}}},
        DemuxCase{"h263_mp3.flv",
                  {{"Video", "video.s263", nullptr}, {"Audio", "audio.mp3", "mp3"}}},
        DemuxCase{"screen1.flv", {{"Video", "video.fsv1", nullptr}}},
        DemuxCase{"screen2.flv", {{"Video", "video.fsv2", nullptr}}},
        DemuxCase{"pcm.flv", {{"Audio", "audio.wav", "pcm_s16le"}}},
        DemuxCase{"nellymoser.flv", {{"Audio", "audio.nelly", nullptr}}},
        DemuxCase{"speex.flv", {{"Audio", "audio.speex", nullptr}}},
        DemuxCase{"aac_only.flv", {{"Audio", "audio.aac", "aac"}}}),
    [](const auto& info) { return FileStem(info); });

// Annex B units of a raw stream, without their start codes.
std::vector<Bytes> SplitAnnexB(const Bytes& s) {
  std::vector<Bytes> units;
  size_t start = std::string::npos;
  for (size_t i = 0; i + 3 <= s.size();) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) {
      ++i;
      continue;
    }
    size_t end = i;
    while (start != std::string::npos && end > start && s[end - 1] == 0)
      --end;  // a 4-byte start code's zero
    if (start != std::string::npos) units.emplace_back(s.begin() + start, s.begin() + end);
    start = i += 3;
  }
  if (start != std::string::npos) units.emplace_back(s.begin() + start, s.end());
  return units;
}

struct CodecLayout {
  bool hevc;
  uint32_t lengthSize;  // bytes of each NAL length prefix
};

class CraftedElementaryTest : public ::testing::TestWithParam<CodecLayout> {};

// An FLV file made from ffmpeg's raw stream (HEVC in the AVC-like record
// layout), NAL lengths of the chosen size: demuxed back to Annex B, every
// frame decodes and the units are the same, parameter sets before key frames.
TEST_P(CraftedElementaryTest, LengthPrefixesOfAnySizeBecomeStartCodes) {
  const bool hevc = GetParam().hevc;
  const uint32_t cbLength = GetParam().lengthSize;
  TempDir dir;
  const std::string raw = dir.File(hevc ? "source.h265" : "source.h264");
  int code = -1;
  RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=128x96:rate=25:duration=1 " +
                 std::string(hevc ? "-c:v libx265 -x265-params bframes=0:log-level=error -f hevc "
                                  : "-c:v libx264 -bf 0 -threads 1 -f h264 ") +
                 ShellQuote(raw) + " 2>&1",
             &code);
  ASSERT_EQ(code, 0);

  // Parameter sets apart, the rest grouped into access units by their slices.
  std::vector<Bytes> sets, pending;
  std::vector<std::vector<Bytes>> frames;
  std::vector<bool> keys;
  for (Bytes& unit : SplitAnnexB(ReadFileBytes(raw))) {
    ASSERT_FALSE(unit.empty());
    const int type = hevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
    if (hevc ? type >= 32 && type <= 34 : type == 7 || type == 8) {
      if (sets.size() < (hevc ? 3u : 2u)) sets.push_back(unit);
    } else if (type != (hevc ? 35 : 9)) {  // access unit delimiters are dropped
      pending.push_back(unit);
      if (hevc ? type < 32 : type == 1 || type == 5) {
        frames.push_back(pending);
        keys.push_back(hevc ? type >= 16 && type <= 23 : type == 5);
        pending.clear();
      }
    }
  }
  ASSERT_EQ(sets.size(), hevc ? 3u : 2u);
  ASSERT_EQ(frames.size(), 25u);

  const uint8_t codec = hevc ? 12 : 7;
  const Bytes& sps = sets[sets.size() - 2];
  // Key frame, sequence header, time 0; version, profile, compatibility, level; length size.
  Bytes config = {static_cast<uint8_t>(0x10 | codec),
                  0,
                  0,
                  0,
                  0,
                  1,
                  sps[1],
                  sps[2],
                  sps[3],
                  static_cast<uint8_t>(0xFC | (cbLength - 1)),
                  static_cast<uint8_t>(0xE0 | (sets.size() - 1))};
  for (size_t i = 0; i < sets.size(); ++i) {
    if (i + 1 == sets.size()) config.push_back(1);  // one PPS
    config.insert(config.end(), {static_cast<uint8_t>(sets[i].size() >> 8),
                                 static_cast<uint8_t>(sets[i].size())});
    config.insert(config.end(), sets[i].begin(), sets[i].end());
  }
  FlvWriter w(kFlvHasVideo);
  w.Video(0, config);
  std::vector<Bytes> expected;
  for (size_t f = 0; f < frames.size(); ++f) {
    Bytes payload = {static_cast<uint8_t>((keys[f] ? 0x10 : 0x20) | codec), 1, 0, 0, 0};
    for (const Bytes& unit : frames[f]) {
      for (uint32_t b = cbLength; b-- > 0;)
        payload.push_back(static_cast<uint8_t>(unit.size() >> (8 * b)));
      payload.insert(payload.end(), unit.begin(), unit.end());
    }
    w.Video(static_cast<uint32_t>(40 * f), payload);
    if (f == 0 || keys[f]) expected.insert(expected.end(), sets.begin(), sets.end());
    expected.insert(expected.end(), frames[f].begin(), frames[f].end());
  }
  const std::string flv = dir.File("crafted.flv");
  ASSERT_TRUE(w.WriteFile(flv));

  ASSERT_EQ(RunDemux(flv, dir.File("out")), 0);
  const std::string written = dir.File(hevc ? "out/video.h265" : "out/video.h264");
  EXPECT_EQ(ProbeFrames(written), std::make_pair(std::string(hevc ? "hevc" : "h264"), int64_t{25}));
  EXPECT_EQ(SplitAnnexB(ReadFileBytes(written)), expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CraftedElementaryTest,
                         ::testing::Values(CodecLayout{false, 4}, CodecLayout{false, 2},
                                           CodecLayout{false, 3}, CodecLayout{true, 4},
                                           CodecLayout{true, 2}),
                         [](const auto& info) {
                           return std::string(info.param.hevc ? "Hevc" : "Avc") + "Length" +
                                  std::to_string(info.param.lengthSize);
                         });

}  // namespace
}  // namespace flvdmx::conformance
