// What a user sees when a file or an option is wrong (one line on stderr
// naming the file, the problem and the result code, exit status 1), and what
// the pin choice, --quiet and --stats report.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "conformance/cli_runs.h"

namespace flvdmx::conformance {
namespace {

struct ErrorCase {
  const char* name;
  const char* command;  // the subcommand and its options; FILE and DIR stand for paths
  const char* file;     // a corpus file, or one the test makes ("@name")
  const char* problem;  // part of the line
  const char* result;   // the result code's name
};

class CliErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CliErrorTest, OneLineNamingFileProblemAndResult) {
  TempDir dir;
  std::string file = GetParam().file;
  if (file[0] == '@') {
    const std::string kind = file.substr(1);
    file = dir.File(kind + ".flv");
    if (kind == "text") std::ofstream(file) << "these are notes, not video\n";
    if (kind == "empty") std::ofstream{file};
    if (kind == "adpcm") {
      int code = -1;
      RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i sine=duration=1 -c:a adpcm_swf -ar 22050 " +
                     ShellQuote(file) + " 2>&1", &code);
      ASSERT_EQ(code, 0);
    }
  } else {
    file = Media(file);
  }
  std::string command = GetParam().command;
  command.replace(command.find("FILE"), 4, ShellQuote(file));
  if (command.find("DIR") != std::string::npos) command.replace(command.find("DIR"), 3, ShellQuote(dir.File("out")));

  int code = -1;
  const std::string err = RunCommand(Cli() + " " + command + " 2>&1 >/dev/null", &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err.rfind("flvdmx: " + file + ": ", 0), 0u) << err;
  EXPECT_NE(err.find(GetParam().problem), std::string::npos) << err;
  EXPECT_NE(err.find(std::string("(") + GetParam().result + ")\n"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliErrorTest,
    ::testing::Values(
        ErrorCase{"NotFlv", "probe FILE", "@text", "not an FLV file", "VFW_E_INVALID_FILE_FORMAT"},
        ErrorCase{"Empty", "packets FILE", "@empty", "not an FLV file", "VFW_E_INVALID_FILE_FORMAT"},
        ErrorCase{"Missing", "demux FILE -o DIR", "@missing", "cannot open", "ERROR_FILE_NOT_FOUND"},
        ErrorCase{"NoPlayableStream", "probe FILE", "@adpcm", "no playable stream", "VFW_E_UNSUPPORTED_AUDIO"},
        ErrorCase{"RateZero", "packets FILE --rate 0", "h264_aac.flv", "--rate", "E_INVALIDARG"},
        ErrorCase{"CountZero", "packets FILE --count 0", "h264_aac.flv", "--count", "E_INVALIDARG"},
        ErrorCase{"StartNegative", "packets FILE --start -5", "h264_aac.flv", "--start", "E_INVALIDARG"},
        ErrorCase{"StartBeyondTheEnd", "demux FILE -o DIR --start 99000", "h264_aac.flv", "beyond the end",
                  "E_INVALIDARG"},
        ErrorCase{"StopBeforeStart", "packets FILE --start 5000 --stop 4000", "h264_aac.flv", "--stop",
                  "E_INVALIDARG"},
        ErrorCase{"UnknownPin", "packets FILE --pins Subtitles", "h264_aac.flv", "Subtitles", "VFW_E_NOT_FOUND"},
        ErrorCase{"PinTheFileLacks", "demux FILE -o DIR --pins Video", "aac_only.flv", "no output pin",
                  "VFW_E_NOT_FOUND"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliTest, PinsSelectWhatPlays) {
  const PacketsRun run = RunPackets(Media("h264_aac.flv"), "--pins audio");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.samples.count("Video"), 0u);
  EXPECT_EQ(run.eos.at("Audio"), 1);
}

// The quiet summary counts what a full play lists; the read statistics show
// each payload read once (plus tag headers and codec prefixes).
TEST(CliTest, QuietSummaryAndReadStatistics) {
  const std::string file = Media("h264_aac.flv");
  const PacketsRun run = RunPackets(file);
  int code = -1;
  const std::string out = RunCommand(Cli() + " packets " + ShellQuote(file) + " --quiet --json --stats 2>&1", &code);
  ASSERT_EQ(code, 0);
  unsigned long long scanReads = 0, scanBytes = 0, reads = 0, bytes = 0;
  const size_t stats = out.find("stats: ");
  ASSERT_NE(stats, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + stats, "stats: scan_reads=%llu scan_bytes=%llu reads=%llu bytes=%llu",
                        &scanReads, &scanBytes, &reads, &bytes), 4) << out;
  EXPECT_GT(scanReads, 0u);
  EXPECT_GT(reads, 0u);
  EXPECT_GT(bytes, 600000u);
  EXPECT_LT(bytes, 720000u);

  json summary;
  for (const json& j : JsonLines(out))
    if (j.is_object()) summary = j;
  ASSERT_TRUE(summary.is_object()) << out;
  ASSERT_EQ(summary["pins"].size(), 2u);
  for (const json& pin : summary["pins"]) {
    int64_t cb = 0;
    const auto& samples = run.samples.at(pin["pin"].get<std::string>());
    for (const CliSample& s : samples) cb += s.size;
    EXPECT_EQ(pin["samples"], samples.size());
    EXPECT_EQ(pin["bytes"], cb);
    EXPECT_EQ(pin["eos"], true);
  }
}

}  // namespace
}  // namespace flvdmx::conformance
