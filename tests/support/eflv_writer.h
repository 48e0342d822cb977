// Enhanced FLV for the tests: tag bodies with the FourCC header (packet
// types, multitrack, ModEx timestamp offsets) and whole files built from
// coded packets, as streaming software records them. Nothing is checked: a
// test may build any header, right or wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/flv_writer.h"

namespace flvdmx {

using EflvBytes = std::vector<uint8_t>;

enum EflvPacketType : uint8_t {
  kEflvSequenceStart = 0,
  kEflvCodedFrames = 1,
  kEflvSequenceEnd = 2,
  kEflvCodedFramesX = 3,          // video only: composition offset 0, not written
  kEflvVideoMetadata = 4,         // video only: AMF name/value pairs
  kEflvMpeg2TsSequenceStart = 5,  // video only
  kEflvAudioMultichannel = 4,     // audio only: MultichannelConfig
  kEflvAudioMultitrack = 5,
  kEflvVideoMultitrack = 6,
  kEflvModEx = 7,
};

enum class EflvMultitrack : uint8_t {
  kNone = 0xFF,
  kOneTrack = 0,
  kManyTracks = 1,
  kManyCodecs = 2
};

// One track's part of a tag body.
struct EflvTrackBody {
  std::string fourcc;  // four characters, "av01"
  uint8_t trackId = 0;
  int32_t compositionMs = 0;  // written for avc1/hvc1 CodedFrames
  EflvBytes body;
};

// One video or audio tag's payload.
struct EflvTag {
  bool video = true;
  uint8_t frameType = 1;  // video: 1 key, 2 inter, 5 command
  uint8_t packetType = kEflvCodedFrames;
  EflvMultitrack multitrack = EflvMultitrack::kNone;
  int32_t nanoOffset = -1;            // >= 0: a ModEx TimestampOffsetNano in front
  size_t nanoExtra = 0;               // zero bytes after the offset (256 on: a 16-bit size)
  uint8_t command = 0;                // video frame type 5: the command byte, no body
  std::vector<EflvTrackBody> tracks;  // one without multitrack
};

EflvBytes EflvPayload(const EflvTag& tag);
// A tag of one track without multitrack; avc1/hvc1 CodedFrames get compositionMs.
EflvBytes EflvVideo(uint8_t frameType, uint8_t packetType, const std::string& fourcc,
                    const EflvBytes& body, int32_t compositionMs = 0);
EflvBytes EflvAudio(uint8_t packetType, const std::string& fourcc, const EflvBytes& body);

template <typename T>
std::vector<T> Concat(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// AMF0 "colorInfo" with colour config, light levels and mastering display.
EflvBytes ColorInfoMetadata(int bitDepth, int primaries, int transfer, int matrix);
// The AV1 video descriptor of MPEG-2 TS carriage, from an av1C record.
EflvBytes Av1VideoDescriptor(const EflvBytes& av1c);
// MultichannelConfig with the native order and a channel mask.
EflvBytes NativeChannelConfig(uint8_t channels, uint32_t mask);
// OpusHead of mapping family 0 (pre-skip 312, 48 kHz).
EflvBytes OpusHeadBody(uint8_t channels);
// "fLaC" and a last-block STREAMINFO.
EflvBytes FlacHeaderBody(uint32_t rate, uint8_t channels, uint8_t bits);
// vpcC (version 1) from the stream facts.
EflvBytes VpcRecord(uint8_t profile, uint8_t level, uint8_t bitDepth, uint8_t chroma,
                    bool fullRange);

// A coded packet in decode order.
struct EflvPacket {
  int64_t dtsMs = 0;
  int64_t ptsMs = 0;
  bool key = false;
  EflvBytes data;
};

// One stream of a file: its FourCC, SequenceStart body and packets.
struct EflvStream {
  bool video = true;
  std::string fourcc;
  EflvBytes config;  // empty: no SequenceStart
  std::vector<EflvPacket> packets;
  uint8_t trackId = 0;
};

// How a file wraps its streams; each kind's streams share one mode.
struct EflvLayout {
  EflvMultitrack videoMode = EflvMultitrack::kNone;
  EflvMultitrack audioMode = EflvMultitrack::kNone;
  bool onMetaData = true;
  bool colorInfo = false;           // a Metadata packet (BT.2020, PQ) before the first frame
  bool sequenceEnd = true;          // SequenceEnd after each stream's last packet
  bool codedFramesX = false;        // avc1/hvc1 frames without an offset use CodedFramesX
  bool mpeg2TsStart = false;        // av01: MPEG2TSSequenceStart instead of SequenceStart
  int32_t videoNanoOffset = -1;     // >= 0: ModEx TimestampOffsetNano on every video frame
  int32_t audioNanoOffset = -1;     // likewise on every audio frame
  bool multichannelConfig = false;  // MultichannelConfig after each audio SequenceStart
  bool commandFrame = false;        // a video command frame (seek start) after the first frame
  uint32_t durationMs = 0;          // onMetaData duration, at least the streams' end
  uint32_t width = 0, height = 0;   // onMetaData picture size
};

// The whole file; tags in time order, packets of a kind at one time batched
// into one multitrack tag.
FlvWriter WriteEnhancedFlv(const std::vector<EflvStream>& streams, const EflvLayout& layout);

// Decode times for packets whose presentation times are given in decode
// order (Matroska keeps no decode times): the presentation times sorted,
// shifted to start at 0 when they start before it.
// Presentation times then need a delay of the largest (dts - pts) to keep
// every composition offset >= 0.
std::vector<int64_t> DecodeTimesMs(const std::vector<int64_t>& ptsMs);

}  // namespace flvdmx
