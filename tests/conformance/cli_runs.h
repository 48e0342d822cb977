// Running the flvdmx tool and reading what it prints, for comparison with ffprobe.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx::conformance {

using nlohmann::json;

constexpr int64_t kMs = 10000;  // reference-time units per millisecond

inline std::string Cli() { return FLVDMX_CLI_PATH; }
inline std::string Media(const std::string& name) { return MediaPath(name.c_str()); }

// Each line as JSON (a discarded value when it is not).
inline std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> lines;
  for (size_t begin = 0, end; begin < text.size(); begin = end + 1) {
    end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(json::parse(text.substr(begin, end - begin), nullptr, false));
  }
  return lines;
}

struct CliSample {
  int64_t start, stop, size;
  bool sync, discontinuity, preroll;
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

// `flvdmx packets FILE --json ARGS`; every line one of the three objects, with exactly its keys.
inline PacketsRun RunPackets(const std::string& file, const std::string& args = "") {
  PacketsRun run;
  const std::string out = RunCommand(
      Cli() + " packets " + ShellQuote(file) + " --json " + args + " 2>/dev/null", &run.exitCode);
  for (const json& j : JsonLines(out)) {
    if (!j.is_object() || !j.contains("type") || !j.contains("pin")) {
      ADD_FAILURE() << "not a packets line: " << j.dump();
      continue;
    }
    const std::string type = j["type"], pin = j["pin"];
    run.order.push_back(type + ":" + pin);
    const size_t keys = type == "segment" ? 5 : type == "sample" ? 9 : type == "eos" ? 2 : 0;
    EXPECT_EQ(j.size(), keys) << j.dump();
    if (type == "segment") {
      EXPECT_TRUE(j["rate"].is_number_float()) << j.dump();
      run.segments[pin].push_back(j);
    } else if (type == "sample") {
      run.samples[pin].push_back({j.at("start"), j.at("stop"), j.at("size"), j.at("sync"),
                                  j.at("discontinuity"), j.at("preroll"), j.at("crc32")});
      EXPECT_EQ(run.samples[pin].back().crc32.size(), 8u);
    } else if (type == "eos") {
      ++run.eos[pin];
    }
  }
  return run;
}

// One tag of the file as `flvdmx tags --json` lists it.
struct TagInfo {
  int64_t position,
      timeMs;  // of its PreviousTagSize (ffprobe's pos is 4 more); time past the 24-bit wrap
};

// The file's tags of one type (8 audio, 9 video), in file order.
inline std::vector<TagInfo> RunTags(const std::string& file, int type) {
  int code = -1;
  const std::string out = RunCommand(Cli() + " tags " + ShellQuote(file) + " --json", &code);
  EXPECT_EQ(code, 0) << file;
  std::vector<TagInfo> tags;
  for (const json& j : JsonLines(out))
    if (j.is_object() && j.value("type", "") == "tag" && j.value("tag_type", -1) == type)
      tags.push_back({j["position"].get<int64_t>(), j["timestamp"].get<int64_t>()});
  return tags;
}

// ffprobe's packets of one pin's stream, in file order.
inline std::vector<ProbePacket> PacketsOf(const std::vector<ProbePacket>& all,
                                          const std::string& pin) {
  std::vector<ProbePacket> out;
  for (const ProbePacket& p : all)
    if ((p.codec_type == "video") == (pin == "Video")) out.push_back(p);
  return out;
}

// ffprobe's codec and decoded frame count of a written stream.
inline std::pair<std::string, int64_t> ProbeFrames(const std::string& path) {
  int code = -1;
  const json j = json::parse(RunCommand("ffprobe -v error -count_frames -show_entries "
                                        "stream=codec_name,nb_read_frames -of json " +
                                            ShellQuote(path),
                                        &code),
                             nullptr, false);
  if (code != 0 || !j.is_object() || j["streams"].empty()) return {"", -1};
  const json& s = j["streams"][0];
  return {s.value("codec_name", ""), std::stoll(s.value("nb_read_frames", std::string("-1")))};
}

// `flvdmx demux FILE -o DIR ARGS`: its exit code, and what it printed when asked.
inline int RunDemux(const std::string& file, const std::string& dir, const std::string& args = "",
                    std::string* pOutput = nullptr) {
  int code = -1;
  const std::string out = RunCommand(
      Cli() + " demux " + ShellQuote(file) + " -o " + ShellQuote(dir) + " " + args + " 2>&1",
      &code);
  if (pOutput != nullptr) *pOutput = out;
  return code;
}

// "h264_aac.flv" -> "h264_aac", for parameterised test names.
template <class Info>
std::string FileStem(const Info& info) {
  const std::string name = info.param.name;
  return name.substr(0, name.find('.'));
}

}  // namespace flvdmx::conformance
