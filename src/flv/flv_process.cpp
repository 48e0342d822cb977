// The streaming loop of CFlvDmx: what each output pin's thread runs.
#include <cmath>
#include <cstdint>
#include <mutex>

#include "diag/trace.h"
#include "flv/flv_dmx.h"
#include "flv/flv_seek.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {

namespace {

constexpr REFERENCE_TIME kUnitsPerMs = 10000;
// The most prefix bytes any codec has in front of its payload (AVC: flags,
// AVCPacketType, CompositionTime).
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
    } else if (pVideo->m_iCodecID == kVideoCodecAvc) {
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

// Whether the AVC tag at llPosition is an end-of-sequence packet.
bool IsAvcEndOfSequence(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag) {
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

// A downstream pin failed the loop: the graph learns of it, or it would wait
// for an end that never comes. Not for S_FALSE (a request to stop), nor for
// what a pin answers between its own stop and ours (renderers stop first).
HRESULT DeliveryFailed(CBaseDmx* pDmx, HRESULT hr) {
  const bool bStopping = hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED;
  if (FAILED(hr) && !bStopping) pDmx->ReportStreamError(hr);
  return hr;
}

}  // namespace

int CFlvDmx::IsKeyFrame(const SampleEntry* pEntry, IAsyncReader* pReader, const FlvTag& tag,
                        int64_t llPosition) {
  if (tag.TagType != kFlvTagVideo || pReader == nullptr) return 1;
  (void)pEntry;  // every video codec keeps FrameType in the same bits
  BYTE flags = 0;
  if (pReader->SyncRead(llPosition + kFlvTagPayloadOffset, 1, &flags) != S_OK) return 1;
  return IsKeyFrameFlags(flags) ? 1 : 0;
}

HRESULT CFlvDmx::SeekToKeyFrame(const CFlvReader& reader, int64_t& llPosition, FlvTag& tag,
                                int64_t& llSampleCount) {
  const SampleEntry* pEntry = &m_VideoEntry;
  while (IsKeyFrame(pEntry, reader.Reader(), tag, llPosition) != 1) {
    const HRESULT hr = FindPrevTagOfType(reader, llPosition, kFlvTagVideo, tag, llPosition,
                                         tag.TimeStamp);
    if (hr != S_OK) return hr;
    --llSampleCount;
  }
  return S_OK;
}

HRESULT CFlvDmx::FillSample(const SampleEntry* pEntry, IAsyncReader* pReader,
                            IMediaSample* pSample, int64_t llPosition, const FlvTag& tag,
                            BOOL* pbSync) {
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
    const HRESULT hr =
        pReader->SyncRead(llPosition + kFlvTagPayloadOffset, static_cast<LONG>(layout.cbPrefixNeeded), prefix);
    if (layout.bPacketTypeGate) {
      if (FAILED(hr)) return hr;
      if (hr != S_OK || prefix[1] != kCodedDataPacket) return S_FALSE;
    }
    bPrefixRead = hr == S_OK;
  }

  const LONG cbPayload = static_cast<LONG>(tag.DataSize - layout.cbSkip);
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

HRESULT CFlvDmx::PositionStream(CBaseDmxOutputPin* pPin, const CFlvReader& reader,
                                LONGLONG llSegmentStart, int64_t& llPosition, FlvTag& tag) {
  const SampleEntry* pEntry = pPin->GetSampleEntry();
  const uint8_t type = static_cast<uint8_t>(pEntry->m_iStreamKind);
  uint32_t dwTarget = TargetMs(llSegmentStart);

  // The first thread to position for a new target searches under the lock and
  // leaves its result as the start point; the other then starts from there.
  std::unique_lock<std::recursive_mutex> seekLock(m_SeekLock);
  uint32_t dwStartTime = 0;
  int64_t llStartPos = 0;
  bool bNear = false;
  GetSeekStartPoint(dwTarget, &dwStartTime, &llStartPos, &bNear);
  if (bNear) seekLock.unlock();

  pPin->m_llSampleCount = 0;
  llPosition = llStartPos;
  const uint32_t dwRequested = dwTarget;
  HRESULT hr =
      FindPreviousFrame(reader, type, llPosition, dwStartTime, dwTarget, tag, pPin->m_llSampleCount);
  if (hr == S_FALSE && llStartPos != static_cast<int64_t>(m_FlvHeader.DataOffset)) {
    // The start point the other pin left can lie after this stream's last
    // tag (a seek near the end): search again from this stream's last tag
    // before it, or the stream would deliver nothing.
    FlvTag startTag;
    int64_t llLastPos = 0;
    if (ReadTagHeader(reader, llStartPos, startTag) == S_OK &&
        FindPrevTagOfType(reader, llStartPos, type, startTag, llLastPos, dwStartTime) == S_OK) {
      llPosition = llLastPos;
      dwTarget = dwRequested;
      pPin->m_llSampleCount = 0;
      hr = FindPreviousFrame(reader, type, llPosition, startTag.TimeStamp, dwTarget, tag,
                             pPin->m_llSampleCount);
    }
  }
  if (!bNear) {
    // Only a found tag is a start point: after S_FALSE the position and the
    // target would not belong together.
    if (hr == S_OK) SetSeekStartPoint(dwTarget, llPosition);
    seekLock.unlock();
  }

  if (hr == S_OK && type == kFlvTagVideo) {
    hr = SeekToKeyFrame(reader, llPosition, tag, pPin->m_llSampleCount);
    // An AVC end-of-sequence tag is marked as a key frame but carries no
    // picture: a target after the last frame would start there and deliver
    // no video at all. The key frame before it is the one to decode from.
    while (hr == S_OK && m_VideoEntry.m_iCodecID == kVideoCodecAvc &&
           IsAvcEndOfSequence(reader, llPosition, tag)) {
      hr = FindPrevTagOfType(reader, llPosition, kFlvTagVideo, tag, llPosition, tag.TimeStamp);
      if (hr == S_OK) hr = SeekToKeyFrame(reader, llPosition, tag, pPin->m_llSampleCount);
    }
    // VP6 starts one key frame earlier than the other codecs.
    if (hr == S_OK && tag.TimeStamp != 0 && m_VideoEntry.IsVp6()) {
      if (FindPrevTagOfType(reader, llPosition, kFlvTagVideo, tag, llPosition, tag.TimeStamp) ==
          S_OK) {
        hr = SeekToKeyFrame(reader, llPosition, tag, pPin->m_llSampleCount);
      }
    }
  }
  if (FAILED(hr)) return hr;

  return FindNextTagOfType(reader, llPosition, tag.TimeStamp, 0, type, tag, llPosition);
}

void CFlvDmx::EndStream(CBaseDmxOutputPin* pPin) {
  const HRESULT hr = pPin->DeliverEndOfStream();
  if (FAILED(hr)) ReportStreamError(hr);
}

HRESULT CFlvDmx::Process(CBaseDmxOutputPin* pPin) {
  const SampleEntry* pEntry = pPin->GetSampleEntry();
  if (pEntry == nullptr) return E_UNEXPECTED;
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_POINTER;
  // The reader object holds its own reference for as long as the loop runs.
  CFlvReader reader(pReader, m_dwDuration, &m_TagLinkFixups);
  pReader->Release();
  pReader = reader.Reader();

  const uint8_t type = static_cast<uint8_t>(pEntry->m_iStreamKind);
  for (;;) {
    pPin->m_bRestart = FALSE;
    BOOL bDiscontinuity = TRUE;
    LONGLONG llSegmentStart = 0;
    LONGLONG llSegmentStop = kNoStopTime;
    double dRate = 1.0;
    HRESULT hr = GetSegment(&llSegmentStart, &llSegmentStop, &dRate);
    if (FAILED(hr)) return ReportStreamError(hr);
    pPin->m_dStreamRate = dRate;
    pPin->DeliverNewSegment(llSegmentStart, llSegmentStop, dRate);
    const REFERENCE_TIME llRelativeStop =
        llSegmentStop == kNoStopTime ? kNoStopTime : Relative(llSegmentStop, llSegmentStart, dRate);

    int64_t llPosition = 0;
    FlvTag tag;
    hr = PositionStream(pPin, reader, llSegmentStart, llPosition, tag);
    if (hr == S_FALSE) {
      EndStream(pPin);
      return S_OK;
    }
    if (hr != S_OK) return ReportStreamError(hr);

    for (bool bRestart = false; !bRestart;) {
      // The next tag of the stream gives this sample's stop; without one (end
      // of file, a read failure, a broken chain) this is the last sample.
      FlvTag next;
      int64_t llNextPosition = 0;
      const bool bLast = FindNextTagOfType(reader, NextTagPosition(llPosition, tag), tag.TimeStamp,
                                           ExpectedPreviousTagSize(tag), type, next,
                                           llNextPosition) != S_OK;
      REFERENCE_TIME tStart = static_cast<REFERENCE_TIME>(tag.TimeStamp) * kUnitsPerMs;
      REFERENCE_TIME tStop = bLast ? tStart + kLastSampleDuration
                                   : static_cast<REFERENCE_TIME>(next.TimeStamp) * kUnitsPerMs;

      IMediaSample* pSample = nullptr;
      hr = pPin->GetDeliveryBuffer(&pSample, &tStart, &tStop, 0);
      if (FAILED(hr)) {
        Trace("  Process: GetDeliveryBuffer failed: 0x%08X", static_cast<unsigned>(hr));
        pPin->DeliverEndOfStream();
        return DeliveryFailed(this, hr);
      }
      BOOL bSync = FALSE;
      const HRESULT hrFill = FillSample(pEntry, pReader, pSample, llPosition, tag, &bSync);
      if (FAILED(hrFill)) {
        pSample->Release();
        pPin->DeliverEndOfStream();
        ReportStreamError(hrFill);
        return hrFill;
      }
      m_llCurrentTime = tStart;
      m_llCurrentFrame = pPin->m_llSampleCount;

      REFERENCE_TIME tRelStart = Relative(tStart, llSegmentStart, dRate);
      REFERENCE_TIME tRelStop = Relative(tStop, llSegmentStart, dRate);
      pSample->SetPreroll(tRelStop <= 0);
      pSample->SetTime(&tRelStart, &tRelStop);
      pSample->SetSyncPoint(bSync);
      // A tag that is not delivered still uses the discontinuity up.
      pSample->SetDiscontinuity(bDiscontinuity);
      bDiscontinuity = FALSE;
      const HRESULT hrDeliver = hrFill == S_OK ? pPin->Deliver(pSample) : S_OK;
      pSample->Release();
      if (hrDeliver != S_OK) {
        Trace(DeliverFailureFormat(pEntry->m_iStreamKind), static_cast<unsigned>(hrDeliver));
        return DeliveryFailed(this, hrDeliver);
      }

      ++pPin->m_llSampleCount;
      tag = next;
      llPosition = llNextPosition;
      if (pPin->CheckRequest(nullptr, 0)) {
        EndStream(pPin);
        return S_OK;
      }
      if (pPin->m_bRestart) {
        Trace("  Process: RestartProcessLoop");
        bRestart = true;
      } else if (tRelStop > llRelativeStop || bLast) {
        EndStream(pPin);
        return S_OK;
      }
    }
  }
}

}  // namespace flvdmx
