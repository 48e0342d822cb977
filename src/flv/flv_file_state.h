// CFlvFileState: what the FLV filter knows about the connected file beyond
// its stream descriptions: the header, the reader's lengths, the duration,
// the table of repaired back-links, and the seek start point that the two
// delivery threads share. The filter object embeds it (as a base), so these
// operations keep their names as members of the filter.
//
// Locks: the fix-up table has its own; m_SeekLock is held by a delivery thread
// across one search so that the other pin reuses its result. Neither nests
// inside the other.
#pragma once

#include <cstdint>
#include <mutex>

#include "flv/flv_structs.h"
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

  // Tail search: the duration from the last tags of the file. Starts 8192
  // bytes before m_llAvailable and steps back 8192 bytes at a time while no
  // tag header is found above `llLowerBound`. Raises m_dwDuration and adds
  // fix-ups for broken back-links it walks over. S_OK or E_FAIL.
  HRESULT FindTimestampOfLastSample(CFlvReader& reader, int64_t llLowerBound);

  // The shared seek start point, see flv_seek_start.cpp.
  void GetSeekStartPoint(uint32_t* pdwTime, int64_t* pllPos);
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
