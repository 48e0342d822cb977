// Fuzz target: an enhanced audio or video tag payload (first input byte: bit 0
// picks video) read as the scan and the delivery read it: first from the head
// the scan reads, then whole; then the colorInfo of every track's payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "flv/flv_ex_scan.h"
#include "flv/flv_ex_tag.h"

namespace {

using flvdmx::ExTagHeader;
using flvdmx::ExTagResult;

// Tracks must lie inside the payload: the delivery copies them out of it.
void CheckTracks(const ExTagHeader& header, uint32_t dataSize) {
  if (header.TrackCount > flvdmx::kMaxExTracks) std::abort();
  if (header.TrackCount == 0 && !header.Command) std::abort();
  for (uint32_t i = 0; i < header.TrackCount; ++i) {
    const auto& track = header.Tracks[i];
    if (track.Offset > dataSize || track.Size > dataSize - track.Offset) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 0xFFFFFF) return 0;
  const bool video = (data[0] & 1) != 0;
  const uint8_t* pPayload = data + 1;
  const auto dataSize = static_cast<uint32_t>(size - 1);
  (void)flvdmx::IsExTagByte(video ? 9 : 8, pPayload[0]);

  // The head the scan reads first: a parse from it must agree with the whole.
  ExTagHeader head;
  const size_t cbHead = std::min<size_t>(dataSize, 64);
  const ExTagResult headResult = flvdmx::ParseExTag(pPayload, cbHead, dataSize, video, &head);

  ExTagHeader whole;
  const ExTagResult result = flvdmx::ParseExTag(pPayload, dataSize, dataSize, video, &whole);
  if (result == ExTagResult::kNeedWholeTag) std::abort();
  if (headResult == ExTagResult::kParsed &&
      (result != ExTagResult::kParsed || head.TrackCount != whole.TrackCount)) {
    std::abort();
  }
  if (result != ExTagResult::kParsed) return 0;
  CheckTracks(whole, dataSize);
  for (uint32_t i = 0; i < whole.TrackCount; ++i) {
    const auto& track = whole.Tracks[i];
    flvdmx::VideoColorInfo color;
    (void)flvdmx::ParseColorInfo(pPayload + track.Offset, track.Size, &color);
  }
  return 0;
}
