// Payloads of enhanced FLV audio and video tags, built byte by byte for the
// tests: single-track tags, ModEx time offsets, and the three multitrack
// forms. Nothing is checked, so tests can build wrong tags as easily.
#pragma once

#include <cstdint>
#include <vector>

#include "flvdefs/flv_ex_header.h"

namespace flvdmx {

inline void PutBE(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

template <typename T>
std::vector<T> Concat(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A composition time offset as the SI24 avc1/hvc1 CodedFrames carry.
inline std::vector<uint8_t> Cto(int32_t ms) {
  std::vector<uint8_t> out;
  PutBE(out, static_cast<uint32_t>(ms) & 0xFFFFFF, 3);
  return out;
}

// IsExHeader, FrameType, PacketType, FourCC, then `body` as it is.
inline std::vector<uint8_t> ExVideo(uint8_t frameType, uint8_t packetType, uint32_t fourCc,
                                    const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(0x80 | (frameType << 4) | packetType)};
  PutBE(out, fourCc, 4);
  return Concat(out, body);
}

// SoundFormat 9, PacketType, FourCC, then `body`.
inline std::vector<uint8_t> ExAudio(uint8_t packetType, uint32_t fourCc,
                                    const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(0x90 | packetType)};
  PutBE(out, fourCc, 4);
  return Concat(out, body);
}

// `payload` with a ModEx TimestampOffsetNano in front of its packet type:
// the first byte's packet type becomes ModEx, then the modifier's size - 1,
// its bytes (the offset in the first three; `extra` more), and the modifier
// type with the original packet type.
inline std::vector<uint8_t> WithNanoOffset(const std::vector<uint8_t>& payload, uint32_t nano,
                                           size_t extra = 0) {
  const size_t cbData = 3 + extra;
  std::vector<uint8_t> out = {static_cast<uint8_t>((payload[0] & 0xF0) | kExVideoModEx)};
  if (cbData >= 256) {
    out.push_back(0xFF);
    PutBE(out, static_cast<uint32_t>(cbData - 1), 2);
  } else {
    out.push_back(static_cast<uint8_t>(cbData - 1));
  }
  PutBE(out, nano, 3);
  out.insert(out.end(), extra, 0);
  out.push_back(static_cast<uint8_t>((kExModExTimestampOffsetNano << 4) | (payload[0] & 0x0F)));
  out.insert(out.end(), payload.begin() + 1, payload.end());
  return out;
}

struct ExTrackBytes {
  uint32_t fourCc;
  uint8_t trackId;
  std::vector<uint8_t> body;  // everything after the track's size field
};

// A multitrack tag: first byte (video: IsExHeader and FrameType), the
// multitrack type with the packet type of every track, the shared FourCC
// (not for ManyTracksManyCodecs), then per track: FourCC (ManyTracksManyCodecs
// only), track id, UI24 size (not for OneTrack), body.
inline std::vector<uint8_t> ExMultitrack(bool video, uint8_t frameType, uint8_t multitrackType,
                                         uint8_t packetType,
                                         const std::vector<ExTrackBytes>& tracks) {
  std::vector<uint8_t> out = {
      video ? static_cast<uint8_t>(0x80 | (frameType << 4) | kExVideoMultitrack)
            : static_cast<uint8_t>(0x90 | kExAudioMultitrack),
      static_cast<uint8_t>((multitrackType << 4) | packetType)};
  if (multitrackType != kExManyTracksManyCodecs) PutBE(out, tracks.at(0).fourCc, 4);
  for (const ExTrackBytes& t : tracks) {
    if (multitrackType == kExManyTracksManyCodecs) PutBE(out, t.fourCc, 4);
    out.push_back(t.trackId);
    if (multitrackType != kExOneTrack) PutBE(out, static_cast<uint32_t>(t.body.size()), 3);
    out.insert(out.end(), t.body.begin(), t.body.end());
  }
  return out;
}

// Media bodies a description accepts.
inline std::vector<uint8_t> OpusHeadBytes(uint8_t channels) {
  std::vector<uint8_t> out = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, channels};
  out.insert(out.end(), {0x38, 0x01});              // pre-skip 312, little-endian
  out.insert(out.end(), {0x80, 0xBB, 0x00, 0x00});  // 48000 Hz, little-endian
  out.insert(out.end(), {0, 0, 0});                 // gain, mapping family 0
  return out;
}

// "fLaC", a last-block STREAMINFO header, and its 34 bytes.
inline std::vector<uint8_t> FlacHeaderBytes(uint32_t rate, uint8_t channels, uint8_t bits) {
  std::vector<uint8_t> out = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
  PutBE(out, 4096, 2);
  PutBE(out, 4096, 2);
  PutBE(out, 0, 3);
  PutBE(out, 0, 3);
  // rate (20 bits), channels - 1 (3), bits - 1 (5), total samples (36).
  const uint64_t packed = (uint64_t{rate} << 44) | (uint64_t{channels - 1u} << 41) |
                          (uint64_t{bits - 1u} << 36) | 44100;
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(packed >> (8 * i)));
  out.insert(out.end(), 16, 0xAB);  // MD5
  return out;
}

}  // namespace flvdmx
