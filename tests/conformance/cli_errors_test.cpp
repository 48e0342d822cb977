// What a user sees when a file or an option is wrong: one line on stderr
// naming the file, the problem and the result code, exit status 1.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "conformance/cli_runs.h"
#include "support/flv_writer.h"

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
    if (kind == "cut") {  // the second audio tag at 55 loses its last 10 bytes
      FlvWriter w;
      w.Audio(0, AudioPayload(30));
      w.Audio(23, AudioPayload(30));
      const std::vector<uint8_t> b = w.Bytes();
      std::ofstream(file, std::ios::binary)
          .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size() - 10));
    }
    if (kind == "adpcm") {
      int code = -1;
      RunCommand(
          "ffmpeg -v error -nostdin -y -f lavfi -i sine=duration=1 -c:a adpcm_swf -ar 22050 " +
              ShellQuote(file) + " 2>&1",
          &code);
      ASSERT_EQ(code, 0);
    }
  } else {
    file = Media(file);
  }
  std::string command = GetParam().command;
  command.replace(command.find("FILE"), 4, ShellQuote(file));
  if (command.find("DIR") != std::string::npos)
    command.replace(command.find("DIR"), 3, ShellQuote(dir.File("out")));

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
        ErrorCase{"Empty", "packets FILE", "@empty", "not an FLV file",
                  "VFW_E_INVALID_FILE_FORMAT"},
        ErrorCase{"TagsOnCutFile", "tags FILE", "@cut",
                  "truncated: the tag at position 55 runs past the end", "S_FALSE"},
        ErrorCase{"Missing", "demux FILE -o DIR", "@missing", "cannot open",
                  "ERROR_FILE_NOT_FOUND"},
        ErrorCase{"NoPlayableStream", "probe FILE", "@adpcm", "no playable stream",
                  "VFW_E_UNSUPPORTED_AUDIO"},
        ErrorCase{"RateZero", "packets FILE --rate 0", "h264_aac.flv", "--rate", "E_INVALIDARG"},
        ErrorCase{"CountZero", "packets FILE --count 0", "h264_aac.flv", "--count", "E_INVALIDARG"},
        ErrorCase{"StartNegative", "packets FILE --start -5", "h264_aac.flv", "--start",
                  "E_INVALIDARG"},
        ErrorCase{"StartBeyondTheEnd", "demux FILE -o DIR --start 99000", "h264_aac.flv",
                  "beyond the end", "E_INVALIDARG"},
        ErrorCase{"StopBeforeStart", "packets FILE --start 5000 --stop 4000", "h264_aac.flv",
                  "--stop", "E_INVALIDARG"},
        ErrorCase{"UnknownPin", "packets FILE --pins Subtitles", "h264_aac.flv", "Subtitles",
                  "VFW_E_NOT_FOUND"},
        ErrorCase{"PinTheFileLacks", "demux FILE -o DIR --pins Video", "aac_only.flv",
                  "no output pin", "VFW_E_NOT_FOUND"}),
    [](const auto& info) { return std::string(info.param.name); });

// A file cut short while it plays (a download truncated, a share whose copy
// is replaced): the reads past the new end come back short, the filter ends
// its streams as at the end of a file, and the user still learns that the
// file was not read to its end. The listing stalls on a full pipe until the
// reader of the pipe has cut the file.
TEST(CliReadFailureTest, FileShrinkingWhilePlayingIsOneLine) {
  TempDir dir;
  const std::string file = dir.File("shrinking.flv");
  const std::string errors = dir.File("errors.txt");
  int code = -1;
  RunCommand("cp " + ShellQuote(Media("h264_aac_long.flv")) + " " + ShellQuote(file), &code);
  ASSERT_EQ(code, 0);
  RunCommand("(" + Cli() + " packets " + ShellQuote(file) + " 2>" + ShellQuote(errors) +
                 "; echo $? >>" + ShellQuote(errors) +
                 ") | (head -c 2000 >/dev/null; truncate -s " + "1000000 " + ShellQuote(file) +
                 "; cat >/dev/null)",
             &code);
  std::ifstream in(errors);
  const std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(err, "flvdmx: " + file + ": playback failed (ERROR_HANDLE_EOF)\n1\n");
}

}  // namespace
}  // namespace flvdmx::conformance
