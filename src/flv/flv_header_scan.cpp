#include "flv/flv_header_scan.h"

#include <algorithm>

#include "diag/trace.h"
#include "flv/amf0.h"
#include "flv/flv_ex_scan.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"
#include "flv/flv_timestamps.h"

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
  // AVC or HEVC whose first video tag was no sequence header: later video
  // tags are looked at for one (a recording joined mid-stream).
  kScanDecoderConfig = 0x100,
};

constexpr uint32_t kScanVideo =
    kScanVideoDescription | kScanSkipFirstVideoTag | kScanFrameDuration;     // 0x1C
constexpr uint32_t kScanAudio = kScanAudioDescription | kScanFirstAudioTag;  // 0x21
constexpr uint32_t kTimeUnset = 0xFFFFFFFF;
// Media seen before the tail search is worth its reads, in ms.
constexpr uint32_t kTenSeconds = 10000;
// Video tags after the first that are looked at for a late sequence header:
// encoders re-send it at every key frame, and key frames come within
// seconds, so a file without one in this many tags has none.
constexpr uint32_t kConfigSearchTags = 2000;

// The tail search probes the part it skips at most this much media apart
// (at the rate of the scanned part), well inside one 24-bit wrap period...
constexpr double kProbeSpanMs = 60.0 * 60 * 1000;
// ...and at least this many bytes apart.
constexpr int64_t kMinProbeStep = 64 * 1024;

// A lower bound for the time of the tags at llTo, carried on from the time
// dwFrom at llFrom by a probe of the chain every kProbeSpanMs of media, each
// probe's time carried on from the one before.
uint32_t CarryTimeForward(const CFlvReader& reader, int64_t llFrom, uint32_t dwFrom, int64_t llTo) {
  const double dStep = dwFrom == 0 ? 0 : static_cast<double>(llFrom) / dwFrom * kProbeSpanMs;
  const int64_t step = dStep > 1e15 ? INT64_C(1000000000000000)
                                    : std::max(kMinProbeStep, static_cast<int64_t>(dStep));
  uint32_t dwTime = dwFrom;
  for (int64_t p = llFrom + step; p < llTo; p += step) {
    FlvTag tag;
    int64_t pos = 0;
    if (FindTagHeaderInRange(reader, p, std::min(p + step, llTo), dwTime, tag, pos) == S_OK &&
        dwTime < tag.TimeStamp) {
      dwTime = tag.TimeStamp;
    }
  }
  return dwTime;
}

// From the tail tag at llPos to the end of the data: raises *pdwDuration to
// each tag's time (carried on from the tag before) and repairs back-links
// that do not lead to the tag before.
void WalkTailToEnd(const CFlvReader& reader, int64_t llPos, FlvTag tag, uint32_t* pdwDuration,
                   CTagLinkFixups& fixups) {
  for (;;) {
    if (*pdwDuration < tag.TimeStamp) *pdwDuration = tag.TimeStamp;
    const int64_t next = NextTagPosition(llPos, tag);
    FlvTag nextTag;
    if (ReadTagHeader(reader, next, nextTag) != S_OK) return;
    // No size is expected after script data: some writers patch the metadata
    // tag in place and leave the back-link behind it stale.
    const uint32_t expected = tag.TagType == kFlvTagScript ? 0 : ExpectedPreviousTagSize(tag);
    if (expected != 0 && nextTag.PreviousTagSize != 0 && nextTag.PreviousTagSize != expected) {
      Trace(
          "\nCFlvDmx::FindTimestampOfLastSample: Invalid last tag size: received %x instead of %x",
          nextTag.PreviousTagSize, expected);
    }
    if (PreviousTagPosition(next, nextTag) != llPos) (void)fixups.Add(llPos, next);
    if (nextTag.TagType == kFlvTagVideo || nextTag.TagType == kFlvTagAudio) {
      WraparoundDetected(tag.TimeStamp, nextTag);
    }
    tag = nextTag;
    llPos = next;
  }
}

uint32_t InitialScanFlags(uint8_t headerFlags) {
  uint32_t flags = kScanDurationOpen;
  if (headerFlags & kFlvHasVideo) flags |= kScanVideo;
  if (headerFlags & kFlvHasAudio) flags |= kScanAudio;
  return flags;
}

}  // namespace

// One scan over a file state: the walk's own state, one handler per tag kind
// and the finishing steps. Lives for one ReadAndParseHeader call.
class CFlvHeaderScan {
 public:
  // ReadAndParseHeader: resets what the scan fills, then runs one.
  static HRESULT Scan(IAsyncReader* pReader, CFlvFileState& file, CBlockMemory* pMemory);

 private:
  CFlvHeaderScan(CFlvFileState& file, IAsyncReader* pReader, int64_t llAvailable)
      : m_File(file),
        m_pReader(pReader),
        m_Reader(pReader, 0, &file.m_TagLinkFixups),
        m_llAvailable(llAvailable),
        m_ExScan(file) {}

  HRESULT Run();
  // False when the walk is over: the end of the data or no readable header.
  bool ReadNextTag(FlvTag& tag);
  void CheckBackLink(const FlvTag& tag);
  // Carries the time of an audio or video tag on past the 24-bit wrap.
  void UnwrapTime(FlvTag& tag);
  // Whether the audio tag here is an AAC raw frame (AACPacketType 1).
  bool IsAacRawFrame(const FlvTag& tag) const;
  void RaiseDuration(uint32_t dwTime);
  HRESULT OnVideoTag(const FlvTag& tag);
  // The video description from the tag here. A broken AVC or HEVC sequence
  // header leaves the stream without a configuration and answers S_OK: the
  // frames still play and a later header may still give it. Other failures
  // (out of memory, other codecs) are returned.
  HRESULT ReadVideoFormat(const FlvTag& tag);
  // A later video tag while kScanDecoderConfig is set.
  void LookForDecoderConfig(const FlvTag& tag);
  HRESULT OnAudioTag(const FlvTag& tag);
  void OnScriptTag(const FlvTag& tag);
  void CountVideoTime(uint32_t dwTime);
  // Hands an enhanced tag to m_ExScan; `doneFlags` are cleared once its
  // tracks of the kind are described. *pbHandled: it was enhanced.
  HRESULT ScanExTag(const FlvTag& tag, uint32_t doneFlags, bool* pbHandled);
  // After each tag: false when the walk should stop (the tail search settled
  // the duration, or it failed and nothing else is left).
  bool SettleDurationEarly();
  void FinishAudioDescription();
  void FinishFrameDuration();

  CFlvFileState& m_File;
  IAsyncReader* m_pReader;
  CFlvReader m_Reader;
  int64_t m_llAvailable;
  CFlvExScan m_ExScan;

  uint32_t m_dwFlags = 0;
  int64_t m_llPos = 0;
  int64_t m_llPrevPos = 0;            // 0: no tag before
  uint32_t m_dwExpectedPrevSize = 0;  // 0: nothing to check
  FlvTag m_FirstAudioTag;
  int64_t m_llFirstAudioPos = 0;
  uint32_t m_dwFirstVideoTime = kTimeUnset;
  uint32_t m_dwLastVideoTime = kTimeUnset;
  uint32_t m_cVideoTags = 0;
  // Video tags looked at for a late sequence header.
  uint32_t m_cConfigSearchTags = 0;
  // The latest audio or video time so far: the wraparound reference.
  uint32_t m_dwLatestTime = 0;
  // Every audio and video tag so far carried the upper bits of its time in
  // TimestampExtended (for short files: zero).
  bool m_bExtendedTimeConsistent = true;
  // An AAC raw frame that came before any sequence header: the first audio
  // tag only when the stream has no sequence header at all.
  bool m_bFirstAudioIsFallback = false;
};

HRESULT CFlvHeaderScan::Run() {
  if (ReadFlvHeader(m_Reader, m_File.m_FlvHeader) != S_OK) return VFW_E_INVALID_FILE_FORMAT;
  m_llPos = m_File.m_FlvHeader.DataOffset;
  m_dwFlags = InitialScanFlags(m_File.m_FlvHeader.Flags);

  while (m_dwFlags != 0) {
    FlvTag tag;
    if (!ReadNextTag(tag)) break;
    UnwrapTime(tag);
    if (tag.DataSize != 0 && tag.TagType == kFlvTagVideo) {
      const HRESULT hr = OnVideoTag(tag);
      if (hr != S_OK) return hr;
    } else if (tag.DataSize != 0 && tag.TagType == kFlvTagAudio) {
      const HRESULT hr = OnAudioTag(tag);
      if (hr != S_OK) return hr;
    } else if (tag.DataSize != 0 && tag.TagType == kFlvTagScript) {
      OnScriptTag(tag);
    }
    if (!SettleDurationEarly()) break;

    m_llPrevPos = m_llPos;
    m_llPos = NextTagPosition(m_llPos, tag);
    // Some writers patch the metadata tag in place: its follower's back-link
    // is not checked.
    m_dwExpectedPrevSize = tag.TagType == kFlvTagScript ? 0 : ExpectedPreviousTagSize(tag);
  }

  FinishAudioDescription();
  FinishFrameDuration();
  m_File.VideoEntry().SetAvgTimePerFrame(m_File.m_llAvgTimePerFrame);
  for (auto& pEntry : m_File.ExtraVideoEntries()) {
    pEntry->SetAvgTimePerFrame(m_File.m_llAvgTimePerFrame);
  }
  return S_OK;
}

bool CFlvHeaderScan::ReadNextTag(FlvTag& tag) {
  if (m_llPos >= m_llAvailable || ReadTagHeader(m_Reader, m_llPos, tag) != S_OK) return false;
  CheckBackLink(tag);
  return true;
}

void CFlvHeaderScan::CheckBackLink(const FlvTag& tag) {
  if (m_dwExpectedPrevSize != 0 && tag.PreviousTagSize != 0 &&
      tag.PreviousTagSize != m_dwExpectedPrevSize) {
    Trace("\nCFlvDmx::ReadAndParseHeader: Invalid last tag size: received %x instead of %x",
          tag.PreviousTagSize, m_dwExpectedPrevSize);
    m_dwFlags |= kScanBrokenLink;
  }
  if (m_llPrevPos != 0 && PreviousTagPosition(m_llPos, tag) != m_llPrevPos) {
    // Out of memory leaves the link unrepaired; the scan goes on.
    (void)m_File.m_TagLinkFixups.Add(m_llPrevPos, m_llPos);
  }
}

void CFlvHeaderScan::UnwrapTime(FlvTag& tag) {
  if (tag.DataSize == 0 || (tag.TagType != kFlvTagVideo && tag.TagType != kFlvTagAudio)) return;
  WraparoundDetected(m_dwLatestTime, tag);
  if (m_dwLatestTime < tag.TimeStamp) m_dwLatestTime = tag.TimeStamp;
  if ((tag.ExtendedTimeStampAndStreamId >> 24) != (tag.TimeStamp >> 24)) {
    m_bExtendedTimeConsistent = false;
  }
}

bool CFlvHeaderScan::IsAacRawFrame(const FlvTag& tag) const {
  uint8_t prefix[2] = {};
  return tag.DataSize >= 2 && m_Reader.Read(m_llPos + kFlvTagPayloadOffset, 2, prefix) == S_OK &&
         (prefix[0] >> 4) == kSoundFormatAac && prefix[1] == kFlvPacketCodedData;
}

void CFlvHeaderScan::RaiseDuration(uint32_t dwTime) {
  if ((m_dwFlags & kScanDurationOpen) && m_File.m_dwDuration < dwTime) {
    m_File.m_dwDuration = dwTime;
  }
}

HRESULT CFlvHeaderScan::OnVideoTag(const FlvTag& tag) {
  m_File.m_dwStreamsSeen |= kStreamVideoSeen;
  m_File.VideoEntry().NoteTagSize(tag.DataSize);
  RaiseDuration(tag.TimeStamp);
  if (m_dwFlags & kScanFrameDuration) {
    // The first video tag is left out whatever it is: a header when the
    // codec has one, otherwise a frame that does not change the average.
    if (m_dwFlags & kScanSkipFirstVideoTag) {
      m_dwFlags &= ~kScanSkipFirstVideoTag;
    } else if (m_ExScan.IsMainVideoFrame(m_Reader, m_llPos, tag)) {
      CountVideoTime(tag.TimeStamp);
    }
  }
  if (m_dwFlags & kScanDecoderConfig) {
    LookForDecoderConfig(tag);
  } else if (m_dwFlags & kScanVideoDescription) {
    bool bEnhanced = false;
    const HRESULT hr = ScanExTag(tag, kScanVideoDescription, &bEnhanced);
    if (bEnhanced || FAILED(hr)) return hr;
    m_dwFlags &= ~kScanVideoDescription;
    const HRESULT hrFormat = ReadVideoFormat(tag);
    if (hrFormat == E_OUTOFMEMORY) return hrFormat;
    if (hrFormat != S_OK) return VFW_E_INVALID_FILE_FORMAT;
    if (m_File.VideoEntry().NeedsDecoderConfiguration()) m_dwFlags |= kScanDecoderConfig;
  }
  return S_OK;
}

HRESULT CFlvHeaderScan::ReadVideoFormat(const FlvTag& tag) {
  VideoSampleEntry& entry = m_File.VideoEntry();
  const HRESULT hr = entry.ReadFormatFromTag(m_pReader, m_llPos + kFlvTagPayloadOffset, &tag, 0);
  // A failed read is reported by the read-ahead all the same.
  if (hr == S_OK || hr == E_OUTOFMEMORY ||
      (entry.m_iCodecID != kVideoCodecAvc && entry.m_iCodecID != kVideoCodecHevc)) {
    return hr;
  }
  entry.m_ConfigBytes.Clear();
  return S_OK;
}

void CFlvHeaderScan::LookForDecoderConfig(const FlvTag& tag) {
  VideoSampleEntry& entry = m_File.VideoEntry();
  // The flags byte (FrameType, CodecID) and AVCPacketType.
  uint8_t prefix[2] = {};
  if (tag.DataSize >= 2 && m_Reader.Read(m_llPos + kFlvTagPayloadOffset, 2, prefix) == S_OK &&
      (prefix[0] & 0x0F) == entry.m_iCodecID && prefix[1] == kFlvPacketSequenceHeader) {
    // Out of memory leaves the stream as it was: without one.
    if (ReadVideoFormat(tag) != S_OK) entry.m_ConfigBytes.Clear();
  }
  if (!entry.NeedsDecoderConfiguration() || ++m_cConfigSearchTags >= kConfigSearchTags) {
    m_dwFlags &= ~kScanDecoderConfig;
  }
}

HRESULT CFlvHeaderScan::ScanExTag(const FlvTag& tag, uint32_t doneFlags, bool* pbHandled) {
  const HRESULT hr = m_ExScan.OnTag(m_Reader, m_llPos, tag, pbHandled);
  if (hr != S_OK || !*pbHandled) return hr == E_OUTOFMEMORY ? hr : S_OK;
  if (m_ExScan.Done(tag.TagType)) m_dwFlags &= ~doneFlags;
  return S_OK;
}

void CFlvHeaderScan::CountVideoTime(uint32_t dwTime) {
  // A tag earlier than the first counted one (a sequence header moved
  // forward with its old time) would make the span negative.
  if (m_dwFirstVideoTime != kTimeUnset && dwTime < m_dwFirstVideoTime) return;
  if (m_dwLastVideoTime == kTimeUnset || m_dwLastVideoTime < dwTime) m_dwLastVideoTime = dwTime;
  if (m_dwFirstVideoTime == kTimeUnset) {
    m_dwFirstVideoTime = dwTime;
  } else if (dwTime - m_dwFirstVideoTime > kTenSeconds) {
    // m_cVideoTags is at least 1 here: the first counted tag.
    m_dwFlags &= ~kScanFrameDuration;
    m_File.m_llAvgTimePerFrame =
        static_cast<int64_t>(dwTime - m_dwFirstVideoTime) * 10000 / m_cVideoTags;
  }
  ++m_cVideoTags;
}

HRESULT CFlvHeaderScan::OnAudioTag(const FlvTag& tag) {
  m_File.m_dwStreamsSeen |= kStreamAudioSeen;
  m_File.AudioEntry().NoteTagSize(tag.DataSize);
  RaiseDuration(tag.TimeStamp);
  if (!(m_dwFlags & kScanAudioDescription)) return S_OK;
  bool bEnhanced = false;
  const HRESULT hrEx = ScanExTag(tag, kScanAudio, &bEnhanced);
  if (bEnhanced || FAILED(hrEx)) return hrEx;
  if (m_dwFlags & kScanFirstAudioTag) {
    // AAC is described by its sequence header, wherever it comes; raw frames
    // before it (a recording joined late) cannot describe the stream.
    const bool bRawAac = IsAacRawFrame(tag);
    if (bRawAac && m_bFirstAudioIsFallback) return S_OK;
    // Built when the next audio tag tells how long this one plays.
    m_FirstAudioTag = tag;
    m_llFirstAudioPos = m_llPos;
    m_bFirstAudioIsFallback = bRawAac;
    if (!bRawAac) m_dwFlags &= ~kScanFirstAudioTag;
    return S_OK;
  }
  const HRESULT hr = m_File.AudioEntry().ReadFormatFromTag(
      m_pReader, m_llFirstAudioPos + kFlvTagPayloadOffset, &m_FirstAudioTag,
      tag.TimeStamp - m_FirstAudioTag.TimeStamp);
  if (hr == S_OK || hr == VFW_E_UNSUPPORTED_AUDIO) {
    m_dwFlags &= ~kScanAudioDescription;
  } else if (hr != kStreamDataShort) {
    return hr;
  }
  return S_OK;
}

void CFlvHeaderScan::OnScriptTag(const FlvTag& tag) {
  uint32_t dwMetaDuration = 0;
  int32_t lAudioCodecId = -1;
  int32_t lVideoCodecId = -1;
  (void)ParseScriptDataTag(m_Reader, m_llPos, tag, &dwMetaDuration, &lAudioCodecId, &lVideoCodecId);
  if (dwMetaDuration != 0) {
    m_File.m_dwDuration = dwMetaDuration;
    m_dwFlags &= ~kScanDurationOpen;
  }
  // Metadata may announce a stream the header left out, never remove one.
  FlvHeader& header = m_File.m_FlvHeader;
  if (!(header.Flags & kFlvHasVideo) && lVideoCodecId >= 0) {
    header.Flags |= kFlvHasVideo;
    m_dwFlags |= kScanVideo;
  }
  if (!(header.Flags & kFlvHasAudio) && lAudioCodecId >= 0) {
    header.Flags |= kFlvHasAudio;
    m_dwFlags |= kScanAudio;
  }
}

bool CFlvHeaderScan::SettleDurationEarly() {
  if (m_dwFlags == kScanDurationOpen) {
    // Only the duration is left: after ten seconds of media, the tail of the
    // file is cheaper than the rest of the walk.
    if (m_File.m_dwDuration > kTenSeconds) {
      if (SUCCEEDED(FindTimestampOfLastSample(m_Reader, m_llPrevPos, &m_File.m_dwDuration,
                                              m_File.m_TagLinkFixups, m_bExtendedTimeConsistent))) {
        return false;
      }
      m_dwFlags = kScanTailSearchFailed | kScanDurationOpen;
    }
  } else if (m_dwFlags == kScanTailSearchFailed) {
    return false;
  }
  return true;
}

void CFlvHeaderScan::FinishAudioDescription() {
  if ((m_dwFlags & kScanAudioDescription) &&
      (!(m_dwFlags & kScanFirstAudioTag) || m_bFirstAudioIsFallback)) {
    // A single audio tag, or one whose header never became readable.
    (void)m_File.AudioEntry().ReadFormatFromTag(m_pReader, m_llFirstAudioPos + kFlvTagPayloadOffset,
                                                &m_FirstAudioTag, 0);
  }
}

void CFlvHeaderScan::FinishFrameDuration() {
  if (!(m_dwFlags & kScanFrameDuration)) return;
  m_File.m_llAvgTimePerFrame = m_cVideoTags > 1
                                   ? static_cast<int64_t>(m_dwLastVideoTime - m_dwFirstVideoTime) *
                                         10000 / (m_cVideoTags - 1)
                                   : kDefaultAvgTimePerFrame;
}

HRESULT CFlvHeaderScan::Scan(IAsyncReader* pReader, CFlvFileState& file, CBlockMemory* pMemory) {
  file.m_FlvHeader = FlvHeader();
  file.m_dwStreamsSeen = 0;
  file.m_dwDuration = 0;
  file.m_llAvgTimePerFrame = 0;
  if (pReader == nullptr) return E_POINTER;

  LONGLONG llTotal = 0;
  LONGLONG llAvailable = 0;
  // An estimated length (VFW_S_ESTIMATED) is not good enough either.
  if (pReader->Length(&llTotal, &llAvailable) != S_OK) return VFW_E_INVALID_FILE_FORMAT;
  CFlvHeaderScan scan(file, pReader, llAvailable);
  // The scan, the stream descriptions and the tail search all read through
  // one read-ahead block, which also remembers a failed read: the walk
  // takes an unreadable part for the end of the data, but a reader that
  // failed must fail the connection rather than leave a file with
  // streams missing.
  HRESULT hr = scan.m_Reader.EnableReadAhead(nullptr, pMemory);
  if (FAILED(hr)) return hr;
  scan.m_pReader = scan.m_Reader.Reader();
  hr = scan.Run();
  const HRESULT hrRead = scan.m_Reader.ReadFailure();
  return FAILED(hrRead) ? hrRead : hr;
}

HRESULT ReadAndParseHeader(IAsyncReader* pReader, CFlvFileState& file, CBlockMemory* pMemory) {
  return CFlvHeaderScan::Scan(pReader, file, pMemory);
}

HRESULT FindTimestampOfLastSample(const CFlvReader& reader, int64_t llLowerBound,
                                  uint32_t* pdwDuration, CTagLinkFixups& fixups,
                                  bool bTrustExtendedTime) {
  const int64_t llAvailable = reader.Available();
  int64_t w = llAvailable - kScanWindow;
  if (w <= llLowerBound) return E_FAIL;
  // The tail may lie several wraps of the 24-bit time beyond the scanned part.
  const uint32_t dwReference = CarryTimeForward(reader, llLowerBound, *pdwDuration, w);
  FlvTag tag;
  int64_t pos = 0;
  // Each step back searches only its own window: the windows after it were
  // searched by the steps before, with the same result.
  int64_t end = llAvailable;
  while (FindTagHeaderInRange(reader, w, end, dwReference, tag, pos) != S_OK) {
    end = w;
    w -= kScanWindow;
    if (w <= llLowerBound) return E_FAIL;
  }
  // The probes can miss a wrap, never add one: a file that fills
  // TimestampExtended may only raise the time.
  const uint32_t dwExtended =
      (tag.ExtendedTimeStampAndStreamId & 0xFF000000u) | (tag.TimeStamp & 0x00FFFFFFu);
  if (bTrustExtendedTime && dwExtended > tag.TimeStamp) tag.TimeStamp = dwExtended;
  WalkTailToEnd(reader, pos, tag, pdwDuration, fixups);
  return S_OK;
}

}  // namespace flvdmx
