#include "flv/flv_file_state.h"

#include <cstdlib>

#include "diag/trace.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"

namespace flvdmx {

namespace {
// Within this of the target the cached start point is used without the lock.
constexpr int64_t kNearStartPoint = 1000;
}  // namespace

HRESULT CFlvFileState::FindTimestampOfLastSample(const CFlvReader& reader, int64_t llLowerBound) {
  int64_t w = m_llAvailable - kScanWindow;
  if (w <= llLowerBound) return E_FAIL;
  FlvTag tag;
  int64_t pos = 0;
  // Each step back searches only its own window: the windows after it were
  // searched by the steps before, with the same result.
  int64_t end = m_llAvailable;
  while (FindTagHeaderInRange(reader, w, end, m_dwDuration, tag, pos) != S_OK) {
    end = w;
    w -= kScanWindow;
    if (w <= llLowerBound) return E_FAIL;
  }

  for (;;) {
    if (m_dwDuration < tag.TimeStamp) m_dwDuration = tag.TimeStamp;
    const int64_t next = NextTagPosition(pos, tag);
    FlvTag nextTag;
    if (ReadTagHeader(reader, next, nextTag) != S_OK) return S_OK;
    // No size is expected after script data: some writers patch the metadata
    // tag in place and leave the back-link behind it stale.
    const uint32_t expected = tag.TagType == kFlvTagScript ? 0 : ExpectedPreviousTagSize(tag);
    if (expected != 0 && nextTag.PreviousTagSize != 0 && nextTag.PreviousTagSize != expected) {
      Trace(
          "\nCFlvDmx::FindTimestampOfLastSample: Invalid last tag size: received %x instead of %x",
          nextTag.PreviousTagSize, expected);
    }
    if (PreviousTagPosition(next, nextTag) != pos) (void)m_TagLinkFixups.Add(pos, next);
    tag = nextTag;
    pos = next;
  }
}

void CFlvFileState::GetSeekStartPoint(uint32_t dwTarget, uint32_t* pdwStartTime,
                                      int64_t* pllStartPos, bool* pbNear) const {
  if (dwTarget >= (m_dwSeekStartTime >> 1) &&
      m_llSeekStartPos >= static_cast<int64_t>(m_FlvHeader.DataOffset)) {
    *pdwStartTime = m_dwSeekStartTime;
    *pllStartPos = m_llSeekStartPos;
    *pbNear = std::llabs(static_cast<int64_t>(static_cast<int32_t>(m_dwSeekStartTime - dwTarget))) <
              kNearStartPoint;
  } else {
    *pdwStartTime = 0;
    *pllStartPos = m_FlvHeader.DataOffset;
    *pbNear = dwTarget < kNearStartPoint;
  }
}

void CFlvFileState::SetSeekStartPoint(uint32_t dwTime, int64_t llPos) {
  m_dwSeekStartTime = dwTime;
  m_llSeekStartPos = llPos;
}

}  // namespace flvdmx
