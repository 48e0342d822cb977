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
  json doc = json::parse(out, nullptr, /*allow_exceptions=*/false);
  if (code != 0 || !doc.is_object()) {
    ADD_FAILURE() << "ffprobe " << args << " failed (exit " << code << ") on " << file;
    return json::object();
  }
  return doc;
}

// Numbers come as JSON numbers or strings; "N/A" or a missing key gives the fallback.
double Number(const json& obj, const char* key, double fallback = 0) {
  const auto it = obj.find(key);
  if (it == obj.end() || !(it->is_number() || it->is_string())) return fallback;
  if (it->is_number()) return it->get<double>();
  const std::string& s = it->get_ref<const std::string&>();
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  return end != s.c_str() && *end == '\0' ? v : fallback;
}

int64_t Int(const json& obj, const char* key, int64_t fallback = 0) {
  return static_cast<int64_t>(Number(obj, key, static_cast<double>(fallback)));
}

std::string Text(const json& obj, const char* key) { return obj.value(key, std::string()); }

}  // namespace

std::vector<ProbePacket> ProbePackets(const std::string& file) {
  std::vector<ProbePacket> packets;
  for (const json& p :
       RunProbe("-show_packets -show_data_hash CRC32", file).value("packets", json::array())) {
    ProbePacket pkt;
    pkt.codec_type = Text(p, "codec_type");
    pkt.pts_ms = Int(p, "pts");
    pkt.dts_ms = Int(p, "dts", pkt.pts_ms);
    pkt.size = Int(p, "size");
    pkt.pos = Int(p, "pos", -1);
    pkt.key = Text(p, "flags").find('K') != std::string::npos;
    const std::string hash = Text(p, "data_hash");
    if (hash.rfind("CRC32:", 0) == 0) pkt.crc32 = hash.substr(6);
    packets.push_back(std::move(pkt));
  }
  return packets;
}

std::vector<ProbeStream> ProbeStreams(const std::string& file) {
  std::vector<ProbeStream> streams;
  const json doc = RunProbe("-show_streams -show_format", file);
  const double container = Number(doc.value("format", json::object()), "duration", -1);
  for (const json& s : doc.value("streams", json::array())) {
    ProbeStream st;
    st.codec_type = Text(s, "codec_type");
    st.codec_name = Text(s, "codec_name");
    st.width = static_cast<int>(Int(s, "width"));
    st.height = static_cast<int>(Int(s, "height"));
    st.sample_rate = static_cast<int>(Int(s, "sample_rate"));
    st.channels = static_cast<int>(Int(s, "channels"));
    st.duration = Number(s, "duration", container);
    streams.push_back(std::move(st));
  }
  return streams;
}

double RatioValue(const std::string& ratio) {
  const size_t slash = ratio.find('/');
  if (slash == std::string::npos) return 0;
  const double den = std::strtod(ratio.c_str() + slash + 1, nullptr);
  return den != 0 ? std::strtod(ratio.c_str(), nullptr) / den : 0;
}

}  // namespace flvdmx
