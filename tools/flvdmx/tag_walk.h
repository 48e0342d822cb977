// The walk behind `flvdmx tags`: validates the header and follows the whole
// tag chain with the container code, one header read per tag, reporting each
// step to a sink. Where a tag header is not plausible (unknown type and a
// back-link that does not lead to the tag before) or a tag runs past the end
// of the file, it looks for the next plausible tag header and goes on there.
#pragma once

#include <cstdint>

#include "flvdefs/flv_tag.h"
#include "platform/dshow.h"

namespace flvdmx::cli {

enum class LinkState {
  kOk,      // PreviousTagSize leads back to the tag before (0 before the first)
  kZero,    // PreviousTagSize 0 after a tag: tolerated by the filter
  kBroken,  // anything else
};
const char* LinkStateName(LinkState state);
// "audio", "video", "script", "other".
const char* TagKindName(uint8_t type);

struct TagLine {
  int64_t llPosition = 0;
  FlvTag tag;              // TimeStamp after the wraparound rule
  uint32_t dwRawTime = 0;  // the 24-bit timestamp as read
  LinkState link = LinkState::kOk;
};

struct MetadataLine {
  int64_t llPosition = 0;
  uint32_t dwDuration = 0;  // ms, 0 when absent
  int32_t lAudioCodecId = -1;
  int32_t lVideoCodecId = -1;
};

struct ResyncLine {
  int64_t llAt = 0;      // where a tag header was expected
  int64_t llFound = -1;  // where the walk went on; -1: nothing found
};

enum class WalkEnd {
  kComplete,         // the chain ended at the end of the file
  kHeaderInvalid,    // not an FLV file
  kHeaderShort,      // too short for a header
  kTruncatedHeader,  // a tag header cut off by the end of the file
  kTruncatedTag,     // a tag's data runs past the end of the file
  kReadFailed,
  kNoLength,
};

struct WalkSummary {
  uint64_t cTags = 0, cAudio = 0, cVideo = 0, cScript = 0, cOther = 0;
  bool bAnyTime = false;
  uint32_t dwFirstTime = 0, dwLastTime = 0;  // first tag's time, latest time
  uint64_t cBrokenLinks = 0, cZeroLinks = 0, cResyncs = 0;
  int64_t llFileSize = 0;
  int64_t llUncovered = 0;  // bytes neither header, tag nor final back-link
  LinkState finalLink = LinkState::kOk;
  bool bFinalLinkPresent = false;
  WalkEnd end = WalkEnd::kComplete;
  HRESULT hr = S_OK;          // the result behind an end other than kComplete
  int64_t llEndPosition = 0;  // where the walk stopped
};

class TagSink {
 public:
  virtual ~TagSink() = default;
  virtual void OnHeader(const FlvHeader& header, int64_t llFileSize) = 0;
  virtual void OnTag(const TagLine& line) = 0;
  virtual void OnMetadata(const MetadataLine& line) = 0;
  virtual void OnResync(const ResyncLine& line) = 0;
};

// Walks the file behind `pReader`. The summary says how the walk ended.
WalkSummary WalkTags(IAsyncReader* pReader, TagSink& sink);

}  // namespace flvdmx::cli
