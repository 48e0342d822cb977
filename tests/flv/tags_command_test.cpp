// `flvdmx tags` as a user runs it: the listing checked against ffprobe's
// packets on encoder output, times carried past the 24-bit wrap, resync over
// damage, and the error line and exit status for files it cannot walk.
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
  std::vector<json> lines;  // stdout, one JSON value per line (for --json)
  std::string out;
  std::string err;
  int exit_code = -1;
};

CliResult RunTags(const std::string& file, bool asJson = true) {
  TempDir dir;
  const std::string errFile = dir.File("stderr.txt");
  CliResult r;
  r.out = RunCommand(ShellQuote(FLVDMX_CLI_PATH) + " tags " + (asJson ? "--json " : "") +
                         ShellQuote(file) + " 2>" + ShellQuote(errFile),
                     &r.exit_code);
  std::ifstream err(errFile);
  r.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  if (asJson) {
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      r.lines.push_back(json::parse(line, nullptr, false));
      EXPECT_FALSE(r.lines.back().is_discarded()) << line;
    }
  }
  return r;
}

std::vector<json> OfType(const CliResult& r, const char* type) {
  std::vector<json> v;
  for (const json& j : r.lines)
    if (j.value("type", "") == type) v.push_back(j);
  return v;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What ffprobe makes of a tag: whether it is a packet, and the payload bytes
// before the packet data.
struct PacketView {
  bool packet;
  int prefix;
};

PacketView ViewTag(const std::vector<uint8_t>& file, int64_t position, int tagType) {
  const uint8_t flags = file.at(static_cast<size_t>(position + 15));
  const uint8_t packetType = file.at(static_cast<size_t>(position + 16));
  if (tagType == kFlvTagVideo) {
    const int codec = flags & 0x0F;
    if (codec == 7) return {packetType == 1, 5};  // AVC: NAL units only
    if (codec == 4 || codec == 5) return {true, 2};
    return {true, 1};
  }
  if ((flags >> 4) == 10) return {packetType == 1, 2};  // AAC: raw frames only
  return {true, 1};
}

class TagsMatchFfprobe : public ::testing::TestWithParam<const char*> {};

TEST_P(TagsMatchFfprobe, PerStreamTagsTimesAndSizes) {
  const std::string file = MediaPath(GetParam());
  const CliResult r = RunTags(file);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<uint8_t> bytes = ReadBytes(file);
  const std::vector<ProbePacket> packets = ProbePackets(file);
  ASSERT_FALSE(packets.empty());

  for (const char* stream : {"audio", "video"}) {
    SCOPED_TRACE(stream);
    const int tagType = std::string(stream) == "audio" ? kFlvTagAudio : kFlvTagVideo;
    std::vector<const ProbePacket*> expected;
    for (const ProbePacket& p : packets)
      if (p.codec_type == stream) expected.push_back(&p);
    size_t i = 0;
    for (const json& tag : OfType(r, "tag")) {
      if (tag["tag_type"] != tagType) continue;
      const int64_t position = tag["position"];
      const PacketView view = ViewTag(bytes, position, tagType);
      if (!view.packet) continue;
      ASSERT_LT(i, expected.size()) << "more tags than packets, at " << position;
      const ProbePacket& p = *expected[i++];
      EXPECT_EQ(position + 4, p.pos) << "packet " << i;
      EXPECT_EQ(tag["timestamp"].get<int64_t>(), p.dts_ms) << "at " << position;
      EXPECT_EQ(tag["data_size"].get<int64_t>() - view.prefix, p.size) << "at " << position;
      EXPECT_EQ(tag["link"], "ok") << "at " << position;
    }
    EXPECT_EQ(i, expected.size()) << "every packet is listed";
  }

  // ffmpeg's metadata names both codecs; -flvflags no_metadata leaves it out.
  for (const json& meta : OfType(r, "metadata")) {
    EXPECT_NEAR(meta["duration_ms"].get<double>(), ProbeStreams(file).at(0).duration * 1000, 100);
  }
  const std::vector<json> summary = OfType(r, "summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0]["broken_links"], 0);
  EXPECT_EQ(summary[0]["uncovered_bytes"], 0);
  EXPECT_EQ(summary[0]["final_link"], "ok");
  EXPECT_EQ(summary[0]["tags"].get<size_t>(), OfType(r, "tag").size());
}

INSTANTIATE_TEST_SUITE_P(Corpus, TagsMatchFfprobe,
                         ::testing::Values("h264_aac.flv", "h263_mp3.flv", "h264_aac_nometa.flv",
                                           "pcm.flv", "speex.flv", "screen1.flv",
                                           "h264_aac_bframes.flv", "nellymoser.flv"),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

TEST(TagsCommand, TimesKeepRisingPastTheTwentyFourBitWrap) {
  TempDir dir;
  FlvWriter w;
  AvFileLayout layout;
  layout.startMs = 0x1000000 - 3000;
  layout.durationMs = 6000;
  layout.metadata = false;
  const std::vector<CraftedTag> tags = WriteAvTags(w, layout);
  const std::string file = dir.File("wrap.flv");
  ASSERT_TRUE(w.WriteFile(file));
  const CliResult r = RunTags(file);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<json> listed = OfType(r, "tag");
  ASSERT_EQ(listed.size(), tags.size());
  for (size_t i = 0; i < tags.size(); ++i) {
    EXPECT_EQ(listed[i]["timestamp"].get<uint32_t>(), tags[i].timeMs) << i;
    EXPECT_EQ(listed[i]["raw_timestamp"].get<uint32_t>(), tags[i].timeMs & 0xFFFFFF) << i;
  }
  EXPECT_GT(listed.back()["timestamp"].get<uint32_t>(), 0x1000000u);
}

TEST(TagsCommand, GarbageBetweenTagsIsSkippedWithResync) {
  TempDir dir;
  FlvWriter w;
  w.Audio(0, AudioPayload(10));
  w.Audio(23, AudioPayload(10));
  const int64_t garbageAt = w.NextPosition();
  w.Raw(std::vector<uint8_t>(100, 0xEE));
  const int64_t resumed = w.Audio(46, AudioPayload(10));
  w.Audio(69, AudioPayload(10));
  w.Audio(92, AudioPayload(10));
  const std::string file = dir.File("garbage.flv");
  ASSERT_TRUE(w.WriteFile(file));

  const CliResult r = RunTags(file);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::vector<json> resync = OfType(r, "resync");
  ASSERT_EQ(resync.size(), 1u);
  EXPECT_EQ(resync[0]["at"], garbageAt);
  EXPECT_EQ(resync[0]["found"], resumed);
  EXPECT_EQ(OfType(r, "tag").size(), 5u);
  const json summary = OfType(r, "summary").at(0);
  EXPECT_EQ(summary["uncovered_bytes"], 100);
  EXPECT_EQ(summary["resyncs"], 1);
  EXPECT_EQ(summary["broken_links"], 1) << "the tag after the garbage does not link back";
}

TEST(TagsCommand, GarbageSizeFieldIsResynchronised) {
  TempDir dir;
  FlvWriter w;
  w.Audio(0, AudioPayload(10));
  FlvWriter::TagOptions lie;
  lie.dataSize = 40;  // the payload has 11 bytes
  const int64_t liar = w.Tag(kFlvTagAudio, 23, AudioPayload(10), lie);
  const int64_t next = w.Audio(46, AudioPayload(10));
  for (uint32_t t = 69; t < 300; t += 23) w.Audio(t, AudioPayload(10));
  const std::string file = dir.File("liar.flv");
  ASSERT_TRUE(w.WriteFile(file));

  const CliResult r = RunTags(file);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::vector<json> resync = OfType(r, "resync");
  ASSERT_EQ(resync.size(), 1u);
  EXPECT_EQ(resync[0]["at"], liar + 15 + 40);
  EXPECT_EQ(resync[0]["found"], next);
  EXPECT_EQ(OfType(r, "summary").at(0)["uncovered_bytes"], 0);
}

struct ErrorCase {
  const char* name;
  std::vector<uint8_t> (*make)();
  const char* problem;
  const char* code;
  bool walked;
};

class TagsCommandErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(TagsCommandErrors, OneLineOnStderrAndExitOne) {
  TempDir dir;
  const std::string file = dir.File("bad.flv");
  {
    const std::vector<uint8_t> bytes = GetParam().make();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  for (bool asJson : {false, true}) {
    const CliResult r = RunTags(file, asJson);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "flvdmx: " + file + ": " + GetParam().problem + " (" + GetParam().code + ")\n");
    if (asJson) {
      // What was walked before a cut is still listed and summed up.
      EXPECT_EQ(OfType(r, "summary").size(), GetParam().walked ? 1u : 0u);
    }
  }
}

std::vector<uint8_t> TwoTags() {
  FlvWriter w;
  w.Audio(0, AudioPayload(30));
  w.Audio(23, AudioPayload(30));
  return w.Bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Table, TagsCommandErrors,
    ::testing::Values(
        ErrorCase{"NotFlv",
                  [] { return std::vector<uint8_t>{'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0}; },
                  "not an FLV file", "VFW_E_INVALID_FILE_FORMAT", false},
        ErrorCase{"NoStreamFlags",
                  [] { return std::vector<uint8_t>{'F', 'L', 'V', 1, 0, 0, 0, 0, 9}; },
                  "not an FLV file", "VFW_E_INVALID_FILE_FORMAT", false},
        ErrorCase{"Empty", [] { return std::vector<uint8_t>(); }, "too short for an FLV header",
                  "S_FALSE", false},
        ErrorCase{"CutInPayload",
                  [] {
                    std::vector<uint8_t> f = TwoTags();
                    f.resize(f.size() - 10);
                    return f;
                  },
                  "truncated: the tag at position 55 runs past the end of the file", "S_FALSE",
                  true},
        ErrorCase{"CutInHeader",
                  [] {
                    std::vector<uint8_t> f = TwoTags();
                    f.resize(55 + 7);
                    return f;
                  },
                  "truncated: the tag header at position 55 is cut off", "S_FALSE", true}),
    [](const auto& info) { return info.param.name; });

TEST(TagsCommand, MissingFileIsNamedWithItsResult) {
  const CliResult r = RunTags("/nonexistent-flvdmx/x.flv");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "flvdmx: /nonexistent-flvdmx/x.flv: cannot open (ERROR_PATH_NOT_FOUND)\n");
}

TEST(TagsCommand, UsageErrorsAndHelp) {
  int code = -1;
  RunCommand(ShellQuote(FLVDMX_CLI_PATH) + " tags 2>/dev/null", &code);
  EXPECT_NE(code, 0);
  EXPECT_NE(code, 1) << "a usage error is not a file error";
  const std::string help = RunCommand(ShellQuote(FLVDMX_CLI_PATH) + " tags --help", &code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(help.find("--json"), std::string::npos);
  EXPECT_NE(help.find("PreviousTagSize"), std::string::npos);

  // The text listing: one line per tag, as many as the JSON lines.
  const CliResult text = RunTags(MediaPath("screen1.flv"), false);
  ASSERT_EQ(text.exit_code, 0) << text.err;
  size_t tagLines = 0;
  std::istringstream lines(text.out);
  for (std::string line; std::getline(lines, line);)
    if (line.find("video(9)") != std::string::npos || line.find("script(18)") != std::string::npos)
      ++tagLines;
  EXPECT_EQ(tagLines, OfType(RunTags(MediaPath("screen1.flv")), "tag").size());
  EXPECT_NE(text.out.find("summary: "), std::string::npos);
}

// Noise behind a valid header through the whole tool: it must end with 0 or
// 1 and a summary, never by a signal or a sanitizer's exit.
TEST(TagsCommand, NoiseEndsCleanly) {
  TempDir dir;
  std::vector<uint8_t> noise(50000);
  uint32_t x = 1;
  for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  const uint8_t header[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
  std::copy(std::begin(header), std::end(header), noise.begin());
  for (size_t j = 13; j < noise.size(); j += 37) noise[j] = 9;  // plausible type bytes
  const std::string file = dir.File("noise.flv");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(noise.data()),
             static_cast<std::streamsize>(noise.size()));
  const CliResult r = RunTags(file);
  EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.exit_code << "\n" << r.err;
  EXPECT_EQ(OfType(r, "summary").size(), 1u);
}

}  // namespace
}  // namespace flvdmx
