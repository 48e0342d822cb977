// The streaming loop of CFlvDmx: what each output pin's thread runs.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "diag/trace.h"
#include "flv/flv_dmx.h"
#include "flv/flv_ex_tag.h"
#include "flv/flv_seek.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {

namespace {

constexpr REFERENCE_TIME kUnitsPerMs = 10000;
// The most prefix bytes any codec has in front of its payload (AVC and HEVC:
// flags, packet type, CompositionTime).
constexpr uint32_t kMaxPrefix = 5;
// AVCPacketType / AACPacketType of the tags that carry coded data.
constexpr uint8_t kCodedDataPacket = 1;

bool IsKeyFrameFlags(uint8_t flags) { return (flags & 0xF0) == 0x10; }

// What of a tag's payload goes downstream, by stream and codec.
struct PayloadLayout {
  uint32_t cbSkip = 1;           // prefix bytes left out of the sample
  uint32_t cbPrefixNeeded = 0;   // prefix bytes the decision needs (from p + 15)
  bool bPacketTypeGate = false;  // only packet type 1 (coded data) is delivered
  bool bVideo = false;
};

PayloadLayout LayoutOf(const SampleEntry* pEntry) {
  PayloadLayout layout;
  if (pEntry->m_iStreamKind == kFlvTagVideo) {
    const auto* pVideo = static_cast<const VideoSampleEntry*>(pEntry);
    layout.bVideo = true;
    if (pVideo->m_iCodecID == kVideoCodecVp6) {
      layout.cbSkip = 2;
      layout.cbPrefixNeeded = 1;
    } else if (pVideo->m_iCodecID == kVideoCodecAvc || pVideo->m_iCodecID == kVideoCodecHevc) {
      // Bare units, as enhanced hvc1 tracks give them: one decoder takes
      // both kinds of HEVC file.
      layout.cbSkip = 5;
      layout.cbPrefixNeeded = 2;
      layout.bPacketTypeGate = true;
    } else {
      layout.cbPrefixNeeded = 1;
    }
  } else if (pEntry->m_iStreamKind == kFlvTagAudio &&
             static_cast<const AudioSampleEntry*>(pEntry)->IsAac()) {
    layout.cbSkip = 2;
    layout.cbPrefixNeeded = 2;
    layout.bPacketTypeGate = true;
  }
  return layout;
}

// (t - start) / rate, in double and truncated toward zero, held within the
// range of a reference time.
REFERENCE_TIME Relative(REFERENCE_TIME t, REFERENCE_TIME llStart, double dRate) {
  const double v = (static_cast<double>(t) - static_cast<double>(llStart)) / dRate;
  if (!(v < 9.2e18)) return kNoStopTime;
  if (v < -9.2e18) return -kNoStopTime;
  return static_cast<REFERENCE_TIME>(v);
}

// Milliseconds of a segment start: a start before the file's beginning plays
// from the beginning, one beyond the u32 range from the end.
uint32_t TargetMs(REFERENCE_TIME llStart) {
  if (llStart <= 0) return 0;
  const REFERENCE_TIME ms = llStart / kUnitsPerMs;
  return ms > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

// Whether the AVC or HEVC tag at llPosition is an end-of-sequence packet.
bool IsEndOfSequence(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag) {
  BYTE packetType = 0;
  return tag.DataSize >= 2 &&
         reader.Read(llPosition + kFlvTagPayloadOffset + 1, 1, &packetType) == S_OK &&
         packetType == kFlvPacketEndOfSequence;
}

const char* DeliverFailureFormat(int32_t iStreamKind) {
  if (iStreamKind == kFlvTagAudio) return "  Process: Audio Deliver failed: 0x%08X";
  if (iStreamKind == kFlvTagVideo) return "  Process: Video Deliver failed: 0x%08X";
  return "  Process: Non Audio/Video Deliver failed: 0x%08X";
}

// Whether the tag is a key frame: true for a tag that is not video, whose
// flags byte cannot be read, or whose FrameType is 1 (every video codec keeps
// FrameType in the same bits).
bool IsKeyFrame(const CFlvReader& reader, const SampleEntry* pEntry, const FlvTag& tag,
                int64_t llPosition) {
  IAsyncReader* pReader = reader.Reader();
  if (tag.TagType != kFlvTagVideo || pReader == nullptr) return true;
  if (pEntry->IsEnhanced()) return IsExKeyFrame(reader, llPosition, tag, pEntry->m_uTrackId);
  BYTE flags = 0;
  if (pReader->SyncRead(llPosition + kFlvTagPayloadOffset, 1, &flags) != S_OK) return true;
  return IsKeyFrameFlags(flags);
}

// Steps back from the video tag at llPosition to the nearest key frame at or
// before it; llSampleCount drops by the tags stepped over. S_OK; else the
// first result of FindPrevTagOfType that is not S_OK (S_FALSE: no key frame
// before, the position is the earliest video tag reached).
HRESULT SeekToKeyFrame(const CFlvReader& reader, const SampleEntry* pEntry, int64_t& llPosition,
                       FlvTag& tag, int64_t& llSampleCount) {
  while (!IsKeyFrame(reader, pEntry, tag, llPosition)) {
    const HRESULT hr =
        FindPrevTagOfType(reader, llPosition, kFlvTagVideo, tag, llPosition, tag.TimeStamp);
    if (hr != S_OK) return hr;
    --llSampleCount;
  }
  return S_OK;
}

// One tag's payload into pSample through pReader: the codec prefix bytes are
// skipped and the rest read straight into the sample's buffer. S_OK with
// *pbSync; S_FALSE when the tag is not to be delivered (a sequence header, an
// end-of-sequence packet, a tag too short for its prefix, or a short read);
// VFW_E_BUFFER_OVERFLOW when the payload does not fit the sample's buffer; a
// failure of the reader or the sample.
HRESULT FillSample(const SampleEntry* pEntry, IAsyncReader* pReader, IMediaSample* pSample,
                   int64_t llPosition, const FlvTag& tag, BOOL* pbSync) {
  if (pEntry == nullptr || pReader == nullptr || pSample == nullptr || pbSync == nullptr)
    return E_POINTER;
  const PayloadLayout layout = LayoutOf(pEntry);
  // Nothing is left once the prefix is gone: nothing to deliver.
  if (tag.DataSize < layout.cbSkip) return S_FALSE;

  // The flags byte (key frame) and the packet type come in one small read;
  // the payload then goes straight into the sample's buffer.
  BYTE prefix[kMaxPrefix] = {};
  bool bPrefixRead = false;
  if (layout.cbPrefixNeeded > 0) {
    const HRESULT hr = pReader->SyncRead(llPosition + kFlvTagPayloadOffset,
                                         static_cast<LONG>(layout.cbPrefixNeeded), prefix);
    if (layout.bPacketTypeGate) {
      if (FAILED(hr)) return hr;
      if (hr != S_OK || prefix[1] != kCodedDataPacket) return S_FALSE;
    }
    bPrefixRead = hr == S_OK;
  }

  const LONG cbPayload = static_cast<LONG>(tag.DataSize - layout.cbSkip);
  if (cbPayload > pSample->GetSize()) return VFW_E_BUFFER_OVERFLOW;
  HRESULT hr = pSample->SetActualDataLength(cbPayload);
  if (FAILED(hr)) return hr;
  BYTE* pData = nullptr;
  hr = pSample->GetPointer(&pData);
  if (FAILED(hr)) return hr;
  hr = pReader->SyncRead(llPosition + kFlvTagPayloadOffset + layout.cbSkip, cbPayload, pData);
  if (hr != S_OK) return hr;

  // A frame whose flags byte cannot be read counts as a key frame.
  *pbSync = !layout.bVideo || !bPrefixRead || IsKeyFrameFlags(prefix[0]);
  return S_OK;
}

// A downstream pin failed the loop: the graph learns of it, or it would wait
// for an end that never comes. Not for S_FALSE (a request to stop), nor for
// what a pin answers between its own stop and ours (renderers stop first).
HRESULT DeliveryFailed(CBaseDmx* pDmx, HRESULT hr) {
  const bool bStopping = hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED;
  if (FAILED(hr) && !bStopping) pDmx->ReportStreamError(hr);
  return hr;
}

// From a tag of `type` near the target to the last one at or before it (the
// tag whose time span covers the target; for video the frame shown there),
// or the stream's first tag when none lies at or before it. The walks are
// exact where the search is not: the search stops within a tolerance, on
// whatever tag its probe met.
void SettleOnTarget(const CFlvReader& reader, uint8_t type, uint32_t dwTarget, int64_t& llPosition,
                    FlvTag& tag, int64_t& llSampleCount) {
  while (tag.TimeStamp > dwTarget) {
    FlvTag prev = tag;
    int64_t llPrev = 0;
    if (FindPrevTagOfType(reader, llPosition, type, prev, llPrev, tag.TimeStamp) != S_OK) break;
    tag = prev;
    llPosition = llPrev;
    --llSampleCount;
  }
  if (tag.TimeStamp > dwTarget) return;
  for (;;) {
    FlvTag next;
    int64_t llNext = 0;
    if (FindNextTagResync(reader, NextTagPosition(llPosition, tag), tag.TimeStamp,
                          ExpectedPreviousTagSize(tag), type, next, llNext, nullptr) != S_OK ||
        next.TimeStamp > dwTarget) {
      return;
    }
    tag = next;
    llPosition = llNext;
    ++llSampleCount;
  }
}

// From the tag the search settled on back to the nearest one that carries
// the enhanced track of pEntry (tags of other tracks share the tag type); it
// stays put when no earlier tag carries it.
void SettleOnTrack(const CFlvReader& reader, const SampleEntry* pEntry, int64_t& llPosition,
                   FlvTag& tag, int64_t& llSampleCount) {
  if (!pEntry->IsEnhanced()) return;
  const uint8_t type = static_cast<uint8_t>(pEntry->m_iStreamKind);
  FlvTag found = tag;
  int64_t llFound = llPosition;
  while (!TagCarriesTrack(reader, llFound, found, pEntry->m_uTrackId)) {
    if (FindPrevTagOfType(reader, llFound, type, found, llFound, found.TimeStamp) != S_OK) return;
  }
  if (llFound != llPosition) --llSampleCount;
  tag = found;
  llPosition = llFound;
}

// FindNextTagResync for the stream of pEntry: an enhanced track steps over
// the tags that carry nothing of it (other tracks, command frames).
HRESULT FindNextStreamTag(const CFlvReader& reader, const SampleEntry* pEntry, int64_t llPosition,
                          uint32_t dwReference, uint32_t dwExpectedPrevSize, uint8_t type,
                          FlvTag& tag, int64_t& llFoundPosition, bool* pbResynchronised) {
  HRESULT hr = FindNextTagResync(reader, llPosition, dwReference, dwExpectedPrevSize, type, tag,
                                 llFoundPosition, pbResynchronised);
  while (hr == S_OK && pEntry->IsEnhanced() &&
         !TagCarriesTrack(reader, llFoundPosition, tag, pEntry->m_uTrackId)) {
    bool bResynchronised = false;
    hr = FindNextTagResync(reader, NextTagPosition(llFoundPosition, tag), tag.TimeStamp,
                           ExpectedPreviousTagSize(tag), type, tag, llFoundPosition,
                           &bResynchronised);
    if (bResynchronised && pbResynchronised != nullptr) *pbResynchronised = true;
  }
  return hr;
}

}  // namespace

struct CFlvDmx::Segment {
  LONGLONG llStart = 0;
  LONGLONG llStop = kNoStopTime;
  double dRate = 1.0;
  REFERENCE_TIME llRelativeStop = kNoStopTime;  // the stop relative to the start
};

HRESULT CFlvDmx::PositionStream(CBaseDmxOutputPin* pPin, const CFlvReader& reader,
                                LONGLONG llSegmentStart, int64_t& llPosition, FlvTag& tag) {
  const SampleEntry* pEntry = pPin->GetSampleEntry();
  const uint8_t type = static_cast<uint8_t>(pEntry->m_iStreamKind);
  const int64_t llDataOffset = m_File.Header().DataOffset;
  reader.DropReadAhead();
  uint32_t dwTarget = TargetMs(llSegmentStart);

  // The first thread to position for a new target searches under the lock and
  // leaves its result as the start point; the other then starts from there.
  std::unique_lock<std::recursive_mutex> seekLock(m_File.SeekLock());
  uint32_t dwStartTime = 0;
  int64_t llStartPos = 0;
  bool bNear = false;
  m_File.GetSeekStartPoint(dwTarget, &dwStartTime, &llStartPos, &bNear);
  if (bNear) seekLock.unlock();

  if (llStartPos == llDataOffset) {
    // Without a stored point the search starts at the stream's first tag,
    // whose own time is the one to trust: a recording need not start at 0.
    FlvTag first;
    int64_t llFirst = 0;
    if (FindNextTagOfType(reader, llStartPos, 0, 0, type, first, llFirst) == S_OK) {
      dwStartTime = first.TimeStamp;
    }
  }
  int64_t llSampleCount = 0;
  llPosition = llStartPos;
  const uint32_t dwRequested = dwTarget;
  HRESULT hr =
      FindPreviousFrame(reader, type, llPosition, dwStartTime, dwTarget, tag, llSampleCount);
  if (hr == S_FALSE && llStartPos != llDataOffset) {
    // The start point the other pin left can lie after this stream's last
    // tag (a seek near the end): search again from this stream's last tag
    // before it, or the stream would deliver nothing.
    FlvTag startTag;
    int64_t llLastPos = 0;
    if (ReadTagHeader(reader, llStartPos, startTag) == S_OK &&
        FindPrevTagOfType(reader, llStartPos, type, startTag, llLastPos, dwStartTime) == S_OK) {
      llPosition = llLastPos;
      dwTarget = dwRequested;
      llSampleCount = 0;
      hr = FindPreviousFrame(reader, type, llPosition, startTag.TimeStamp, dwTarget, tag,
                             llSampleCount);
    }
  }
  // Whichever pin searched first, each stream starts from the same tag.
  if (hr == S_OK) SettleOnTarget(reader, type, dwRequested, llPosition, tag, llSampleCount);
  if (!bNear) {
    // Only a found tag is a start point: after S_FALSE the position and the
    // target would not belong together.
    if (hr == S_OK) m_File.SetSeekStartPoint(tag.TimeStamp, llPosition);
    seekLock.unlock();
  }
  // The shared start point above is the tag type's; this stream's own
  // track may lie before it.
  if (hr == S_OK) SettleOnTrack(reader, pEntry, llPosition, tag, llSampleCount);
  pPin->SetSampleCount(llSampleCount);

  if (hr == S_OK && type == kFlvTagVideo) hr = PositionAtKeyFrame(pPin, reader, llPosition, tag);
  if (FAILED(hr)) return hr;

  return FindNextStreamTag(reader, pEntry, llPosition, tag.TimeStamp, 0, type, tag, llPosition,
                           nullptr);
}

HRESULT CFlvDmx::PositionAtKeyFrame(CBaseDmxOutputPin* pPin, const CFlvReader& reader,
                                    int64_t& llPosition, FlvTag& tag) {
  const auto& video = *static_cast<const VideoSampleEntry*>(pPin->GetSampleEntry());
  int64_t llSampleCount = pPin->GetSampleCount();
  HRESULT hr = SeekToKeyFrame(reader, &video, llPosition, tag, llSampleCount);
  // An end-of-sequence tag is marked as a key frame but carries no picture:
  // a target after the last frame would start there and deliver no video at
  // all. The key frame before it is the one to decode from.
  const bool bUnits = video.m_iCodecID == kVideoCodecAvc || video.m_iCodecID == kVideoCodecHevc;
  while (hr == S_OK && bUnits && !video.IsEnhanced() && IsEndOfSequence(reader, llPosition, tag)) {
    hr = FindPrevTagOfType(reader, llPosition, kFlvTagVideo, tag, llPosition, tag.TimeStamp);
    if (hr == S_OK) hr = SeekToKeyFrame(reader, &video, llPosition, tag, llSampleCount);
  }
  // VP6 starts one key frame earlier than the other codecs.
  if (hr == S_OK && tag.TimeStamp != 0 && video.IsVp6()) {
    if (FindPrevTagOfType(reader, llPosition, kFlvTagVideo, tag, llPosition, tag.TimeStamp) ==
        S_OK) {
      hr = SeekToKeyFrame(reader, &video, llPosition, tag, llSampleCount);
    }
  }
  pPin->SetSampleCount(llSampleCount);
  return hr;
}

void CFlvDmx::EndStream(CBaseDmxOutputPin* pPin) {
  const HRESULT hr = pPin->DeliverEndOfStream();
  if (FAILED(hr)) ReportStreamError(hr);
}

HRESULT CFlvDmx::EndStreamOrFail(CBaseDmxOutputPin* pPin, const CFlvReader& reader) {
  // The walks take a failed read for the end of the data; ending the stream
  // there would pass a file whose source went away off as complete. A read
  // refused during a flush belongs to the seek, not to the source.
  const HRESULT hrRead = reader.ReadFailure();
  const bool bFlush = hrRead == VFW_E_WRONG_STATE || ReaderFlushState().lOpen.load() > 0;
  if (FAILED(hrRead) && !bFlush) {
    Trace("  Process: read failed: 0x%08X", static_cast<unsigned>(hrRead));
    ReportStreamError(hrRead);
    return hrRead;
  }
  EndStream(pPin);
  return S_OK;
}

HRESULT CFlvDmx::PinProcess(int /*iPin*/, CBaseDmxOutputPin* pPin) {
  if (pPin == nullptr) return E_UNEXPECTED;
  if (pPin->GetSampleEntry() == nullptr) return E_UNEXPECTED;
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_POINTER;
  // The reader object holds its own reference for as long as the loop runs.
  CFlvReader reader(pReader, m_File.Duration(), &m_File.TagLinkFixups());
  pReader->Release();
  // This thread's own read-ahead: the other pin reads elsewhere in the file.
  (void)reader.EnableReadAhead(&ReaderFlushState(), &pPin->ReadAheadMemory());

  for (;;) {
    pPin->ClearRestart();
    // A read refused by the flush before this segment is no fault of the source.
    reader.ClearReadFailure();
    Segment segment;
    HRESULT hr = GetSegment(&segment.llStart, &segment.llStop, &segment.dRate);
    if (FAILED(hr)) return ReportStreamError(hr);
    pPin->DeliverNewSegment(segment.llStart, segment.llStop, segment.dRate);
    if (segment.llStop != kNoStopTime) {
      segment.llRelativeStop = Relative(segment.llStop, segment.llStart, segment.dRate);
    }

    int64_t llPosition = 0;
    FlvTag tag;
    hr = PositionStream(pPin, reader, segment.llStart, llPosition, tag);
    if (hr == S_FALSE) return EndStreamOrFail(pPin, reader);
    if (hr != S_OK) return ReportStreamError(hr);

    bool bRestart = false;
    hr = DeliverSegment(pPin, reader, segment, llPosition, tag, &bRestart);
    if (!bRestart) return hr;
  }
}

HRESULT CFlvDmx::DeliverSegment(CBaseDmxOutputPin* pPin, const CFlvReader& reader,
                                const Segment& segment, int64_t llPosition, FlvTag tag,
                                bool* pbRestart) {
  const SampleEntry* pEntry = pPin->GetSampleEntry();
  const uint8_t type = static_cast<uint8_t>(pEntry->m_iStreamKind);
  BOOL bDiscontinuity = TRUE;
  for (;;) {
    // The next tag of the stream gives this sample's stop; without one (end
    // of file, a read failure, a broken chain) this is the last sample.
    FlvTag next;
    int64_t llNextPosition = 0;
    // A break in the chain (a wrong back-link, garbage between tags) is
    // crossed; the sample after it starts a new run of continuous data.
    bool bResynchronised = false;
    // The payload is read after the walk, straight into the sample: the
    // walk's read-ahead need not hold it.
    reader.SkipReadAhead(llPosition + kFlvTagPayloadOffset, NextTagPosition(llPosition, tag));
    const bool bLast = FindNextStreamTag(reader, pEntry, NextTagPosition(llPosition, tag),
                                         tag.TimeStamp, ExpectedPreviousTagSize(tag), type, next,
                                         llNextPosition, &bResynchronised) != S_OK;
    const REFERENCE_TIME tStart = static_cast<REFERENCE_TIME>(tag.TimeStamp) * kUnitsPerMs;
    // A next tag from before this one (a sequence header moved forward with
    // its old time) would end the sample before it starts, as preroll.
    const bool bBackwards = !bLast && next.TimeStamp < tag.TimeStamp;
    const REFERENCE_TIME tStop = bLast || bBackwards
                                     ? tStart + kLastSampleDuration
                                     : static_cast<REFERENCE_TIME>(next.TimeStamp) * kUnitsPerMs;
    REFERENCE_TIME tRelStop = 0;
    const HRESULT hr = DeliverTag(pPin, reader, segment, llPosition, tag, tStart, tStop,
                                  &bDiscontinuity, &tRelStop);
    if (hr != S_OK) return hr;
    if (bResynchronised) bDiscontinuity = TRUE;

    pPin->SetSampleCount(pPin->GetSampleCount() + 1);
    tag = next;
    llPosition = llNextPosition;
    if (pPin->CheckRequest(nullptr, 0)) {
      EndStream(pPin);
      return S_OK;
    }
    if (pPin->IsRestartRequested()) {
      Trace("  Process: RestartProcessLoop");
      *pbRestart = true;
      return S_OK;
    }
    if (bLast) return EndStreamOrFail(pPin, reader);
    if (tRelStop > segment.llRelativeStop) {
      EndStream(pPin);
      return S_OK;
    }
  }
}

HRESULT CFlvDmx::DeliverTag(CBaseDmxOutputPin* pPin, const CFlvReader& reader,
                            const Segment& segment, int64_t llPosition, const FlvTag& tag,
                            REFERENCE_TIME tStart, REFERENCE_TIME tStop, BOOL* pbDiscontinuity,
                            REFERENCE_TIME* ptRelStop) {
  const SampleEntry* pEntry = pPin->GetSampleEntry();
  IMediaSample* pSample = nullptr;
  HRESULT hr = pPin->GetDeliveryBuffer(&pSample, &tStart, &tStop, 0);
  if (FAILED(hr)) {
    Trace("  Process: GetDeliveryBuffer failed: 0x%08X", static_cast<unsigned>(hr));
    pPin->DeliverEndOfStream();
    return DeliveryFailed(this, hr);
  }
  *ptRelStop = Relative(tStop, segment.llStart, segment.dRate);
  BOOL bSync = FALSE;
  REFERENCE_TIME llTimeOffset = 0;
  const HRESULT hrFill =
      pEntry->IsEnhanced() ? FillExSample(reader, pEntry->m_uTrackId, pSample, llPosition, tag,
                                          &bSync, &llTimeOffset)
                           : FillSample(pEntry, reader.Reader(), pSample, llPosition, tag, &bSync);
  if (hrFill == VFW_E_BUFFER_OVERFLOW) {
    // One tag larger than the buffers were sized for costs that tag only;
    // the decoder learns of the gap from the next sample.
    Trace("  Process: tag at 0x%" PRIX64 " (%u bytes) exceeds the %ld-byte buffer, skipped",
          static_cast<uint64_t>(llPosition), tag.DataSize, static_cast<long>(pSample->GetSize()));
    pSample->Release();
    *pbDiscontinuity = TRUE;
    return S_OK;
  }
  // A ModEx offset moves the start only: it stays below a millisecond.
  tStart += llTimeOffset;
  if (tStop < tStart) tStop = tStart;
  REFERENCE_TIME tRelStart = Relative(tStart, segment.llStart, segment.dRate);
  REFERENCE_TIME tRelStop = Relative(tStop, segment.llStart, segment.dRate);
  *ptRelStop = tRelStop;
  if (FAILED(hrFill)) {
    pSample->Release();
    // The error goes first: the end-of-stream would complete the graph.
    ReportStreamError(hrFill);
    pPin->DeliverEndOfStream();
    return hrFill;
  }
  m_llCurrentTime = tStart;
  m_llCurrentFrame = pPin->GetSampleCount();

  pSample->SetPreroll(tRelStop <= 0);
  pSample->SetTime(&tRelStart, &tRelStop);
  pSample->SetSyncPoint(bSync);
  pSample->SetDiscontinuity(*pbDiscontinuity);
  // A tag that is not delivered still uses the discontinuity up.
  *pbDiscontinuity = FALSE;
  const HRESULT hrDeliver = hrFill == S_OK ? pPin->Deliver(pSample) : S_OK;
  pSample->Release();
  if (hrDeliver != S_OK) {
    Trace(DeliverFailureFormat(pEntry->m_iStreamKind), static_cast<unsigned>(hrDeliver));
    return DeliveryFailed(this, hrDeliver);
  }
  return S_OK;
}

}  // namespace flvdmx
