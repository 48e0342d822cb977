#include "flv/flv_header_scan.h"

#include "diag/trace.h"
#include "flv/amf0.h"
#include "flv/flv_reader.h"

namespace flvdmx {

namespace {

// What the scan still has to do; it ends when nothing is left.
enum ScanFlags : uint32_t {
  kScanAudioDescription = 0x01,
  kScanDurationOpen = 0x02,
  kScanVideoDescription = 0x04,
  kScanSkipFirstVideoTag = 0x08,  // left out of the frame-duration estimate
  kScanFrameDuration = 0x10,
  kScanFirstAudioTag = 0x20,
  kScanBrokenLink = 0x40,  // never cleared: the scan runs to the end of the data
  kScanTailSearchFailed = 0x80,
};

constexpr uint32_t kScanVideo = kScanVideoDescription | kScanSkipFirstVideoTag | kScanFrameDuration;  // 0x1C
constexpr uint32_t kScanAudio = kScanAudioDescription | kScanFirstAudioTag;                            // 0x21
constexpr uint32_t kTimeUnset = 0xFFFFFFFF;
// Media seen before the tail search is worth its reads, in ms.
constexpr uint32_t kTenSeconds = 10000;

uint32_t InitialScanFlags(uint8_t headerFlags) {
  uint32_t flags = kScanDurationOpen;
  if (headerFlags & kFlvHasVideo) flags |= kScanVideo;
  if (headerFlags & kFlvHasAudio) flags |= kScanAudio;
  return flags;
}

}  // namespace

HRESULT CFlvHeaderScan::ReadAndParseHeader(IAsyncReader* pReader) {
  m_FlvHeader = FlvHeader();
  m_dwStreamsSeen = 0;
  m_dwDuration = 0;
  m_llAvailable = 0;
  m_llTotal = 0;
  m_llAvgTimePerFrame = 0;
  if (pReader == nullptr) return E_POINTER;

  LONGLONG llTotal = 0;
  LONGLONG llAvailable = 0;
  // An estimated length (VFW_S_ESTIMATED) is not good enough either.
  if (pReader->Length(&llTotal, &llAvailable) != S_OK) return VFW_E_INVALID_FILE_FORMAT;
  m_llTotal = llTotal;
  m_llAvailable = llAvailable;

  CFlvReader reader(pReader, 0, &m_TagLinkFixups);
  if (ReadFlvHeader(reader, m_FlvHeader) != S_OK) return VFW_E_INVALID_FILE_FORMAT;

  int64_t llPos = m_FlvHeader.DataOffset;
  int64_t llPrevPos = 0;  // 0: no tag before
  uint32_t dwExpectedPrevSize = 0;  // 0: nothing to check
  FlvTag firstAudioTag;
  int64_t llFirstAudioPos = 0;
  uint32_t dwFirstVideoTime = kTimeUnset;
  uint32_t dwLastVideoTime = kTimeUnset;
  uint32_t cVideoTags = 0;
  uint32_t flags = InitialScanFlags(m_FlvHeader.Flags);

  while (flags != 0) {
    FlvTag tag;
    if (llPos >= m_llAvailable || ReadTagHeader(reader, llPos, tag) != S_OK) break;

    if (dwExpectedPrevSize != 0 && tag.PreviousTagSize != 0 && tag.PreviousTagSize != dwExpectedPrevSize) {
      Trace("\nCFlvDmx::ReadAndParseHeader: Invalid last tag size: received %x instead of %x", tag.PreviousTagSize,
            dwExpectedPrevSize);
      flags |= kScanBrokenLink;
    }
    if (llPrevPos != 0 && PreviousTagPosition(llPos, tag) != llPrevPos) {
      // Out of memory leaves the link unrepaired; the scan goes on.
      (void)m_TagLinkFixups.Add(llPrevPos, llPos);
    }

    if (tag.DataSize != 0 && tag.TagType == kFlvTagVideo) {
      m_dwStreamsSeen |= kStreamVideoSeen;
      if ((flags & kScanDurationOpen) && m_dwDuration < tag.TimeStamp) m_dwDuration = tag.TimeStamp;
      if (flags & kScanFrameDuration) {
        if (flags & kScanSkipFirstVideoTag) {
          flags &= ~kScanSkipFirstVideoTag;
        } else {
          dwLastVideoTime = tag.TimeStamp;
          if (dwFirstVideoTime == kTimeUnset) {
            dwFirstVideoTime = tag.TimeStamp;
          } else if (tag.TimeStamp - dwFirstVideoTime > kTenSeconds) {
            // cVideoTags is at least 1 here: the first counted tag.
            flags &= ~kScanFrameDuration;
            m_llAvgTimePerFrame = static_cast<int64_t>(tag.TimeStamp - dwFirstVideoTime) * 10000 / cVideoTags;
          }
          ++cVideoTags;
        }
      }
      if (flags & kScanVideoDescription) {
        flags &= ~kScanVideoDescription;
        if (m_VideoEntry.ReadFormatFromTag(pReader, llPos + kFlvTagPayloadOffset, &tag, 0) != S_OK) {
          return VFW_E_INVALID_FILE_FORMAT;
        }
      }
    } else if (tag.DataSize != 0 && tag.TagType == kFlvTagAudio) {
      m_dwStreamsSeen |= kStreamAudioSeen;
      if ((flags & kScanDurationOpen) && m_dwDuration < tag.TimeStamp) m_dwDuration = tag.TimeStamp;
      if (flags & kScanAudioDescription) {
        if (flags & kScanFirstAudioTag) {
          // Built when the next audio tag tells how long this one plays.
          firstAudioTag = tag;
          llFirstAudioPos = llPos;
          flags &= ~kScanFirstAudioTag;
        } else {
          const HRESULT hr = m_AudioEntry.ReadFormatFromTag(pReader, llFirstAudioPos + kFlvTagPayloadOffset,
                                                            &firstAudioTag, tag.TimeStamp - firstAudioTag.TimeStamp);
          if (hr == S_OK || hr == VFW_E_UNSUPPORTED_AUDIO) {
            flags &= ~kScanAudioDescription;
          } else if (hr != kStreamDataShort) {
            return hr;
          }
        }
      }
    } else if (tag.DataSize != 0 && tag.TagType == kFlvTagScript) {
      uint32_t dwMetaDuration = 0;
      int32_t lAudioCodecId = -1;
      int32_t lVideoCodecId = -1;
      (void)ParseScriptDataTag(reader, llPos, tag, &dwMetaDuration, &lAudioCodecId, &lVideoCodecId);
      if (dwMetaDuration != 0) {
        m_dwDuration = dwMetaDuration;
        flags &= ~kScanDurationOpen;
      }
      // Metadata may announce a stream the header left out, never remove one.
      if (!(m_FlvHeader.Flags & kFlvHasVideo) && lVideoCodecId >= 0) {
        m_FlvHeader.Flags |= kFlvHasVideo;
        flags |= kScanVideo;
      }
      if (!(m_FlvHeader.Flags & kFlvHasAudio) && lAudioCodecId >= 0) {
        m_FlvHeader.Flags |= kFlvHasAudio;
        flags |= kScanAudio;
      }
    }

    if (flags == kScanDurationOpen) {
      // Only the duration is left: after ten seconds of media, the tail of
      // the file is cheaper than the rest of the walk.
      if (m_dwDuration > kTenSeconds) {
        if (SUCCEEDED(FindTimestampOfLastSample(reader, llPrevPos))) break;
        flags = kScanTailSearchFailed | kScanDurationOpen;
      }
    } else if (flags == kScanTailSearchFailed) {
      break;
    }

    llPrevPos = llPos;
    llPos = NextTagPosition(llPos, tag);
    // Some writers patch the metadata tag in place: its follower's back-link
    // is not checked.
    dwExpectedPrevSize = tag.TagType == kFlvTagScript ? 0 : ExpectedPreviousTagSize(tag);
  }

  if ((flags & kScanAudioDescription) && !(flags & kScanFirstAudioTag)) {
    // A single audio tag, or one whose header never became readable.
    (void)m_AudioEntry.ReadFormatFromTag(pReader, llFirstAudioPos + kFlvTagPayloadOffset, &firstAudioTag, 0);
  }
  if (flags & kScanFrameDuration) {
    m_llAvgTimePerFrame = cVideoTags > 1 ? static_cast<int64_t>(dwLastVideoTime - dwFirstVideoTime) * 10000 /
                                               (cVideoTags - 1)
                                         : kDefaultAvgTimePerFrame;
  }
  m_VideoEntry.SetAvgTimePerFrame(m_llAvgTimePerFrame);
  return S_OK;
}

}  // namespace flvdmx
