// The header scan's part for enhanced tags: it finds the tracks of each kind
// (by track id), makes a stream description for each (the first of a kind is
// the file state's main video or audio description, later ones extra
// descriptions), and feeds them the packets that describe them:
// SequenceStart, MultichannelConfig, Metadata, and the first key frames where
// a record leaves the picture size open.
//
// Lives for one scan, on the scan's thread; it writes the descriptions in the
// file state it is given and keeps only counters of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "flv/flv_ex_tag.h"
#include "flv/flv_file_state.h"
#include "flv/flv_reader.h"

namespace flvdmx {

// Most output pins a file gets: the filter's pin table holds this many.
inline constexpr int kMaxStreams = 16;

class CFlvExScan {
 public:
  explicit CFlvExScan(CFlvFileState& file) : m_File(file) {}

  // The audio or video tag at llPosition. S_OK with *pbEnhanced telling
  // whether it was an enhanced tag (a malformed one counts, and is skipped);
  // a read failure; E_OUTOFMEMORY.
  HRESULT OnTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag, bool* pbEnhanced);
  // Whether the tracks of the kind (tag type 8 or 9) need no more tags: every
  // track seen is described and a few tags went by for late tracks, or too
  // many tags went by.
  bool Done(uint8_t type) const;
  // Whether the video tag at llPosition counts as a frame of the main video
  // stream: a legacy tag unless it is an AVC or HEVC sequence header or end
  // of sequence (some writers send the header again before key frames); an
  // enhanced one only with coded frames of the main track (records,
  // metadata, commands and other tracks do not).
  bool IsMainVideoFrame(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag) const;

 private:
  SampleEntry* EntryFor(uint8_t type, const ExTrack& track);
  // Enhanced tracks of the kind described so far.
  size_t CountTracks(uint8_t type) const;
  HRESULT OnVideoTrack(VideoSampleEntry& entry, const ExTagHeader& header, const ExTrack& track,
                       const uint8_t* pPayload);
  HRESULT OnAudioTrack(const CFlvReader& reader, int64_t llPayload, AudioSampleEntry& entry,
                       const ExTrack& track, const uint8_t* pPayload);

  CFlvFileState& m_File;
  uint32_t m_cTags[2] = {0, 0};  // enhanced tags seen: audio, video
  size_t m_cTracks[2] = {0, 0};  // tracks traced: audio, video
};

// The colorInfo object of a video Metadata packet (AMF) into `info`. False
// when the packet holds no colorInfo.
bool ParseColorInfo(const uint8_t* pAmf, uint32_t cbAmf, VideoColorInfo* info);

}  // namespace flvdmx
