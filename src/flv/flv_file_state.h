// CFlvFileState: what the FLV filter knows about the connected file beyond
// its stream descriptions: the header, the reader's lengths, the duration,
// the table of repaired back-links, and the seek start point that the two
// delivery threads share. The filter object embeds it (as a base), so these
// operations keep their names as members of the filter. The header scan
// writes the fields before any delivery thread runs.
//
// Locks: the fix-up table has its own; m_SeekLock is held by a delivery thread
// across one search so that the other pin reuses its result. Neither nests
// inside the other.
#pragma once

#include <cstdint>
#include <mutex>

#include "flvdefs/flv_tag.h"
#include "flv/tag_link_fixups.h"
#include "platform/com.h"

namespace flvdmx {

class CFlvReader;

class CFlvFileState {
 public:
  CFlvFileState() = default;
  CFlvFileState(const CFlvFileState&) = delete;
  CFlvFileState& operator=(const CFlvFileState&) = delete;
  virtual ~CFlvFileState() = default;

  // Tail search: the duration from the last tags of the file. Looks for a tag
  // header from 8192 bytes before m_llAvailable and steps back 8192 bytes at a
  // time while none is found above `llLowerBound`; then walks to the end,
  // raising m_dwDuration to each tag's time and adding a fix-up for every
  // back-link that does not lead to the tag before. S_OK or E_FAIL.
  HRESULT FindTimestampOfLastSample(const CFlvReader& reader, int64_t llLowerBound);

  // Where a search for dwTarget starts: the point the last search stored when
  // the target is at least half its time and it lies in the tag chain, else
  // the first tag at time 0. *pbNear tells that the start point is within a
  // second of the target, so the caller need not hold m_SeekLock for the
  // search. The caller holds m_SeekLock.
  void GetSeekStartPoint(uint32_t dwTarget, uint32_t* pdwStartTime, int64_t* pllStartPos,
                         bool* pbNear) const;
  // Stores a search result for the next search. The caller holds m_SeekLock.
  void SetSeekStartPoint(uint32_t dwTime, int64_t llPos);

  FlvHeader m_FlvHeader;
  uint32_t m_dwDuration = 0;  // ms
  int64_t m_llAvailable = 0;
  int64_t m_llTotal = 0;
  CTagLinkFixups m_TagLinkFixups;

  std::recursive_mutex m_SeekLock;
  uint32_t m_dwSeekStartTime = 0;
  int64_t m_llSeekStartPos = 0;
};

}  // namespace flvdmx
