// The codec vocabulary of FLV tags: the audio SoundFormat and video CodecID
// values of a tag's first payload byte, and the packet-type byte that AAC,
// AVC and HEVC payloads carry after it. Defined here once for the filter,
// the stream descriptions and the tools.
#pragma once

#include <cstdint>

namespace flvdmx {

// FLV video CodecID values (low four bits of a video tag's first byte).
enum FlvVideoCodec : int32_t {
  kVideoCodecH263 = 2,  // Sorenson variant
  kVideoCodecScreen = 3,
  kVideoCodecVp6 = 4,
  kVideoCodecVp6Alpha = 5,
  kVideoCodecScreen2 = 6,
  kVideoCodecAvc = 7,
  kVideoCodecHevc = 12,
};

// FLV SoundFormat values (upper four bits of an audio tag's first byte).
enum FlvSoundFormat : int32_t {
  kSoundFormatPcmPlatform = 0,
  kSoundFormatAdpcm = 1,
  kSoundFormatMp3 = 2,
  kSoundFormatPcmLittleEndian = 3,
  kSoundFormatNellymoser16k = 4,
  kSoundFormatNellymoser8k = 5,
  kSoundFormatNellymoser = 6,
  kSoundFormatG711ALaw = 7,
  kSoundFormatG711MuLaw = 8,
  kSoundFormatAac = 10,
  kSoundFormatSpeex = 11,
  kSoundFormatMp38k = 14,
  kSoundFormatDeviceSpecific = 15,
};

// The packet-type byte after the codec byte of AAC (AACPacketType), AVC and
// HEVC (AVCPacketType) tags.
enum FlvPacketType : uint8_t {
  kFlvPacketSequenceHeader = 0,
  kFlvPacketCodedData = 1,      // AAC raw frame; AVC/HEVC NAL units
  kFlvPacketEndOfSequence = 2,  // AVC/HEVC only
};

}  // namespace flvdmx
