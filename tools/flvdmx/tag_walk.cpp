#include "tag_walk.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "flv/amf0.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"
#include "flv/flv_timestamps.h"

namespace flvdmx::cli {

const char* LinkStateName(LinkState state) {
  switch (state) {
    case LinkState::kOk:
      return "ok";
    case LinkState::kZero:
      return "zero";
    case LinkState::kBroken:
      break;
  }
  return "broken";
}

const char* TagKindName(uint8_t type) {
  switch (type) {
    case kFlvTagAudio:
      return "audio";
    case kFlvTagVideo:
      return "video";
    case kFlvTagScript:
      return "script";
    default:
      return "other";
  }
}

namespace {

// Right when the back-link leads to the tag before (or is 0 before the first).
// After a resync the size may even be right while the position is not.
LinkState CheckLink(int64_t llPosition, uint32_t dwPrevTagSize, bool bHavePrev, int64_t llPrevPos) {
  if (!bHavePrev) return dwPrevTagSize == 0 ? LinkState::kOk : LinkState::kBroken;
  if (llPosition - static_cast<int64_t>(dwPrevTagSize) - 4 == llPrevPos) return LinkState::kOk;
  return dwPrevTagSize == 0 ? LinkState::kZero : LinkState::kBroken;
}

// One walk over one file: the reader object (its own reference on the reader
// for the walk), the tag before the current one, and the running summary.
// Lives on the stack of WalkTags.
class Walker {
 public:
  Walker(IAsyncReader* pReader, TagSink& sink)
      : m_pReader(pReader), m_Reader(pReader, 0, nullptr), m_Sink(sink) {}

  WalkSummary Run();

 private:
  void Accept(int64_t p, FlvTag tag);
  // Looks for the next plausible tag header after the previous tag (or after
  // `p` when there is none). True when one was found; a miss is reported
  // only when asked (a tag cut off by the end of the file is no resync).
  bool Resync(int64_t p, bool bReportMiss, int64_t* pllFound);
  // The four bytes left at `p` after the last tag: the final back-link.
  HRESULT ReadFinalLink(int64_t p);
  WalkSummary& End(WalkEnd end, HRESULT hr, int64_t p) {
    m_Summary.end = end;
    m_Summary.hr = hr;
    m_Summary.llEndPosition = p;
    return m_Summary;
  }

  IAsyncReader* m_pReader;
  CFlvReader m_Reader;
  TagSink& m_Sink;
  WalkSummary m_Summary;
  int64_t m_llCovered = 0;
  bool m_bHavePrev = false;
  int64_t m_llPrevPos = 0;
  FlvTag m_PrevTag;
};

void Walker::Accept(int64_t p, FlvTag tag) {
  TagLine line;
  line.llPosition = p;
  line.dwRawTime = tag.TimeStamp;
  // Each tag's time is carried on from the tag before, as delivery does.
  WraparoundDetected(m_bHavePrev ? m_PrevTag.TimeStamp : 0, tag);
  line.tag = tag;
  line.link = CheckLink(p, tag.PreviousTagSize, m_bHavePrev, m_llPrevPos);
  m_Sink.OnTag(line);

  WalkSummary& s = m_Summary;
  ++s.cTags;
  switch (tag.TagType) {
    case kFlvTagAudio:
      ++s.cAudio;
      break;
    case kFlvTagVideo:
      ++s.cVideo;
      break;
    case kFlvTagScript:
      ++s.cScript;
      break;
    default:
      ++s.cOther;
      break;
  }
  if (!s.bAnyTime) s.dwFirstTime = tag.TimeStamp;
  s.bAnyTime = true;
  // Audio and video interleave slightly out of order: the end of the file is
  // the latest time of any tag, not the time of the last one.
  s.dwLastTime = std::max(s.dwLastTime, tag.TimeStamp);
  if (line.link == LinkState::kBroken) ++s.cBrokenLinks;
  if (line.link == LinkState::kZero) ++s.cZeroLinks;
  m_llCovered += std::min(NextTagPosition(p, tag), s.llFileSize) - p;

  if (tag.TagType == kFlvTagScript && tag.DataSize > 0) {
    MetadataLine meta;
    meta.llPosition = p;
    if (ParseScriptDataTag(m_Reader, p, tag, &meta.dwDuration, &meta.lAudioCodecId,
                           &meta.lVideoCodecId) == S_OK) {
      m_Sink.OnMetadata(meta);
    }
  }
  m_bHavePrev = true;
  m_llPrevPos = p;
  m_PrevTag = tag;
}

bool Walker::Resync(int64_t p, bool bReportMiss, int64_t* pllFound) {
  // The earliest next tag: right after the previous tag's header.
  const int64_t start = m_bHavePrev ? m_llPrevPos + kFlvTagPayloadOffset + 4 : p + 5;
  FlvTag found;
  int64_t pos = -1;
  const uint32_t reference = m_bHavePrev ? m_PrevTag.TimeStamp : 0;
  const bool ok = FindNextTagHeaderSlow(m_Reader, start, reference, found, pos) == S_OK;
  if (!ok && !bReportMiss) return false;
  ++m_Summary.cResyncs;
  m_Sink.OnResync(ResyncLine{p, ok ? pos : -1});
  if (!ok) return false;
  // A size field that ran past the found tag claimed bytes that are not its own.
  if (m_bHavePrev) {
    const int64_t claimedEnd =
        std::min(NextTagPosition(m_llPrevPos, m_PrevTag), m_Summary.llFileSize);
    if (pos < claimedEnd) m_llCovered -= claimedEnd - pos;
  }
  *pllFound = pos;
  return true;
}

HRESULT Walker::ReadFinalLink(int64_t p) {
  uint8_t bytes[4];
  const HRESULT hr = m_Reader.Read(p, 4, bytes);
  if (FAILED(hr)) return hr;
  ByteReader link(bytes, sizeof bytes);
  uint32_t dwPrevTagSize = 0;
  if (!link.GetU32(&dwPrevTagSize)) return E_UNEXPECTED;
  m_Summary.bFinalLinkPresent = true;
  m_Summary.finalLink = CheckLink(p, dwPrevTagSize, m_bHavePrev, m_llPrevPos);
  if (m_Summary.finalLink == LinkState::kBroken) ++m_Summary.cBrokenLinks;
  m_llCovered += 4;
  return S_OK;
}

WalkSummary Walker::Run() {
  LONGLONG total = 0, available = 0;
  HRESULT hr = m_pReader->Length(&total, &available);
  if (hr != S_OK) return End(WalkEnd::kNoLength, hr, 0);
  m_Summary.llFileSize = total;

  FlvHeader header;
  hr = ReadFlvHeader(m_Reader, header);
  if (hr == VFW_E_INVALID_FILE_FORMAT) return End(WalkEnd::kHeaderInvalid, hr, 0);
  if (hr == S_FALSE) return End(WalkEnd::kHeaderShort, hr, 0);
  if (hr != S_OK) return End(WalkEnd::kReadFailed, hr, 0);
  m_Sink.OnHeader(header, total);
  m_llCovered = std::min<int64_t>(header.DataOffset, total);

  int64_t p = header.DataOffset;
  WalkEnd end = WalkEnd::kComplete;
  for (;;) {
    if (p >= total) break;  // no final back-link
    FlvTag tag;
    hr = ReadTagHeader(m_Reader, p, tag);
    if (FAILED(hr)) {
      end = WalkEnd::kReadFailed;
      break;
    }
    const uint32_t expected = m_bHavePrev ? ExpectedPreviousTagSize(m_PrevTag) : 0;
    if (hr != S_OK) {
      if (total - p != 4) {
        end = WalkEnd::kTruncatedHeader;
      } else if (FAILED(hr = ReadFinalLink(p))) {
        end = WalkEnd::kReadFailed;
      }
      break;
    }
    if (!IsKnownFlvTagType(tag.TagType) && tag.PreviousTagSize != expected) {
      int64_t found = 0;
      if (!Resync(p, true, &found)) break;
      p = found;
      continue;
    }
    Accept(p, tag);
    const int64_t next = NextTagPosition(p, tag);
    if (next > total) {
      // A size that runs past the end is garbage if the chain goes on after
      // the header, else the file was cut off.
      int64_t found = 0;
      if (Resync(next, false, &found)) {
        p = found;
        continue;
      }
      hr = S_FALSE;
      end = WalkEnd::kTruncatedTag;
      break;
    }
    p = next;
  }
  m_Summary.llUncovered = std::max<int64_t>(0, total - m_llCovered);
  return End(end, end == WalkEnd::kComplete ? S_OK : hr, p);
}

}  // namespace

WalkSummary WalkTags(IAsyncReader* pReader, TagSink& sink) {
  if (!pReader) {
    WalkSummary s;
    s.end = WalkEnd::kReadFailed;
    s.hr = E_POINTER;
    return s;
  }
  Walker walker(pReader, sink);
  return walker.Run();
}

}  // namespace flvdmx::cli
