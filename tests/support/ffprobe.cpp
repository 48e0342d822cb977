#include "support/ffprobe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "support/media.h"

namespace flvdmx {
namespace {

using nlohmann::json;

json RunProbe(const std::string& args, const std::string& file) {
  int code = -1;
  const std::string out =
      RunCommand("ffprobe -v error " + args + " -of json " + ShellQuote(file), &code);
  if (code != 0) {
    ADD_FAILURE() << "ffprobe " << args << " failed (exit " << code << ") on " << file;
    return json();
  }
  json doc = json::parse(out, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) {
    ADD_FAILURE() << "ffprobe printed no valid JSON for " << file;
    return json();
  }
  return doc;
}

// ffprobe prints some numbers as JSON numbers and others ("size", "pos",
// "sample_rate") as strings; "N/A" or a missing key gives the fallback.
int64_t Int(const json& obj, const char* key, int64_t fallback = 0) {
  auto it = obj.find(key);
  if (it == obj.end()) return fallback;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_string()) {
    const std::string& s = it->get_ref<const std::string&>();
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (end != s.c_str() && *end == '\0') return v;
  }
  return fallback;
}

double Real(const json& obj, const char* key, double fallback) {
  auto it = obj.find(key);
  if (it == obj.end()) return fallback;
  if (it->is_number()) return it->get<double>();
  if (it->is_string()) {
    const std::string& s = it->get_ref<const std::string&>();
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() && *end == '\0') return v;
  }
  return fallback;
}

std::string Text(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it != obj.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::vector<ProbePacket> ProbePackets(const std::string& file) {
  std::vector<ProbePacket> packets;
  const json doc = RunProbe("-show_packets -show_data_hash CRC32", file);
  if (!doc.is_object() || !doc.contains("packets")) return packets;
  for (const json& p : doc["packets"]) {
    ProbePacket pkt;
    pkt.codec_type = Text(p, "codec_type");
    pkt.stream_index = static_cast<int>(Int(p, "stream_index", -1));
    pkt.pts_ms = Int(p, "pts");
    pkt.dts_ms = Int(p, "dts", pkt.pts_ms);
    pkt.size = Int(p, "size");
    pkt.pos = Int(p, "pos", -1);
    pkt.key = Text(p, "flags").find('K') != std::string::npos;
    const std::string hash = Text(p, "data_hash");
    const std::string prefix = "CRC32:";
    if (hash.compare(0, prefix.size(), prefix) == 0) pkt.crc32 = hash.substr(prefix.size());
    packets.push_back(std::move(pkt));
  }
  return packets;
}

std::vector<ProbeStream> ProbeStreams(const std::string& file) {
  std::vector<ProbeStream> streams;
  const json doc = RunProbe("-show_streams -show_format", file);
  if (!doc.is_object() || !doc.contains("streams")) return streams;
  const double container_duration =
      doc.contains("format") ? Real(doc["format"], "duration", -1) : -1;
  for (const json& s : doc["streams"]) {
    ProbeStream st;
    st.index = static_cast<int>(Int(s, "index", -1));
    st.codec_type = Text(s, "codec_type");
    st.codec_name = Text(s, "codec_name");
    st.profile = Text(s, "profile");
    st.level = static_cast<int>(Int(s, "level"));
    st.width = static_cast<int>(Int(s, "width"));
    st.height = static_cast<int>(Int(s, "height"));
    st.r_frame_rate = Text(s, "r_frame_rate");
    st.avg_frame_rate = Text(s, "avg_frame_rate");
    st.sample_rate = static_cast<int>(Int(s, "sample_rate"));
    st.channels = static_cast<int>(Int(s, "channels"));
    st.bit_rate = Int(s, "bit_rate");
    st.start_pts = Int(s, "start_pts");
    st.duration = Real(s, "duration", container_duration);
    streams.push_back(std::move(st));
  }
  return streams;
}

double RatioValue(const std::string& ratio) {
  const size_t slash = ratio.find('/');
  if (slash == std::string::npos) return 0;
  const double num = std::strtod(ratio.substr(0, slash).c_str(), nullptr);
  const double den = std::strtod(ratio.substr(slash + 1).c_str(), nullptr);
  return den != 0 ? num / den : 0;
}

}  // namespace flvdmx
