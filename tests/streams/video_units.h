// Parameter sets of real encoder output (320x180, so that both codecs crop),
// made with Debian's ffmpeg: libx264 (High profile) and libx265 (Main).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace flvdmx {

inline const std::vector<uint8_t> kH264Sps = {0x67, 0x64, 0x00, 0x0C, 0xAC, 0xD9, 0x41, 0x41, 0x9F,
                                              0x9F, 0x01, 0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00,
                                              0x00, 0x03, 0x03, 0x20, 0xF1, 0x42, 0x99, 0x60};
inline const std::vector<uint8_t> kH264Pps = {0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};

inline const std::vector<uint8_t> kH265Vps = {0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF, 0x01, 0x60,
                                              0x00, 0x00, 0x03, 0x00, 0x90, 0x00, 0x00, 0x03,
                                              0x00, 0x00, 0x03, 0x00, 0x3C, 0x95, 0x98, 0x09};
inline const std::vector<uint8_t> kH265Sps = {
    0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90, 0x00, 0x00, 0x03, 0x00, 0x00,
    0x03, 0x00, 0x3C, 0xA0, 0x0A, 0x08, 0x0B, 0x9F, 0x79, 0x65, 0x66, 0x92, 0x4C, 0xAF, 0x01,
    0x68, 0x08, 0x00, 0x00, 0x03, 0x00, 0x08, 0x00, 0x00, 0x03, 0x00, 0xC8, 0x40};
inline const std::vector<uint8_t> kH265Pps = {0x44, 0x01, 0xC1, 0x72, 0xB4, 0x62, 0x40};

// A decoder configuration record in the AVC layout: six header bytes (the
// sixth carrying the count of leading units in its low five bits), the
// leading units with 16-bit lengths, a count byte, one more unit.
inline std::vector<uint8_t> ConfigRecord(const std::vector<std::vector<uint8_t>>& leading,
                                         const std::vector<uint8_t>& last, uint8_t profile = 0x64) {
  std::vector<uint8_t> r = {0x01, profile, 0x00,
                            0x0C, 0xFF,    static_cast<uint8_t>(0xE0 | leading.size())};
  auto unit = [&r](const std::vector<uint8_t>& u) {
    r.push_back(static_cast<uint8_t>(u.size() >> 8));
    r.push_back(static_cast<uint8_t>(u.size()));
    r.insert(r.end(), u.begin(), u.end());
  };
  for (const auto& u : leading) unit(u);
  r.push_back(0x01);
  unit(last);
  return r;
}

// An HEVCDecoderConfigurationRecord: 22 header bytes (length size 4), then
// the arrays, each of one NAL unit type.
inline std::vector<uint8_t> HvccRecord(
    const std::vector<std::pair<uint8_t, std::vector<std::vector<uint8_t>>>>& arrays) {
  std::vector<uint8_t> r(22, 0);
  r[0] = 1;
  r[21] = 0x03;
  r.push_back(static_cast<uint8_t>(arrays.size()));
  for (const auto& [type, units] : arrays) {
    r.insert(r.end(), {static_cast<uint8_t>(0x80 | type), 0, static_cast<uint8_t>(units.size())});
    for (const auto& u : units) {
      r.insert(r.end(), {static_cast<uint8_t>(u.size() >> 8), static_cast<uint8_t>(u.size())});
      r.insert(r.end(), u.begin(), u.end());
    }
  }
  return r;
}

// An FLV AVC/HEVC sequence-header payload: flags byte (key frame, codec),
// AVCPacketType 0, CompositionTime 0, the record.
inline std::vector<uint8_t> SequenceHeaderPayload(uint8_t codecId,
                                                  const std::vector<uint8_t>& record) {
  std::vector<uint8_t> p = {static_cast<uint8_t>(0x10 | codecId), 0, 0, 0, 0};
  p.insert(p.end(), record.begin(), record.end());
  return p;
}

}  // namespace flvdmx
