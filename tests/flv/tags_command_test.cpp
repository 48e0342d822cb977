// `flvdmx tags` as a user runs it: the listing against ffprobe's packets, and
// the error line and exit status for files it cannot walk.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/ffprobe.h"
#include "support/flv_writer.h"
#include "support/media.h"

namespace flvdmx {
namespace {

using nlohmann::json;

struct CliResult {
  std::vector<json> lines;  // stdout, one JSON value per line (with --json)
  std::string err;
  int exit_code = -1;

  std::vector<json> Of(const char* type) const {
    std::vector<json> v;
    for (const json& j : lines)
      if (j.value("type", "") == type) v.push_back(j);
    return v;
  }
};

CliResult RunTags(const std::string& file, bool asJson = true) {
  TempDir dir;
  CliResult r;
  const std::string out = RunCommand(ShellQuote(FLVDMX_CLI_PATH) + " tags " + (asJson ? "--json " : "") +
                                         ShellQuote(file) + " 2>" + ShellQuote(dir.File("err")),
                                     &r.exit_code);
  std::ifstream err(dir.File("err"));
  r.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::istringstream lines(asJson ? out : "");
  for (std::string line; std::getline(lines, line);) {
    r.lines.push_back(json::parse(line, nullptr, false));
    EXPECT_FALSE(r.lines.back().is_discarded()) << line;
  }
  return r;
}

class TagsMatchFfprobe : public ::testing::TestWithParam<const char*> {};

TEST_P(TagsMatchFfprobe, PerStreamTagsTimesAndSizes) {
  const std::string file = MediaPath(GetParam());
  const CliResult r = RunTags(file);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::ifstream in(file, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<ProbePacket> packets = ProbePackets(file);
  ASSERT_FALSE(packets.empty());
  for (const char* stream : {"audio", "video"}) {
    SCOPED_TRACE(stream);
    const int tagType = std::string(stream) == "audio" ? kFlvTagAudio : kFlvTagVideo;
    std::vector<const ProbePacket*> expected;
    for (const ProbePacket& p : packets)
      if (p.codec_type == stream) expected.push_back(&p);
    size_t i = 0;
    for (const json& tag : r.Of("tag")) {
      if (tag["tag_type"] != tagType) continue;
      const int64_t position = tag["position"];
      // ffprobe skips AVC and AAC sequence headers and counts the codec
      // prefix bytes out of the packet.
      const uint8_t flags = bytes.at(position + 15), packetType = bytes.at(position + 16);
      int prefix = 1;
      if (tagType == kFlvTagVideo && (flags & 0x0F) == 7) {
        if (packetType != 1) continue;
        prefix = 5;
      } else if (tagType == kFlvTagVideo && ((flags & 0x0F) == 4 || (flags & 0x0F) == 5)) {
        prefix = 2;
      } else if (tagType == kFlvTagAudio && (flags >> 4) == 10) {
        if (packetType != 1) continue;
        prefix = 2;
      }
      ASSERT_LT(i, expected.size()) << "more tags than packets, at " << position;
      const ProbePacket& p = *expected[i++];
      SCOPED_TRACE(position);
      EXPECT_EQ(position + 4, p.pos);
      EXPECT_EQ(tag["timestamp"].get<int64_t>(), p.dts_ms);
      EXPECT_EQ(tag["data_size"].get<int64_t>() - prefix, p.size);
      EXPECT_EQ(tag["link"], "ok");
    }
    EXPECT_EQ(i, expected.size()) << "every packet is listed";
  }
  const std::vector<json> summary = r.Of("summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0]["broken_links"], 0);
  EXPECT_EQ(summary[0]["uncovered_bytes"], 0);
  EXPECT_EQ(summary[0]["final_link"], "ok");
  EXPECT_EQ(summary[0]["tags"].get<size_t>(), r.Of("tag").size());
}

INSTANTIATE_TEST_SUITE_P(Corpus, TagsMatchFfprobe,
                         ::testing::Values("h264_aac_bframes.flv", "h263_mp3.flv", "h264_aac_nometa.flv", "speex.flv"),
                         [](const auto& info) {
                           const std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

TEST(TagsCommand, FileErrorsGiveOneLineOnStderrAndExitOne) {
  FlvWriter two;
  two.Audio(0, AudioPayload(30));
  two.Audio(23, AudioPayload(30));
  const std::vector<uint8_t> twoTags = two.Bytes();
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* problem;
    bool walked;  // what was walked before a cut is still summed up
  } cases[] = {
      {"noflags", {'F', 'L', 'V', 1, 0, 0, 0, 0, 9}, "not an FLV file (VFW_E_INVALID_FILE_FORMAT)", false},
      {"empty", {}, "too short for an FLV header (S_FALSE)", false},
      {"cutinpayload", std::vector<uint8_t>(twoTags.begin(), twoTags.end() - 10),
       "truncated: the tag at position 55 runs past the end of the file (S_FALSE)", true},
      {"cutinheader", std::vector<uint8_t>(twoTags.begin(), twoTags.begin() + 62),
       "truncated: the tag header at position 55 is cut off (S_FALSE)", true},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    const std::string file = dir.File(std::string(c.name) + ".flv");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
    for (bool asJson : {false, true}) {
      const CliResult r = RunTags(file, asJson);
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.err, "flvdmx: " + file + ": " + c.problem + "\n");
      if (asJson) { EXPECT_EQ(r.Of("summary").size(), c.walked ? 1u : 0u); }
    }
  }
}

}  // namespace
}  // namespace flvdmx
