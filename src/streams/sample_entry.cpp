#include "streams/sample_entry.h"

#include <algorithm>

#include "baseclasses/mediatype.h"

namespace flvdmx {

HRESULT SampleEntry::GetMediaType(int iPosition, CMediaType* pmt) { return E_UNEXPECTED; }

HRESULT SampleEntry::ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition,
                                       const FlvTag* pTag, uint32_t dwDuration) {
  return E_UNEXPECTED;
}

void SampleEntry::ResetMediaType(CMediaType* pmt) { pmt->InitMediaType(); }

uint32_t SampleEntry::FitToTags(uint64_t cbEstimate, uint32_t cbFloor) const {
  const uint64_t cbSeen = uint64_t{m_dwLargestTag} + m_dwLargestTag / 2;
  const uint64_t cb = std::max({cbEstimate, cbSeen, uint64_t{cbFloor}});
  return static_cast<uint32_t>(std::min<uint64_t>(cb, kMaxTagPayload));
}

}  // namespace flvdmx
