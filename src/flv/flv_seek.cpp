#include "flv/flv_seek.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "diag/formatters.h"
#include "diag/trace.h"
#include "flv/flv_timestamps.h"
#include "base/byte_reader.h"

namespace flvdmx {

namespace {

// On data whose times do not rise with position the probes need not converge;
// past this many the search ends on the last tag it found.
constexpr int kMaxProbes = 100;

// |a - b| of two u32 times taken as a signed 32-bit difference.
int64_t TimeDistance(uint32_t a, uint32_t b) {
  return std::llabs(static_cast<int64_t>(static_cast<int32_t>(a - b)));
}

// The platform's MulDiv: a * b / c with a 64-bit product, rounded to nearest
// (halves away from zero); -1 when c is 0 or the result does not fit.
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  int64_t divisor = c;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  int64_t result = (product >= 0 ? product + divisor / 2 : product - divisor / 2) / divisor;
  if (result > 2147483647 || result < -2147483647) return -1;
  return static_cast<int32_t>(result);
}

int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// The offsets of the bytes of a buffer that could be a known tag type, in
// rising order. Each type keeps its next offset from memchr and only the one
// taken is searched on, so the bytes are walked by libc, not one compare at a
// time here: on damaged data most of a window is no candidate at all.
class CTypeByteFinder {
 public:
  CTypeByteFinder(const uint8_t* pData, size_t cb) : m_pData(pData), m_cb(cb) {
    for (size_t k = 0; k < kTypeCount; ++k) m_Next[k] = Find(k, 0);
  }

  // The next candidate's offset; End() when there is none.
  size_t Next() {
    size_t k = 0;
    for (size_t t = 1; t < kTypeCount; ++t)
      if (m_Next[t] < m_Next[k]) k = t;
    const size_t offset = m_Next[k];
    if (offset < m_cb) m_Next[k] = Find(k, offset + 1);
    return offset;
  }
  size_t End() const { return m_cb; }

 private:
  static constexpr size_t kTypeCount = std::size(kKnownFlvTagTypes);

  size_t Find(size_t k, size_t from) const {
    const void* p = std::memchr(m_pData + from, kKnownFlvTagTypes[k], m_cb - from);
    return p ? static_cast<size_t>(static_cast<const uint8_t*>(p) - m_pData) : m_cb;
  }

  const uint8_t* const m_pData;
  const size_t m_cb;
  size_t m_Next[kTypeCount];
};

}  // namespace

HRESULT FindNextTagOfType(const CFlvReader& reader, int64_t llPosition, uint32_t dwReference,
                          uint32_t dwExpectedPrevSize, uint8_t type, FlvTag& tag,
                          int64_t& llFoundPosition, int64_t* pllBrokenAt) {
  if (pllBrokenAt) *pllBrokenAt = -1;
  if (!reader.Reader()) return E_POINTER;
  int64_t p = llPosition;
  // The first tag of unknown type: where garbage between tags would begin.
  int64_t suspect = -1;
  uint32_t expected = dwExpectedPrevSize;
  FlvTag t;
  HRESULT hr = ReadTagHeader(reader, p, t);
  while (hr == S_OK) {
    if (expected != 0 && t.PreviousTagSize != 0 && t.PreviousTagSize != expected &&
        !reader.FindPredecessor(p, nullptr)) {
      if (pllBrokenAt) *pllBrokenAt = suspect >= 0 ? suspect : p;
      return VFW_E_INVALID_FILE_FORMAT;
    }
    if (t.TagType == type) {
      WraparoundDetected(dwReference, t);
      tag = t;
      llFoundPosition = p;
      return S_OK;
    }
    if (suspect < 0 && !IsKnownFlvTagType(t.TagType)) suspect = p;
    expected = ExpectedPreviousTagSize(t);
    const int64_t next = NextTagPosition(p, t);
    reader.SkipReadAhead(p + kFlvTagPayloadOffset, next);
    p = next;
    hr = ReadTagHeader(reader, p, t);
  }
  if (pllBrokenAt) *pllBrokenAt = suspect;
  return p >= reader.Total() ? S_FALSE : hr;
}

HRESULT FindNextTagResync(const CFlvReader& reader, int64_t llPosition, uint32_t dwReference,
                          uint32_t dwExpectedPrevSize, uint8_t type, FlvTag& tag,
                          int64_t& llFoundPosition, bool* pbResynchronised) {
  if (pbResynchronised) *pbResynchronised = false;
  int64_t p = llPosition;
  uint32_t expected = dwExpectedPrevSize;
  for (;;) {
    int64_t broken = -1;
    const HRESULT hr =
        FindNextTagOfType(reader, p, dwReference, expected, type, tag, llFoundPosition, &broken);
    if (hr == S_OK || broken < 0) return hr;
    FlvTag found;
    int64_t foundPos = 0;
    if (FindNextTagHeaderSlow(reader, broken, dwReference, found, foundPos) != S_OK) return hr;
    // Each round starts further on: the tag found is not checked against
    // the one before it, so the next break lies beyond it.
    if (foundPos < p || (foundPos == p && expected == 0)) return hr;
    Trace("\nFindNextTagResync: chain broken at %s, resumed at %s", FormatByteCount(broken),
          FormatByteCount(foundPos));
    if (pbResynchronised) *pbResynchronised = true;
    p = foundPos;
    expected = 0;
  }
}

namespace {

// The first span searched back for an anchor tag when a back-link cannot be
// followed; each failed span is made 16 times larger.
constexpr int64_t kWalkBackSpan = 64 * 1024;

// Walks the chain from the tag at llFrom up to the tag at llPosition (whose
// PreviousTagSize is dwPrevSizeAt), adding each link whose back-link does
// not lead back to the fix-up table. S_OK with the tag before llPosition;
// S_FALSE when the chain passes llPosition by; a read failure.
HRESULT WalkForwardTo(const CFlvReader& reader, int64_t llFrom, int64_t llPosition,
                      uint32_t dwPrevSizeAt, FlvTag& prev, int64_t& llPrevPosition) {
  int64_t q = llFrom;
  FlvTag t;
  HRESULT hr = ReadTagHeader(reader, q, t);
  while (hr == S_OK) {
    const int64_t next = NextTagPosition(q, t);
    if (next > llPosition) return S_FALSE;
    uint32_t prevSize = dwPrevSizeAt;
    FlvTag n;
    if (next < llPosition) {
      hr = ReadTagHeader(reader, next, n);
      if (hr != S_OK) return hr;
      prevSize = n.PreviousTagSize;
    }
    if (next - static_cast<int64_t>(prevSize) - 4 != q) reader.AddFixup(q, next);
    if (next == llPosition) {
      prev = t;
      llPrevPosition = q;
      return S_OK;
    }
    q = next;
    t = n;
  }
  return hr;
}

// The tag before llPosition when its back-link is of no use (0, or leading
// elsewhere): a forward walk from a tag found a little earlier with the
// header search, from further back each time that fails, and at last from
// the first tag.
HRESULT WalkToPredecessor(const CFlvReader& reader, int64_t llPosition, uint32_t dwPrevSizeAt,
                          FlvTag& prev, int64_t& llPrevPosition) {
  FlvHeader header;
  if (ReadFlvHeader(reader, header) != S_OK) return S_FALSE;
  const int64_t first = header.DataOffset;
  if (llPosition <= first) return S_FALSE;
  for (int64_t span = kWalkBackSpan;; span *= 16) {
    int64_t anchor = first;
    if (llPosition - span > first) {
      FlvTag t;
      if (FindTagHeaderInRange(reader, llPosition - span, llPosition, 0, t, anchor) != S_OK ||
          anchor >= llPosition) {
        continue;
      }
    }
    const HRESULT hr =
        WalkForwardTo(reader, anchor, llPosition, dwPrevSizeAt, prev, llPrevPosition);
    if (hr == S_OK || anchor == first) return hr;
  }
}

}  // namespace

HRESULT FindPredecessorTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tagAt,
                           FlvTag& prev, int64_t& llPrevPosition) {
  int64_t q = 0;
  FlvTag t;
  if (reader.FindPredecessor(llPosition, &q)) {
    // A link that does not lead back would let a walk go round for ever.
    if (q <= 0 || q >= llPosition) return S_FALSE;
    const HRESULT hr = ReadTagHeader(reader, q, t);
    if (hr != S_OK) return hr;
    prev = t;
    llPrevPosition = q;
    return S_OK;
  }
  if (tagAt.PreviousTagSize != 0) {
    q = PreviousTagPosition(llPosition, tagAt);
    if (q > 0 && q < llPosition) {
      const HRESULT hr = ReadTagHeader(reader, q, t);
      if (hr != S_OK) return hr;
      if (NextTagPosition(q, t) == llPosition) {
        prev = t;
        llPrevPosition = q;
        return S_OK;
      }
    }
  }
  // Some live writers put 0 in every back-link; a damaged one leads nowhere.
  return WalkToPredecessor(reader, llPosition, tagAt.PreviousTagSize, prev, llPrevPosition);
}

HRESULT FindPrevTagOfType(const CFlvReader& reader, int64_t llPosition, uint8_t type, FlvTag& tag,
                          int64_t& llFoundPosition, uint32_t dwReference) {
  int64_t p = llPosition;
  FlvTag t = tag;
  do {
    FlvTag prev;
    int64_t q = 0;
    const HRESULT hr = FindPredecessorTag(reader, p, t, prev, q);
    if (hr != S_OK) return hr;
    t = prev;
    p = q;
  } while (t.TagType != type);
  // The tag lies before the reference, however far (sparse streams).
  WraparoundBackward(dwReference, t);
  tag = t;
  llFoundPosition = p;
  return S_OK;
}

HRESULT FindPreviousFrame(const CFlvReader& reader, uint8_t type, int64_t& llPosition,
                          uint32_t dwStartTime, uint32_t& dwTarget, FlvTag& tag,
                          int64_t& llSampleCount) {
  const int64_t llStart = llPosition;
  const uint32_t target = dwTarget;
  FlvTag rec;
  int64_t f = 0;
  HRESULT hr = FindNextTagOfType(reader, llStart, dwStartTime, 0, type, rec, f);
  if (hr != S_OK) return hr;

  if (TimeDistance(rec.TimeStamp, dwStartTime) > kOverrideLimit) {
    Trace("\nFindPreviousFrame(%s): Warning! Override pTag->TimeStamp from %s to %s",
          FormatByteCount(llStart), FormatMilliseconds(rec.TimeStamp),
          FormatMilliseconds(dwStartTime));
    rec.TimeStamp = dwStartTime;
  }

  const uint32_t t = rec.TimeStamp;
  if (t + kSearchTolerance < target) {
    (void)PerformBinarySeek(reader, target, f, t, reader.Available(), reader.EndTime(), rec, f);
  } else if (target + kSearchTolerance < t) {
    (void)PerformBinarySeek(reader, target, 0, 0, f, t, rec, f);
  }

  if (rec.TimeStamp > target) {
    hr = FindPrevTagOfType(reader, f, type, rec, f, rec.TimeStamp);
    while (hr == S_OK && rec.TimeStamp >= target) {
      --llSampleCount;
      hr = FindPrevTagOfType(reader, f, type, rec, f, rec.TimeStamp);
    }
  } else {
    for (;;) {
      FlvTag next;
      int64_t nextPos = 0;
      hr = FindNextTagOfType(reader, NextTagPosition(f, rec), rec.TimeStamp,
                             ExpectedPreviousTagSize(rec), type, next, nextPos);
      if (hr != S_OK || next.TimeStamp > target) break;
      rec = next;
      f = nextPos;
      ++llSampleCount;
    }
  }

  // The search stops on a tag of any type. When the walks above found no tag
  // of ours beside it, the stream starts at the nearest one of ours: the one
  // before it, or else the first one after it.
  if (rec.TagType != type) {
    FlvTag ours = rec;
    int64_t oursPos = 0;
    if (FindPrevTagOfType(reader, f, type, ours, oursPos, rec.TimeStamp) == S_OK ||
        FindNextTagOfType(reader, NextTagPosition(f, rec), rec.TimeStamp,
                          ExpectedPreviousTagSize(rec), type, ours, oursPos) == S_OK) {
      rec = ours;
      f = oursPos;
    }
  }

  llPosition = f;
  tag = rec;
  dwTarget = rec.TimeStamp;
  return S_OK;
}

HRESULT PerformBinarySeek(const CFlvReader& reader, uint32_t dwTarget, int64_t llLowPos,
                          uint32_t dwLowTime, int64_t llHighPos, uint32_t dwHighTime, FlvTag& tag,
                          int64_t& llPosition) {
  Trace("\nPerformBinarySeek(%s). Low=(%s,%s) High=(%s,%s)", FormatMilliseconds(dwTarget),
        FormatMilliseconds(dwLowTime), FormatByteCount(llLowPos), FormatMilliseconds(dwHighTime),
        FormatByteCount(llHighPos));
  int64_t pl = llLowPos, ph = llHighPos;
  uint32_t tl = dwLowTime, th = dwHighTime;
  if (tl + kSearchTolerance >= th) return S_OK;

  for (int probe = 0; probe < kMaxProbes; ++probe) {
    uint32_t t = dwTarget;
    // Across a wrap of the top byte the interpolation is coarse: step at most
    // about 70 minutes at a time.
    if (((tl ^ th) & 0xFF000000u) != 0 && tl + kProbeStepCap <= dwTarget) t = tl + kProbeStepCap;
    const int64_t probePos = InterpolatePosition(t, pl, tl, ph, th);
    Trace("\nPerformBinarySeek: + FindNextTagHeaderSlow(Time=%s, offset=%s)", FormatMilliseconds(t),
          FormatByteCount(probePos));
    FlvTag found;
    int64_t foundPos = 0;
    HRESULT hr = FindNextTagHeaderSlow(reader, probePos, tl, found, foundPos);
    if (hr != S_OK) return hr;
    Trace("\nPerformBinarySeek: - FindNextTagHeaderSlow found Time=%s, offset=%s",
          FormatMilliseconds(found.TimeStamp), FormatByteCount(foundPos));
    tag = found;
    llPosition = foundPos;
    if (TimeDistance(found.TimeStamp, dwTarget) < kSearchTolerance) return S_OK;
    // A probe that lands on the bound it would replace leaves the state as it
    // was, and the next probe would repeat it.
    if (dwTarget < found.TimeStamp) {
      if (foundPos == ph && found.TimeStamp == th) break;
      ph = foundPos;
      th = found.TimeStamp;
    } else {
      if (foundPos == pl && found.TimeStamp == tl) break;
      pl = foundPos;
      tl = found.TimeStamp;
    }
    if (!(tl + kSearchTolerance < th)) break;
  }
  return S_OK;
}

int64_t InterpolatePosition(uint32_t dwTime, int64_t llLowPos, uint32_t dwLowTime,
                            int64_t llHighPos, uint32_t dwHighTime) {
  const int64_t dP = llHighPos - llLowPos;
  const uint32_t dT = dwHighTime - dwLowTime;
  const uint32_t dt = dwTime - dwLowTime;
  if (dP < 0x7FFFFFFF && dT < 0x7FFFFFFFu) {
    const int32_t offset = MulDiv(static_cast<int32_t>(dt), Low32(dP), static_cast<int32_t>(dT));
    return llLowPos + static_cast<int64_t>(static_cast<uint32_t>(offset));
  }
  if (dT == 0) return llLowPos;
  const double pos = static_cast<double>(llLowPos) +
                     static_cast<double>(dt) * static_cast<double>(dP) / static_cast<double>(dT);
  // Beyond any file; the header search then finds nothing there.
  if (!(pos < 9.0e18)) return INT64_MAX;
  if (pos < -9.0e18) return INT64_MIN;
  return static_cast<int64_t>(pos);
}

HRESULT CheckTagChain(const CFlvReader& reader, int64_t llPosition, uint32_t dwReference,
                      FlvTag& tag) {
  FlvTag candidate;
  HRESULT hr = ReadTagHeader(reader, llPosition, candidate);
  if (hr != S_OK) return hr;
  int64_t p = llPosition;
  FlvTag prev = candidate;
  for (int i = 0; i < 2; ++i) {
    const int64_t next = NextTagPosition(p, prev);
    // A header past the end of the data could only come back short: a
    // random candidate's size often points far past the end.
    if (reader.Available() > 0 && next > reader.Available() - kFlvTagPayloadOffset) return S_FALSE;
    FlvTag t;
    hr = ReadTagHeader(reader, next, t);
    if (hr != S_OK) return hr;
    if (!IsKnownFlvTagType(t.TagType)) return E_FAIL;
    if (t.PreviousTagSize != 0 && t.PreviousTagSize != ExpectedPreviousTagSize(prev)) return E_FAIL;
    p = next;
    prev = t;
  }
  WraparoundDetected(dwReference, candidate);
  tag = candidate;
  return S_OK;
}

HRESULT FindTagHeaderInRange(const CFlvReader& reader, int64_t llStart, int64_t llEnd,
                             uint32_t dwReference, FlvTag& tag, int64_t& llFoundPosition) {
  if (!reader.Reader()) return E_POINTER;
  const int64_t available = reader.Available();
  const int64_t end = std::min(llEnd, available);
  uint8_t window[kScanWindow];
  for (int64_t w = llStart; w < end;) {
    const int64_t n = std::min<int64_t>(available - w, kScanWindow);
    HRESULT hr = reader.Read(w, static_cast<uint32_t>(n), window);
    if (hr != S_OK) return hr;
    // The last four bytes of a window are never taken as a type byte: the
    // size after it would reach into the next window.
    CTypeByteFinder types(window, static_cast<size_t>(std::max<int64_t>(n - 4, 0)));
    for (size_t k = types.Next(); k < types.End(); k = types.Next()) {
      const int64_t i = static_cast<int64_t>(k);
      ByteReader sizeField(window + i + 1, 3);  // within the window: i + 4 < n
      uint32_t cbData = 0;
      if (!sizeField.GetU24(&cbData)) continue;
      const int64_t j = i + cbData + kFlvTagPayloadOffset;
      if (j < n - 4 && !IsKnownFlvTagType(window[j])) continue;
      // Writers leave StreamID at 0. A candidate whose next tag lies past the
      // window would cost a read of a random place to refute; one whose
      // StreamID bytes are not 0 is refuted here instead.
      if (j >= n - 4 && i + 10 < n && (window[i + 8] | window[i + 9] | window[i + 10]) != 0)
        continue;
      FlvTag candidate;
      if (CheckTagChain(reader, w + i - 4, dwReference, candidate) == S_OK) {
        tag = candidate;
        llFoundPosition = w + i - 4;
        return S_OK;
      }
    }
    w += n;
  }
  return E_FAIL;
}

HRESULT FindNextTagHeaderSlow(const CFlvReader& reader, int64_t llStart, uint32_t dwReference,
                              FlvTag& tag, int64_t& llFoundPosition) {
  return FindTagHeaderInRange(reader, llStart, reader.Available(), dwReference, tag,
                              llFoundPosition);
}

}  // namespace flvdmx
