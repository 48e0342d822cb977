#include "streams/sample_entry.h"

#include "baseclasses/mediatype.h"

namespace flvdmx {

HRESULT SampleEntry::GetMediaType(int iPosition, CMediaType* pmt) { return E_UNEXPECTED; }

HRESULT SampleEntry::ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition,
                                       const FlvTag* pTag, uint32_t dwDuration) {
  return E_UNEXPECTED;
}

void SampleEntry::ResetMediaType(CMediaType* pmt) { pmt->InitMediaType(); }

}  // namespace flvdmx
