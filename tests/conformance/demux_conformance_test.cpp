// `flvdmx demux` on the corpus and on FLV files built here from ffmpeg's raw
// H.264 and H.265: the files it writes read back by ffprobe with the frames
// the FLV file holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "conformance/cli_runs.h"
#include "support/flv_writer.h"

namespace flvdmx::conformance {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// ffprobe's decoded frame count and codec of a raw stream file.
struct ReadBack {
  std::string codec;
  int64_t frames = -1;
};

ReadBack ProbeFrames(const std::string& path) {
  int code = -1;
  const json j = json::parse(
      RunCommand("ffprobe -v error -count_frames -show_entries stream=codec_name,nb_read_frames -of json " +
                     ShellQuote(path),
                 &code),
      nullptr, false);
  ReadBack r;
  if (code != 0 || !j.is_object() || j["streams"].empty()) {
    ADD_FAILURE() << "ffprobe cannot read " << path;
    return r;
  }
  const json& s = j["streams"][0];
  r.codec = s.value("codec_name", "");
  r.frames = std::stoll(s.value("nb_read_frames", std::string("-1")));
  return r;
}

int RunDemux(const std::string& file, const std::string& dir, const std::string& args = "") {
  int code = -1;
  RunCommand(Cli() + " demux " + ShellQuote(file) + " -o " + ShellQuote(dir) + " " + args + " 2>&1", &code);
  return code;
}

enum class Check {
  kDecode,   // ffprobe decodes as many frames as the stream has packets
  kWave,     // a WAV file holding every payload byte
  kIndexed,  // raw payloads plus a JSON Lines index
};

struct DemuxOutput {
  const char* pin;
  const char* fileName;
  Check check;
  const char* codec;  // what ffprobe calls the written stream (kDecode, kWave)
};

struct DemuxCase {
  const char* name;
  std::vector<DemuxOutput> outputs;
};

void PrintTo(const DemuxCase& c, std::ostream* os) { *os << c.name; }

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
    switch (out.check) {
      case Check::kDecode: {
        const ReadBack r = ProbeFrames(path);
        EXPECT_EQ(r.codec, out.codec);
        EXPECT_EQ(r.frames, static_cast<int64_t>(packets.size()));
        break;
      }
      case Check::kWave: {
        EXPECT_EQ(ProbeFrames(path).codec, out.codec);
        const std::vector<uint8_t> bytes = ReadFile(path);
        ASSERT_EQ(static_cast<int64_t>(bytes.size()), 44 + cbPayload);
        const uint32_t cbData = bytes[40] | bytes[41] << 8 | bytes[42] << 16 | uint32_t{bytes[43]} << 24;
        EXPECT_EQ(cbData, cbPayload) << "the data size is filled in at the end";
        break;
      }
      case Check::kIndexed: {
        EXPECT_EQ(static_cast<int64_t>(ReadFile(path).size()), cbPayload);
        const std::vector<std::string> lines = ReadLines(path + ".jsonl");
        ASSERT_EQ(lines.size(), packets.size());
        for (size_t i = 0; i < lines.size(); ++i) {
          const json j = json::parse(lines[i]);
          EXPECT_EQ(j.size(), 3u);
          EXPECT_EQ(j["time"], packets[i].dts_ms * kMs) << i;
          EXPECT_EQ(j["size"], packets[i].size) << i;
          EXPECT_EQ(j["key"], packets[i].key) << i;
        }
        break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, DemuxTest,
    ::testing::Values(
        DemuxCase{"h264_aac.flv",
                  {{"Video", "video.h264", Check::kDecode, "h264"}, {"Audio", "audio.aac", Check::kDecode, "aac"}}},
        DemuxCase{"h264_aac_bframes.flv",
                  {{"Video", "video.h264", Check::kDecode, "h264"}, {"Audio", "audio.aac", Check::kDecode, "aac"}}},
        DemuxCase{"h264_mp3.flv",
                  {{"Video", "video.h264", Check::kDecode, "h264"}, {"Audio", "audio.mp3", Check::kDecode, "mp3"}}},
        DemuxCase{"h263_mp3.flv",
                  {{"Video", "video.s263", Check::kIndexed, nullptr},
                   {"Audio", "audio.mp3", Check::kDecode, "mp3"}}},
        DemuxCase{"screen1.flv", {{"Video", "video.fsv1", Check::kIndexed, nullptr}}},
        DemuxCase{"screen2.flv", {{"Video", "video.fsv2", Check::kIndexed, nullptr}}},
        DemuxCase{"pcm.flv", {{"Audio", "audio.wav", Check::kWave, "pcm_s16le"}}},
        DemuxCase{"nellymoser.flv", {{"Audio", "audio.nelly", Check::kIndexed, nullptr}}},
        DemuxCase{"speex.flv", {{"Audio", "audio.speex", Check::kIndexed, nullptr}}},
        DemuxCase{"aac_only.flv", {{"Audio", "audio.aac", Check::kDecode, "aac"}}}),
    [](const auto& info) {
      const std::string name = info.param.name;
      return name.substr(0, name.find('.'));
    });

TEST(DemuxRangeTest, StartAndStopLimitTheFramesWritten) {
  const std::string file = Media("h264_aac.flv");
  const std::string range = "--start 4100 --stop 8300";
  const PacketsRun run = RunPackets(file, range);
  ASSERT_EQ(run.exitCode, 0);
  TempDir dir;
  ASSERT_EQ(RunDemux(file, dir.path(), range), 0);
  const ReadBack video = ProbeFrames(dir.File("video.h264"));
  EXPECT_EQ(video.frames, static_cast<int64_t>(run.samples.at("Video").size()));
  const ReadBack audio = ProbeFrames(dir.File("audio.aac"));
  EXPECT_EQ(audio.frames, static_cast<int64_t>(run.samples.at("Audio").size()));
  EXPECT_LT(video.frames, 150) << "a part of the file only";
}

// Annex B units of a raw stream, without their start codes.
std::vector<std::vector<uint8_t>> SplitAnnexB(const std::vector<uint8_t>& s) {
  std::vector<std::vector<uint8_t>> units;
  size_t i = 0, start = std::string::npos;
  while (i + 3 <= s.size()) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      if (start != std::string::npos) {
        size_t end = i;
        while (end > start && s[end - 1] == 0) --end;  // the zero of a 4-byte start code
        units.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(start), s.begin() + static_cast<std::ptrdiff_t>(end));
      }
      i += 3;
      start = i;
    } else {
      ++i;
    }
  }
  if (start != std::string::npos) units.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(start), s.end());
  return units;
}

struct CodecLayout {
  bool hevc;
  uint32_t lengthSize;  // bytes of each NAL length prefix
};

class CraftedElementaryTest : public ::testing::TestWithParam<CodecLayout> {};

// An FLV file made here from ffmpeg's raw stream: the parameter sets in the
// sequence header (HEVC in the AVC-like record layout the filter reads), one
// access unit per tag with NAL lengths of the chosen size. Demuxed back to
// Annex B, ffprobe decodes every frame.
TEST_P(CraftedElementaryTest, LengthPrefixesOfAnySizeBecomeStartCodes) {
  const bool hevc = GetParam().hevc;
  const uint32_t cbLength = GetParam().lengthSize;
  TempDir dir;
  const std::string raw = dir.File(hevc ? "source.h265" : "source.h264");
  const std::string encoder = hevc ? "-c:v libx265 -x265-params bframes=0:log-level=error -f hevc"
                                   : "-c:v libx264 -bf 0 -threads 1 -f h264";
  int code = -1;
  RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=128x96:rate=25:duration=1 " + encoder +
                 " " + ShellQuote(raw) + " 2>&1",
             &code);
  ASSERT_EQ(code, 0);

  // Parameter sets apart, the rest grouped into access units by their slices.
  std::vector<std::vector<uint8_t>> sets;
  std::vector<std::vector<std::vector<uint8_t>>> frames;
  std::vector<bool> keys;
  std::vector<std::vector<uint8_t>> pending;
  for (auto& unit : SplitAnnexB(ReadFile(raw))) {
    ASSERT_FALSE(unit.empty());
    const int type = hevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
    const bool parameterSet = hevc ? type >= 32 && type <= 34 : type == 7 || type == 8;
    const bool delimiter = hevc ? type == 35 : type == 9;
    const bool slice = hevc ? type < 32 : type == 1 || type == 5;
    if (parameterSet) {
      if (sets.size() < (hevc ? 3u : 2u)) sets.push_back(unit);
    } else if (!delimiter) {
      pending.push_back(unit);
      if (slice) {
        frames.push_back(pending);
        keys.push_back(hevc ? type >= 16 && type <= 23 : type == 5);
        pending.clear();
      }
    }
  }
  ASSERT_EQ(sets.size(), hevc ? 3u : 2u);
  ASSERT_EQ(frames.size(), 25u);

  const uint8_t codec = hevc ? 12 : 7;
  const std::vector<uint8_t>& sps = sets[sets.size() - 2];
  std::vector<uint8_t> config = {static_cast<uint8_t>(0x10 | codec), 0, 0, 0, 0,  // key frame, sequence header, time 0
                                 1, sps[1], sps[2], sps[3],  // version, profile, compatibility, level
                                 static_cast<uint8_t>(0xFC | (cbLength - 1)),
                                 static_cast<uint8_t>(0xE0 | (sets.size() - 1))};
  auto appendUnit = [&config](const std::vector<uint8_t>& u) {
    config.push_back(static_cast<uint8_t>(u.size() >> 8));
    config.push_back(static_cast<uint8_t>(u.size()));
    config.insert(config.end(), u.begin(), u.end());
  };
  for (size_t i = 0; i + 1 < sets.size(); ++i) appendUnit(sets[i]);  // VPS, SPS / SPS
  config.push_back(1);
  appendUnit(sets.back());  // PPS

  FlvWriter w(kFlvHasVideo);
  w.Video(0, config);
  for (size_t f = 0; f < frames.size(); ++f) {
    std::vector<uint8_t> payload = {static_cast<uint8_t>((keys[f] ? 0x10 : 0x20) | codec), 1, 0, 0, 0};
    for (const auto& unit : frames[f]) {
      for (uint32_t b = cbLength; b-- > 0;) payload.push_back(static_cast<uint8_t>(unit.size() >> (8 * b)));
      payload.insert(payload.end(), unit.begin(), unit.end());
    }
    w.Video(static_cast<uint32_t>(40 * f), payload);
  }
  const std::string flv = dir.File("crafted.flv");
  ASSERT_TRUE(w.WriteFile(flv));

  const json probe = json::parse(RunCommand(Cli() + " probe " + ShellQuote(flv) + " --json", &code), nullptr, false);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(probe["pins"][0]["codec"], hevc ? "hevc" : "h264");
  EXPECT_EQ(probe["pins"][0]["width"], 128);
  EXPECT_EQ(probe["pins"][0]["height"], 96);

  const std::string outDir = dir.File("out");
  ASSERT_EQ(RunDemux(flv, outDir), 0);
  const std::string written = outDir + (hevc ? "/video.h265" : "/video.h264");
  const ReadBack r = ProbeFrames(written);
  EXPECT_EQ(r.codec, hevc ? "hevc" : "h264");
  EXPECT_EQ(r.frames, 25);
  // The same units in the same order, parameter sets in front of key frames.
  std::vector<std::vector<uint8_t>> expected;
  for (size_t f = 0; f < frames.size(); ++f) {
    if (f == 0 || keys[f]) expected.insert(expected.end(), sets.begin(), sets.end());
    expected.insert(expected.end(), frames[f].begin(), frames[f].end());
  }
  EXPECT_EQ(SplitAnnexB(ReadFile(written)), expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CraftedElementaryTest,
                         ::testing::Values(CodecLayout{false, 4}, CodecLayout{false, 2}, CodecLayout{false, 3},
                                           CodecLayout{true, 4}, CodecLayout{true, 2}),
                         [](const auto& info) {
                           return std::string(info.param.hevc ? "Hevc" : "Avc") + "Length" +
                                  std::to_string(info.param.lengthSize);
                         });

}  // namespace
}  // namespace flvdmx::conformance
