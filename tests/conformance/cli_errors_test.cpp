// What a user sees when a file or an option is wrong: one line on stderr
// naming the file, the problem and the result code, and exit status 1.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>

#include "conformance/cli_runs.h"

namespace flvdmx::conformance {
namespace {

struct ErrorCase {
  const char* name;
  const char* command;  // the subcommand and its options; FILE stands for the file
  const char* file;     // a corpus file, or a path of the test's own ("@name")
  const char* problem;  // part of the line
  const char* result;   // the result code's name
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class CliErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CliErrorTest, OneLineNamingFileProblemAndResult) {
  TempDir dir;
  std::string file = GetParam().file;
  if (file == "@text") {
    file = dir.File("notes.flv");
    std::ofstream(file) << "these are notes, not video\n";
  } else if (file == "@empty") {
    file = dir.File("empty.flv");
    std::ofstream{file};
  } else if (file == "@missing") {
    file = dir.File("missing.flv");
  } else if (file == "@adpcm") {
    file = dir.File("adpcm.flv");
    int code = -1;
    RunCommand("ffmpeg -v error -nostdin -y -f lavfi -i sine=duration=1 -c:a adpcm_swf -ar 22050 " +
                   ShellQuote(file) + " 2>&1",
               &code);
    ASSERT_EQ(code, 0);
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
        ErrorCase{"RateNegative", "packets FILE --rate -2", "h264_aac.flv", "--rate", "E_INVALIDARG"},
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
  EXPECT_EQ(run.samples.count("Audio"), 1u);
  EXPECT_EQ(run.eos.at("Audio"), 1);
}

TEST(CliTest, QuietCountsWhatFullPlayLists) {
  const std::string file = Media("h264_mp3.flv");
  const PacketsRun run = RunPackets(file);
  int code = -1;
  const json summary = json::parse(
      RunCommand(Cli() + " packets " + ShellQuote(file) + " --quiet --json --stats 2>/dev/null", &code), nullptr, false);
  ASSERT_EQ(code, 0);
  ASSERT_TRUE(summary.is_object());
  for (const json& pin : summary["pins"]) {
    const auto& samples = run.samples.at(pin["pin"].get<std::string>());
    int64_t bytes = 0;
    for (const CliSample& s : samples) bytes += s.size;
    EXPECT_EQ(pin["samples"], samples.size());
    EXPECT_EQ(pin["bytes"], bytes);
    EXPECT_EQ(pin["eos"], true);
  }
}

TEST(CliTest, StatsReportTheReadsOnStderr) {
  int code = -1;
  const std::string err = RunCommand(
      Cli() + " packets " + ShellQuote(Media("h264_aac.flv")) + " --quiet --stats 2>&1 >/dev/null", &code);
  ASSERT_EQ(code, 0);
  unsigned long long scanReads = 0, scanBytes = 0, reads = 0, bytes = 0;
  ASSERT_EQ(std::sscanf(err.c_str(), "stats: scan_reads=%llu scan_bytes=%llu reads=%llu bytes=%llu", &scanReads,
                        &scanBytes, &reads, &bytes),
            4)
      << err;
  EXPECT_GT(scanReads, 0u);
  EXPECT_GT(reads, 0u);
  // Playback reads every payload once, plus tag headers and codec prefixes.
  EXPECT_GT(bytes, 600000u);
  EXPECT_LT(bytes, 720000u);
}

}  // namespace
}  // namespace flvdmx::conformance
