#include "support/eflv_corpus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <nlohmann/json.hpp>

#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx {

namespace {

using nlohmann::json;

// ffprobe's -show_data hex dump: "00000000: 4f70 7573 ...  OpusHead...".
EflvBytes FromHexDump(const std::string& dump) {
  EflvBytes out;
  size_t begin = 0;
  while (begin < dump.size()) {
    size_t end = dump.find('\n', begin);
    if (end == std::string::npos) end = dump.size();
    const std::string line = dump.substr(begin, end - begin);
    begin = end + 1;
    if (line.size() < 10 || line[8] != ':') continue;
    const std::string hex = line.substr(10, 40);  // eight groups of four digits and a space
    for (size_t i = 0; i + 1 < hex.size();) {
      if (hex[i] == ' ') {
        ++i;
        continue;
      }
      out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      i += 2;
    }
  }
  return out;
}

json ProbeJson(const std::string& args, const std::string& path) {
  int code = -1;
  const std::string out =
      RunCommand("ffprobe -v error " + args + " -show_data -of json " + ShellQuote(path), &code);
  json doc = json::parse(out, nullptr, false);
  if (code != 0 || !doc.is_object()) {
    ADD_FAILURE() << "ffprobe cannot read " << path;
    return json::object();
  }
  return doc;
}

const std::map<std::string, std::string> kFourccs = {
    {"av1", "av01"},  {"vp9", "vp09"},  {"vp8", "vp08"},  {"hevc", "hvc1"},
    {"h264", "avc1"}, {"opus", "Opus"}, {"flac", "fLaC"}, {"ac3", "ac-3"},
    {"eac3", "ec-3"}, {"mp3", ".mp3"},  {"aac", "mp4a"}};

// What the SequenceStart carries: Matroska's codec private data, or for VP8
// and VP9 (which have none) a vpcC made from the stream facts; FLAC's
// STREAMINFO gets its marker and block header.
EflvBytes ConfigRecord(const json& s) {
  const std::string codec = s.value("codec_name", "");
  const EflvBytes extra = FromHexDump(s.value("extradata", ""));
  if (codec == "vp9" || codec == "vp8") {
    const std::string profile = s.value("profile", "");
    const uint8_t p = profile.empty() ? 0 : static_cast<uint8_t>(profile.back() - '0');
    return VpcRecord(codec == "vp8" ? 0 : p, 10, 8, 1, s.value("color_range", "") == "pc");
  }
  if (codec == "flac" && extra.size() == 34) {
    EflvBytes record = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    record.insert(record.end(), extra.begin(), extra.end());
    return record;
  }
  return extra;
}

}  // namespace

EflvStream LoadMatroskaStream(const std::string& path) {
  EflvStream stream;
  const json streams = ProbeJson("-show_streams", path).value("streams", json::array());
  if (streams.size() != 1) {
    ADD_FAILURE() << path << ": expected one stream";
    return stream;
  }
  const json& s = streams[0];
  stream.video = s.value("codec_type", "") == "video";
  const auto fourcc = kFourccs.find(s.value("codec_name", ""));
  stream.fourcc = fourcc == kFourccs.end() ? "????" : fourcc->second;
  stream.config = ConfigRecord(s);

  std::vector<int64_t> pts;
  for (const json& p : ProbeJson("-show_packets", path).value("packets", json::array())) {
    EflvPacket packet;
    packet.ptsMs = p.value("pts", int64_t{0});
    packet.key = p.value("flags", "").find('K') != std::string::npos;
    packet.data = FromHexDump(p.value("data", ""));
    pts.push_back(packet.ptsMs);
    stream.packets.push_back(std::move(packet));
  }
  const std::vector<int64_t> dts = DecodeTimesMs(pts);
  const int64_t shift = dts.empty() ? 0 : *std::min_element(pts.begin(), pts.end()) - dts[0];
  int64_t delay = 0;
  for (size_t i = 0; i < dts.size(); ++i) {
    pts[i] -= shift;
    delay = std::max(delay, dts[i] - pts[i]);
  }
  for (size_t i = 0; i < dts.size(); ++i) {
    stream.packets[i].dtsMs = dts[i];
    stream.packets[i].ptsMs = pts[i] + delay;
  }
  return stream;
}

namespace {

// 160 x 90, with what `edit` changes.
EflvLayout Layout(const std::function<void(EflvLayout&)>& edit = nullptr) {
  EflvLayout l;
  l.width = 160;
  l.height = 90;
  if (edit) edit(l);
  return l;
}

using Pins = std::vector<EflvPinSource>;
const EflvPinSource kAv1{"Video", "av1.mkv", "av01"}, kVp8{"Video", "vp8.mkv", "vp08"},
    kVp9{"Video", "vp9.mkv", "vp09"}, kOpus{"Audio", "opus.mkv", "Opus"},
    kAac{"Audio", "aac.mkv", "mp4a"}, kAc3{"Audio", "ac3.mkv", "ac-3"};

}  // namespace

const std::vector<EflvCorpusFile>& EnhancedCorpus() {
  static const std::vector<EflvCorpusFile> corpus = {
      {"av1_opus.flv", Pins{kAv1, kOpus},
       Layout([](EflvLayout& l) { l.colorInfo = l.commandFrame = true; })},
      {"vp9_flac.flv",
       Pins{{"Video", "vp9.mkv", "vp09", 250000}, {"Audio", "flac.mkv", "fLaC", 999900}},
       Layout([](EflvLayout& l) { l.videoNanoOffset = 250000, l.audioNanoOffset = 999900; })},
      {"vp8_ac3.flv", Pins{kVp8, kAc3}, Layout([](EflvLayout& l) { l.multichannelConfig = true; })},
      {"hevc_eac3.flv", Pins{{"Video", "hevc.mkv", "hvc1"}, {"Audio", "eac3.mkv", "ec-3"}},
       Layout()},
      {"avc_mp3.flv", Pins{{"Video", "avc.mkv", "avc1"}, {"Audio", "mp3.mkv", ".mp3"}},
       Layout([](EflvLayout& l) { l.codedFramesX = true; })},
      {"av1_ts_aac.flv", Pins{kAv1, kAac},
       Layout([](EflvLayout& l) { l.mpeg2TsStart = true, l.sequenceEnd = false; })},
      {"multitrack_codecs.flv",
       Pins{kVp9, kOpus, {"Audio 2", "aac.mkv", "mp4a"}, {"Audio 3", "ac3.mkv", "ac-3"}},
       Layout([](EflvLayout& l) {
         l.videoMode = EflvMultitrack::kOneTrack, l.audioMode = EflvMultitrack::kManyCodecs;
       })},
      {"multitrack_same.flv",
       Pins{kVp8, {"Video 2", "vp8.mkv", "vp08"}, kOpus, {"Audio 2", "opus.mkv", "Opus"}},
       Layout([](EflvLayout& l) { l.videoMode = l.audioMode = EflvMultitrack::kManyTracks; })},
  };
  return corpus;
}

namespace {

bool BuildCorpusFile(const EflvCorpusFile& file, const std::string& path) {
  std::vector<EflvStream> streams;
  uint8_t videoTracks = 0, audioTracks = 0;
  for (const EflvPinSource& pin : file.pins) {
    EflvStream s = LoadMatroskaStream(std::string(FLVDMX_MEDIA_DIR) + "/enhanced/" + pin.source);
    if (s.packets.empty()) return false;
    s.trackId = s.video ? videoTracks++ : audioTracks++;
    streams.push_back(std::move(s));
  }
  const std::string tmp = path + "." + std::to_string(getpid()) + ".tmp";
  if (!WriteEnhancedFlv(streams, file.layout).WriteFile(tmp)) return false;
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  return !ec;
}

}  // namespace

std::string EnhancedMediaPath(const std::string& name) {
  const std::string path = std::string(FLVDMX_MEDIA_DIR) + "/enhanced/" + name;
  // Built once per test process, so a changed writer never meets an old file.
  static std::mutex lock;
  static std::set<std::string> built;
  const std::lock_guard<std::mutex> hold(lock);
  if (built.count(name) != 0) return path;
  for (const EflvCorpusFile& file : EnhancedCorpus()) {
    if (name != file.name) continue;
    if (BuildCorpusFile(file, path))
      built.insert(name);
    else
      ADD_FAILURE() << "cannot build " << path << " from its Matroska sources";
  }
  return path;
}

void PrintTo(const EflvCorpusFile& file, std::ostream* os) { *os << file.name; }

std::vector<ExpectedSample> ExpectedSamples(const EflvPinSource& pin) {
  const std::vector<ProbePacket> packets =
      ProbePackets(std::string(FLVDMX_MEDIA_DIR) + "/enhanced/" + pin.source);
  std::vector<int64_t> pts;
  for (const ProbePacket& p : packets) pts.push_back(p.pts_ms);
  const std::vector<int64_t> dts = DecodeTimesMs(pts);
  std::vector<ExpectedSample> samples;
  for (size_t i = 0; i < packets.size(); ++i)
    samples.push_back(
        {dts[i] * 10000 + pin.nanoOffset / 100, packets[i].size, packets[i].key, packets[i].crc32});
  return samples;
}

}  // namespace flvdmx
