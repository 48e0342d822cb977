// The enhanced form of FLV audio and video tags: a video tag whose first bit
// (IsExHeader) is set, or an audio tag with SoundFormat 9, names its codec by
// FourCC and its packet type in the low four bits of the first byte. Defined
// here once for the tag parser, the stream descriptions and the tools.
#pragma once

#include <cstdint>

namespace flvdmx {

// A FourCC as the tags carry it: four bytes read big-endian.
constexpr uint32_t ExFourCc(char a, char b, char c, char d) {
  return (uint32_t{static_cast<uint8_t>(a)} << 24) | (uint32_t{static_cast<uint8_t>(b)} << 16) |
         (uint32_t{static_cast<uint8_t>(c)} << 8) | uint32_t{static_cast<uint8_t>(d)};
}

inline constexpr uint32_t kExFourCcAv1 = ExFourCc('a', 'v', '0', '1');
inline constexpr uint32_t kExFourCcVp9 = ExFourCc('v', 'p', '0', '9');
inline constexpr uint32_t kExFourCcVp8 = ExFourCc('v', 'p', '0', '8');
inline constexpr uint32_t kExFourCcAvc = ExFourCc('a', 'v', 'c', '1');
inline constexpr uint32_t kExFourCcHevc = ExFourCc('h', 'v', 'c', '1');
inline constexpr uint32_t kExFourCcOpus = ExFourCc('O', 'p', 'u', 's');
inline constexpr uint32_t kExFourCcFlac = ExFourCc('f', 'L', 'a', 'C');
inline constexpr uint32_t kExFourCcAc3 = ExFourCc('a', 'c', '-', '3');
inline constexpr uint32_t kExFourCcEac3 = ExFourCc('e', 'c', '-', '3');
inline constexpr uint32_t kExFourCcMp3 = ExFourCc('.', 'm', 'p', '3');
inline constexpr uint32_t kExFourCcAac = ExFourCc('m', 'p', '4', 'a');

// SoundFormat value that switches an audio tag to the enhanced form.
inline constexpr uint8_t kSoundFormatExHeader = 9;
// The IsExHeader bit of a video tag's first byte.
inline constexpr uint8_t kVideoExHeaderBit = 0x80;

enum ExVideoPacketType : uint8_t {
  kExVideoSequenceStart = 0,
  kExVideoCodedFrames = 1,
  kExVideoSequenceEnd = 2,
  kExVideoCodedFramesX = 3,  // composition time offset implicitly 0
  kExVideoMetadata = 4,
  kExVideoMpeg2TsSequenceStart = 5,
  kExVideoMultitrack = 6,
  kExVideoModEx = 7,
};

enum ExAudioPacketType : uint8_t {
  kExAudioSequenceStart = 0,
  kExAudioCodedFrames = 1,
  kExAudioSequenceEnd = 2,
  kExAudioMultichannelConfig = 4,
  kExAudioMultitrack = 5,
  kExAudioModEx = 7,
};

enum ExMultitrackType : uint8_t {
  kExOneTrack = 0,
  kExManyTracks = 1,
  kExManyTracksManyCodecs = 2,
};

// The one ModEx modifier known: a sub-millisecond addition to the tag's time.
inline constexpr uint8_t kExModExTimestampOffsetNano = 0;

// VideoFrameType values of the enhanced header's bits 6-4.
inline constexpr uint8_t kExFrameKey = 1;
inline constexpr uint8_t kExFrameCommand = 5;

// AudioChannelOrder of a MultichannelConfig packet.
enum ExAudioChannelOrder : uint8_t {
  kExChannelOrderUnspecified = 0,
  kExChannelOrderNative = 1,
  kExChannelOrderCustom = 2,
};

inline bool IsExVideoHeader(uint8_t firstByte) { return (firstByte & kVideoExHeaderBit) != 0; }
inline bool IsExAudioHeader(uint8_t firstByte) { return (firstByte >> 4) == kSoundFormatExHeader; }

}  // namespace flvdmx
