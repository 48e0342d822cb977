// ffprobe as a black-box reference: the packets and streams it reports for a
// file. A failure to run it or to parse its output fails the test, with an empty result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flvdmx {

struct ProbePacket {
  std::string codec_type;  // "video" | "audio"
  int64_t pts_ms = 0;      // FLV's time base is 1/1000
  int64_t dts_ms = 0;
  int64_t size = 0;  // payload without the FLV codec header bytes
  int64_t pos = -1;  // offset of the tag's type byte (tag position + 4)
  bool key = false;
  std::string crc32;  // lower-case 8 hex digits
};

// Every packet of every stream, in file order.
std::vector<ProbePacket> ProbePackets(const std::string& file);

struct ProbeStream {
  std::string codec_type, codec_name;
  int width = 0, height = 0, sample_rate = 0, channels = 0;
  double duration = -1;  // seconds; the container's when the stream has none
};

std::vector<ProbeStream> ProbeStreams(const std::string& file);

// "30000/1001" -> 29.97; 0 for "0/0" or anything unparsable.
double RatioValue(const std::string& ratio);

}  // namespace flvdmx
