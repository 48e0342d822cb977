// Enhanced FLV (codecs by FourCC, multitrack, ModEx offsets) through the
// filter: every pin's samples against ffprobe's packets of the Matroska
// source each stream was wrapped from; seeks; probe; demux decoded by ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "conformance/cli_runs.h"
#include "support/eflv_corpus.h"

namespace flvdmx::conformance {
namespace {

class EnhancedTest : public ::testing::TestWithParam<EflvCorpusFile> {};

std::string CorpusName(const ::testing::TestParamInfo<EflvCorpusFile>& info) {
  const std::string name = info.param.name;
  return name.substr(0, name.find('.'));
}

// A run without any sample is skipped with this (the filter may not play
// the file at all yet); anything else is compared.
std::string NothingPlays(const std::string& file, const PacketsRun& run) {
  return "the filter offers no pin for " + file + " (exit " + std::to_string(run.exitCode) + ")";
}

TEST_P(EnhancedTest, EveryPinDeliversItsSourcePackets) {
  const EflvCorpusFile& c = GetParam();
  const std::string file = EnhancedMediaPath(c.name);
  const PacketsRun run = RunPackets(file);
  if (run.samples.empty()) GTEST_SKIP() << NothingPlays(file, run);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.samples.size(), c.pins.size());
  for (const EflvPinSource& pin : c.pins) {
    SCOPED_TRACE(pin.pin);
    const std::vector<ExpectedSample> expected = ExpectedSamples(pin);
    ASSERT_EQ(run.samples.count(pin.pin), 1u) << "no samples";
    const std::vector<CliSample>& samples = run.samples.at(pin.pin);
    ASSERT_EQ(samples.size(), expected.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(samples[i].start, expected[i].time) << "sample " << i;
      EXPECT_EQ(samples[i].size, expected[i].size) << "sample " << i;
      EXPECT_EQ(samples[i].crc32, expected[i].crc32) << "sample " << i;
      EXPECT_EQ(samples[i].sync, expected[i].key) << "sample " << i;
    }
    EXPECT_EQ(run.eos.count(pin.pin) ? run.eos.at(pin.pin) : 0, 1);
  }
}

// Video starts at the last key frame at or before the target, audio at its
// last packet at or before it; every pin of every track seeks.
TEST_P(EnhancedTest, SeekStartsEveryPinWhereTheTargetNeedsIt) {
  const EflvCorpusFile& c = GetParam();
  const std::string file = EnhancedMediaPath(c.name);
  for (const int64_t targetMs : {0, 1000, 1030, 1500}) {
    SCOPED_TRACE("target " + std::to_string(targetMs) + " ms");
    const PacketsRun run = RunPackets(file, "--start " + std::to_string(targetMs) + " --count 4");
    if (run.samples.empty()) GTEST_SKIP() << NothingPlays(file, run);
    ASSERT_EQ(run.exitCode, 0);
    const int64_t tTarget = targetMs * kMs;
    for (const EflvPinSource& pin : c.pins) {
      SCOPED_TRACE(pin.pin);
      const bool video = std::string(pin.pin).rfind("Video", 0) == 0;
      const std::vector<ExpectedSample> expected = ExpectedSamples(pin);
      ASSERT_EQ(run.samples.count(pin.pin), 1u) << "no samples";
      const std::vector<CliSample>& samples = run.samples.at(pin.pin);
      const auto first = std::find_if(expected.begin(), expected.end(), [&](const auto& e) {
        return e.time == samples.front().start + tTarget;
      });
      ASSERT_NE(first, expected.end()) << "no packet at " << samples.front().start + tTarget;
      const int64_t tFirst = first->time;
      for (const ExpectedSample& e : expected) {
        const bool startsLater = (!video || e.key) && e.time > tFirst && e.time <= tTarget;
        EXPECT_FALSE(startsLater) << "a later start at " << e.time;
      }
      if (video && tFirst <= tTarget) {
        EXPECT_TRUE(first->key);
      }
      const size_t k = static_cast<size_t>(first - expected.begin());
      ASSERT_LE(k + samples.size(), expected.size());
      for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].start, expected[k + i].time - tTarget) << "sample " << i;
        EXPECT_EQ(samples[i].crc32, expected[k + i].crc32) << "sample " << i;
      }
    }
  }
}

struct Written {
  const char* fileName;  // demux's file for the pin
  const char* codec;     // what ffprobe must decode it as
};

// Demux's file for each FourCC (AV1 in its default form).
Written WrittenFor(const std::string& fourcc) {
  static const std::pair<const char*, Written> kFiles[] = {
      {"av01", {"obu", "av1"}},   {"vp09", {"ivf", "vp9"}},   {"vp08", {"ivf", "vp8"}},
      {"hvc1", {"h265", "hevc"}}, {"avc1", {"h264", "h264"}}, {"Opus", {"opus", "opus"}},
      {"fLaC", {"flac", "flac"}}, {"ac-3", {"ac3", "ac3"}},   {"ec-3", {"eac3", "eac3"}},
      {".mp3", {"mp3", "mp3"}},   {"mp4a", {"aac", "aac"}}};
  for (const auto& [f, w] : kFiles)
    if (fourcc == f) return w;
  return {"", ""};
}

std::string PinFileStem(std::string pin) {
  pin.erase(std::remove(pin.begin(), pin.end(), ' '), pin.end());
  std::transform(pin.begin(), pin.end(), pin.begin(), [](char ch) { return std::tolower(ch); });
  return pin;
}

// ffprobe's codec and decoded frame count of a written stream, and what
// ffmpeg says when it decodes it (nothing when all is well).
struct DecodeResult {
  std::pair<std::string, int64_t> frames;
  std::string errors;
};

DecodeResult Decode(const std::string& path) {
  return {ProbeFrames(path),
          RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null - 2>&1")};
}

void ExpectDemuxDecodes(const EflvCorpusFile& c, const std::string& args) {
  const std::string file = EnhancedMediaPath(c.name);
  TempDir dir;
  std::string out;
  const int code = RunDemux(file, dir.path(), args, &out);
  if (code != 0 && out.find("no playable stream") != std::string::npos)
    GTEST_SKIP() << "the filter offers no pin for " << file << ": " << out;
  ASSERT_EQ(code, 0) << out;
  for (const EflvPinSource& pin : c.pins) {
    SCOPED_TRACE(pin.pin);
    Written w = WrittenFor(pin.fourcc);
    if (args == "--ivf" && std::string(pin.fourcc) == "av01") w.fileName = "ivf";
    const DecodeResult r = Decode(dir.File(PinFileStem(pin.pin) + "." + w.fileName));
    EXPECT_EQ(r.frames, std::make_pair(std::string(w.codec),
                                       static_cast<int64_t>(ExpectedSamples(pin).size())));
    EXPECT_EQ(r.errors, "");
  }
}

TEST_P(EnhancedTest, DemuxWritesFilesFfmpegDecodes) { ExpectDemuxDecodes(GetParam(), ""); }

TEST_P(EnhancedTest, ProbeNamesEveryPinAndItsCodec) {
  const EflvCorpusFile& c = GetParam();
  const std::string file = EnhancedMediaPath(c.name);
  int code = -1;
  const std::string out = RunCommand(Cli() + " probe --json " + ShellQuote(file) + " 2>&1", &code);
  const json j = json::parse(out, nullptr, false);
  if (code != 0 && out.find("no playable stream") != std::string::npos)
    GTEST_SKIP() << "the filter offers no pin for " << file;
  ASSERT_EQ(code, 0) << out;
  ASSERT_TRUE(j.is_object()) << out;
  ASSERT_EQ(j["pins"].size(), c.pins.size()) << out;
  for (const EflvPinSource& source : c.pins) {
    SCOPED_TRACE(source.pin);
    const auto found = std::find_if(j["pins"].begin(), j["pins"].end(), [&](const json& p) {
      return p.value("name", "") == source.pin;
    });
    ASSERT_NE(found, j["pins"].end());
    const json& pin = *found;
    EXPECT_EQ(pin["codec"], json(WrittenFor(source.fourcc).codec)) << pin.dump();
    if (pin.contains("width")) {
      EXPECT_EQ(pin.value("width", 0), 160);
      EXPECT_EQ(pin.value("height", 0), 90);
    }
  }
  EXPECT_NEAR(j.value("duration", int64_t{0}) / 1e7, 2.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, EnhancedTest, ::testing::ValuesIn(EnhancedCorpus()), CorpusName);

// A Metadata packet's colorInfo (BT.2020 primaries and matrix, PQ) reaches
// the video pin's media type, in the platform's codes.
TEST(EnhancedProbe, ColourDescriptionOfTheMetadataPacket) {
  const std::string file = EnhancedMediaPath("av1_opus.flv");
  int code = -1;
  const json j =
      json::parse(RunCommand(Cli() + " probe --json " + ShellQuote(file) + " 2>/dev/null", &code),
                  nullptr, false);
  ASSERT_EQ(code, 0);
  ASSERT_TRUE(j.is_object() && !j["pins"].empty());
  const json& video = j["pins"][0];
  EXPECT_EQ(video.value("color_matrix", -1), 4) << video.dump();  // BT.2020
  EXPECT_EQ(video.value("color_primaries", -1), 9);
  EXPECT_EQ(video.value("color_transfer", -1), 15);  // SMPTE ST 2084
}

// AV1 on request as IVF, which keeps no temporal delimiters.
TEST(EnhancedDemux, Av1AsIvfDecodes) {
  for (const EflvCorpusFile& c : EnhancedCorpus())
    if (std::string(c.name) == "av1_opus.flv") ExpectDemuxDecodes(c, "--ivf");
}

}  // namespace
}  // namespace flvdmx::conformance

namespace flvdmx::conformance {
namespace {

// Tags of a codec no one knows ("vvc1"), key frames every 10 at 40 ms.
std::vector<EflvStream> WithUnknownVideo(std::vector<EflvStream> streams) {
  EflvStream unknown;
  unknown.fourcc = "vvc1";
  unknown.config = {1, 2, 3, 4};
  for (int i = 0; i < 50; ++i)
    unknown.packets.push_back({40 * i, 40 * i, i % 10 == 0, EflvBytes(30, 0x55)});
  streams.insert(streams.begin(), unknown);
  return streams;
}

// The stream with an unknown FourCC gets no pin; the rest plays as it would alone.
TEST(EnhancedUnknownFourcc, OtherStreamsStillPlay) {
  const EflvPinSource opus{"Audio", "opus.mkv", "Opus"};
  TempDir dir;
  const std::string file = dir.File("unknown_video.flv");
  const EflvStream audio =
      LoadMatroskaStream(std::string(FLVDMX_MEDIA_DIR) + "/enhanced/" + opus.source);
  ASSERT_TRUE(WriteEnhancedFlv(WithUnknownVideo({audio}), EflvLayout()).WriteFile(file));
  const PacketsRun run = RunPackets(file);
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.samples.size(), 1u);
  ASSERT_EQ(run.samples.count("Audio"), 1u);
  const std::vector<ExpectedSample> expected = ExpectedSamples(opus);
  const std::vector<CliSample>& samples = run.samples.at("Audio");
  ASSERT_EQ(samples.size(), expected.size());
  for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(samples[i].crc32, expected[i].crc32) << i;
}

// Nothing playable: one line that names the FourCC.
TEST(EnhancedUnknownFourcc, FileOfOnlyThatNamesIt) {
  TempDir dir;
  const std::string file = dir.File("only_unknown.flv");
  ASSERT_TRUE(WriteEnhancedFlv(WithUnknownVideo({}), EflvLayout()).WriteFile(file));
  int code = -1;
  const std::string err =
      RunCommand(Cli() + " probe " + ShellQuote(file) + " 2>&1 >/dev/null", &code);
  EXPECT_EQ(code, 1);
  EXPECT_NE(err.find("no playable stream"), std::string::npos) << err;
  EXPECT_NE(err.find("vvc1"), std::string::npos) << err;
  EXPECT_NE(err.find("(VFW_E_UNSUPPORTED_VIDEO)\n"), std::string::npos) << err;
}

}  // namespace
}  // namespace flvdmx::conformance
