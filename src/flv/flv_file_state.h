// CFlvFileState: what the FLV filter knows about the connected file: the
// header, the reader's lengths, the duration, the streams seen and their
// descriptions, the video frame duration, the table of repaired back-links,
// and the seek start point that the two delivery threads share. The filter
// owns one as a member; the header scan (ReadAndParseHeader) fills it before
// any delivery thread runs, and the delivery threads only read it, apart from
// the fix-up table and the seek start point. Each new input connection
// starts from a clean state (Reset).
//
// Locks: the fix-up table has its own; SeekLock() is held by a delivery thread
// across one search so that the other pin reuses its result. Neither nests
// inside the other.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "flv/tag_link_fixups.h"
#include "flvdefs/flv_tag.h"
#include "platform/com.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {

// StreamsSeen() bits: the header flag bits of the two streams.
inline constexpr uint32_t kStreamVideoSeen = kFlvHasVideo;
inline constexpr uint32_t kStreamAudioSeen = kFlvHasAudio;

class CFlvHeaderScan;

class CFlvFileState {
 public:
  CFlvFileState() = default;
  CFlvFileState(const CFlvFileState&) = delete;
  CFlvFileState& operator=(const CFlvFileState&) = delete;

  const FlvHeader& Header() const { return m_FlvHeader; }
  uint32_t Duration() const { return m_dwDuration; }  // ms
  // Bit kStreamVideoSeen: a video tag with data was seen; kStreamAudioSeen:
  // an audio tag.
  uint32_t StreamsSeen() const { return m_dwStreamsSeen; }
  // Average video frame duration, 100 ns units.
  int64_t AvgTimePerFrame() const { return m_llAvgTimePerFrame; }
  VideoSampleEntry& VideoEntry() { return *m_pVideoEntry; }
  const VideoSampleEntry& VideoEntry() const { return *m_pVideoEntry; }
  AudioSampleEntry& AudioEntry() { return *m_pAudioEntry; }
  const AudioSampleEntry& AudioEntry() const { return *m_pAudioEntry; }
  // Enhanced tracks after the first of each kind, in the order first seen.
  std::vector<std::unique_ptr<VideoSampleEntry>>& ExtraVideoEntries() { return m_ExtraVideo; }
  std::vector<std::unique_ptr<AudioSampleEntry>>& ExtraAudioEntries() { return m_ExtraAudio; }
  // The FourCC of the first enhanced track whose codec this system does not
  // play; 0 when there is none.
  uint32_t UnsupportedFourCc() const { return m_dwUnsupportedFourCc; }
  void SetUnsupportedFourCc(uint32_t fourCc) {
    if (m_dwUnsupportedFourCc == 0) m_dwUnsupportedFourCc = fourCc;
  }
  CTagLinkFixups& TagLinkFixups() { return m_TagLinkFixups; }
  const CTagLinkFixups& TagLinkFixups() const { return m_TagLinkFixups; }

  // Where a search for dwTarget starts: the point the last search stored when
  // the target is at least half its time and it lies in the tag chain, else
  // the first tag at time 0. *pbNear tells that the start point is within a
  // second of the target, so the caller need not hold SeekLock() for the
  // search. The caller holds SeekLock().
  void GetSeekStartPoint(uint32_t dwTarget, uint32_t* pdwStartTime, int64_t* pllStartPos,
                         bool* pbNear) const;
  // Stores a search result for the next search. The caller holds SeekLock().
  void SetSeekStartPoint(uint32_t dwTime, int64_t llPos);
  std::recursive_mutex& SeekLock() { return m_SeekLock; }

  // Forgets everything about the last file: scan results, fresh stream
  // descriptions, an empty fix-up table and the seek start point. Called for
  // every new input connection, while no delivery thread runs and no pin
  // refers to the descriptions.
  void Reset();

 private:
  friend class CFlvHeaderScan;  // the scan fills everything but the seek point

  FlvHeader m_FlvHeader;
  uint32_t m_dwDuration = 0;
  uint32_t m_dwStreamsSeen = 0;
  int64_t m_llAvgTimePerFrame = 0;
  // Replaced by Reset: a description keeps no field of an earlier file.
  std::unique_ptr<VideoSampleEntry> m_pVideoEntry = std::make_unique<VideoSampleEntry>();
  std::unique_ptr<AudioSampleEntry> m_pAudioEntry = std::make_unique<AudioSampleEntry>();
  std::vector<std::unique_ptr<VideoSampleEntry>> m_ExtraVideo;
  std::vector<std::unique_ptr<AudioSampleEntry>> m_ExtraAudio;
  uint32_t m_dwUnsupportedFourCc = 0;
  CTagLinkFixups m_TagLinkFixups;

  std::recursive_mutex m_SeekLock;
  uint32_t m_dwSeekStartTime = 0;
  int64_t m_llSeekStartPos = 0;
};

}  // namespace flvdmx
