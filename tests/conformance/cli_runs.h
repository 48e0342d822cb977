// Running the flvdmx tool on the ffmpeg-made corpus and reading what it
// prints, for comparison with ffprobe's view of the same files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx::conformance {

using nlohmann::json;

constexpr int64_t kMs = 10000;  // reference-time units per millisecond

struct CliSample {
  int64_t start = 0;
  int64_t stop = 0;
  int64_t size = 0;
  bool sync = false;
  bool discontinuity = false;
  bool preroll = false;
  std::string crc32;
};

// What `flvdmx packets --json` printed, by pin.
struct PacketsRun {
  int exitCode = -1;
  std::vector<std::string> order;  // "segment:Video", "sample:Audio", ... as printed
  std::map<std::string, std::vector<json>> segments;
  std::map<std::string, std::vector<CliSample>> samples;
  std::map<std::string, int> eos;
};

inline std::string Cli() { return FLVDMX_CLI_PATH; }

// `flvdmx packets FILE --json ARGS`; every line must be one of the three
// objects, each with exactly its keys.
inline PacketsRun RunPackets(const std::string& file, const std::string& args = "") {
  PacketsRun run;
  const std::string out =
      RunCommand(Cli() + " packets " + ShellQuote(file) + " --json " + args + " 2>/dev/null", &run.exitCode);
  size_t begin = 0;
  while (begin < out.size()) {
    size_t end = out.find('\n', begin);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(begin, end - begin);
    begin = end + 1;
    const json j = json::parse(line, nullptr, false);
    if (!j.is_object() || !j.contains("type") || !j.contains("pin")) {
      ADD_FAILURE() << "not a packets line: " << line;
      continue;
    }
    const std::string type = j["type"];
    const std::string pin = j["pin"];
    run.order.push_back(type + ":" + pin);
    if (type == "segment") {
      EXPECT_EQ(j.size(), 5u) << j.dump();
      EXPECT_TRUE(j["rate"].is_number_float()) << j.dump();
      run.segments[pin].push_back(j);
    } else if (type == "sample") {
      EXPECT_EQ(j.size(), 9u) << j.dump();
      CliSample s;
      s.start = j.at("start").get<int64_t>();
      s.stop = j.at("stop").get<int64_t>();
      s.size = j.at("size").get<int64_t>();
      s.sync = j.at("sync").get<bool>();
      s.discontinuity = j.at("discontinuity").get<bool>();
      s.preroll = j.at("preroll").get<bool>();
      s.crc32 = j.at("crc32").get<std::string>();
      EXPECT_EQ(s.crc32.size(), 8u);
      run.samples[pin].push_back(s);
    } else if (type == "eos") {
      EXPECT_EQ(j.size(), 2u) << j.dump();
      ++run.eos[pin];
    } else {
      ADD_FAILURE() << "unknown line type " << type;
    }
  }
  return run;
}

// One tag of the file as `flvdmx tags --json` lists it.
struct TagInfo {
  int64_t position = 0;  // of its PreviousTagSize field; ffprobe's pos is 4 more
  int type = 0;
  int64_t timeMs = 0;    // carried past the 24-bit wrap
  int64_t dataSize = 0;
};

// The file's tags of one type (8 audio, 9 video), in file order.
inline std::vector<TagInfo> RunTags(const std::string& file, int type) {
  int code = -1;
  const std::string out = RunCommand(Cli() + " tags " + ShellQuote(file) + " --json", &code);
  EXPECT_EQ(code, 0) << file;
  std::vector<TagInfo> tags;
  size_t begin = 0;
  while (begin < out.size()) {
    size_t end = out.find('\n', begin);
    if (end == std::string::npos) end = out.size();
    const json j = json::parse(out.substr(begin, end - begin), nullptr, false);
    begin = end + 1;
    if (!j.is_object() || j.value("type", "") != "tag" || j.value("tag_type", -1) != type) continue;
    tags.push_back({j["position"].get<int64_t>(), type, j["timestamp"].get<int64_t>(),
                    j["data_size"].get<int64_t>()});
  }
  return tags;
}

// The tool's pin name for an ffprobe stream type.
inline std::string PinOf(const std::string& codecType) {
  return codecType == "video" ? "Video" : codecType == "audio" ? "Audio" : codecType;
}

// ffprobe's packets of one pin's stream, in file order.
inline std::vector<ProbePacket> PacketsOf(const std::vector<ProbePacket>& all, const std::string& pin) {
  std::vector<ProbePacket> out;
  for (const ProbePacket& p : all)
    if (PinOf(p.codec_type) == pin) out.push_back(p);
  return out;
}

// A corpus file by name, made by the media fixture.
inline std::string Media(const std::string& name) { return MediaPath(name.c_str()); }

}  // namespace flvdmx::conformance
