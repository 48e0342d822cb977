// The enhanced header of an FLV audio or video tag read into one plain
// record: the packet type after any ModEx modifiers, the sub-millisecond time
// offset, the frame type, and where each track's payload lies in the tag. The
// header scan, the streaming loop and the key-frame search all read enhanced
// tags through it, so they agree on every tag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/buffer.h"
#include "flv/flv_reader.h"
#include "flvdefs/flv_ex_header.h"

namespace flvdmx {

// Tracks of one tag kept in the record; a tag with more keeps the first ones.
inline constexpr uint32_t kMaxExTracks = 16;

struct ExTrack {
  uint32_t FourCc = 0;
  uint8_t TrackId = 0;
  uint8_t PacketType = 0;
  // The payload after the track's own header (and composition time), as an
  // offset from the tag payload's first byte.
  uint32_t Offset = 0;
  uint32_t Size = 0;
  int32_t CompositionTime = 0;  // ms; avc1/hvc1 CodedFrames only
};

struct ExTagHeader {
  bool Video = false;
  uint8_t FrameType = 0;  // video only
  uint8_t PacketType = 0;
  uint32_t TimestampOffsetNano = 0;  // at most 999999
  bool Multitrack = false;
  uint8_t MultitrackType = kExOneTrack;
  bool Command = false;  // a video command frame: no media at all
  uint32_t TrackCount = 0;
  ExTrack Tracks[kMaxExTracks];

  const ExTrack* FindTrack(uint8_t trackId) const;
};

enum class ExTagResult { kParsed, kNeedWholeTag, kMalformed };

// Parses the first `available` bytes of an enhanced tag payload of dataSize
// bytes. kNeedWholeTag when the header or a later track's header lies beyond
// `available` (never when available >= dataSize); kMalformed for sizes that
// leave the tag, an unknown multitrack type or a truncated header.
ExTagResult ParseExTag(const uint8_t* data, size_t available, uint32_t dataSize, bool video,
                       ExTagHeader* out);

// Whether a tag's first payload byte starts an enhanced header.
bool IsExTagByte(uint8_t tagType, uint8_t firstByte);

// The enhanced header of the tag at llPosition: one small read, then the
// whole payload only when the tracks need it (into pBody when given, which
// then holds the payload; else a buffer of its own). S_OK; S_FALSE for a tag
// that is not enhanced or is malformed; a read failure.
HRESULT ReadExTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag, ExTagHeader* out,
                  CBuffer* pBody = nullptr);

}  // namespace flvdmx

namespace flvdmx {

// Whether the enhanced tag at llPosition has a track `trackId` (a command
// frame or a tag that is not enhanced has none). False on a read failure.
bool TagCarriesTrack(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                     uint8_t trackId);

// Whether the enhanced video tag at llPosition is a key frame of track
// `trackId`: FrameType 1 and coded frames of that track.
bool IsExKeyFrame(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag, uint8_t trackId);

// The coded-frame payload of track `trackId` of the tag at llPosition into
// pSample. S_OK with *pbSync (video: FrameType 1; audio: always) and
// *pllTimeOffset (the ModEx offset, 100 ns units); S_FALSE when the tag has
// nothing of the track to deliver (another packet type, no such track, a
// malformed or short tag); a failure of the reader or the sample.
HRESULT FillExSample(const CFlvReader& reader, uint8_t trackId, IMediaSample* pSample,
                     int64_t llPosition, const FlvTag& tag, BOOL* pbSync,
                     REFERENCE_TIME* pllTimeOffset);

}  // namespace flvdmx
