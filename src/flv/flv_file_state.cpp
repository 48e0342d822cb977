#include "flv/flv_file_state.h"

#include <cstdlib>
#include <mutex>

namespace flvdmx {

namespace {
// Within this of the target the cached start point is used without the lock.
constexpr int64_t kNearStartPoint = 1000;
}  // namespace

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

void CFlvFileState::Reset() {
  m_FlvHeader = FlvHeader();
  m_dwDuration = 0;
  m_dwStreamsSeen = 0;
  m_llAvgTimePerFrame = 0;
  m_pVideoEntry = std::make_unique<VideoSampleEntry>();
  m_pAudioEntry = std::make_unique<AudioSampleEntry>();
  m_TagLinkFixups.Clear();
  std::lock_guard<std::recursive_mutex> lock(m_SeekLock);
  m_dwSeekStartTime = 0;
  m_llSeekStartPos = 0;
}

void CFlvFileState::SetSeekStartPoint(uint32_t dwTime, int64_t llPos) {
  m_dwSeekStartTime = dwTime;
  m_llSeekStartPos = llPos;
}

}  // namespace flvdmx
