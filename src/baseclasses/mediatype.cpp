#include "baseclasses/mediatype.h"

#include <algorithm>
#include <cstring>

namespace flvdmx {

namespace {

// Where a video format keeps what the equality rule compares.
struct VideoFormatLayout {
  bool bVideo;
  bool bInfoHeader2;  // VIDEOINFOHEADER2 fields in front of the bitmap header
  ULONG cbMinimum;
  size_t cbBitmapOffset;
};

VideoFormatLayout GetVideoFormatLayout(const GUID& formattype) {
  if (formattype == FORMAT_VideoInfo)
    return {true, false, kVideoInfoSize, offsetof(VIDEOINFOHEADER, bmiHeader)};
  if (formattype == FORMAT_VideoInfo2)
    return {true, true, kVideoInfo2Size, offsetof(VIDEOINFOHEADER2, bmiHeader)};
  if (formattype == FORMAT_MPEGVideo)
    return {true, false, kMpeg1VideoInfoSize, offsetof(VIDEOINFOHEADER, bmiHeader)};
  if (formattype == FORMAT_MPEG2Video)
    return {true, true, kMpeg2VideoInfoSize, offsetof(VIDEOINFOHEADER2, bmiHeader)};
  if (formattype == FORMAT_VideoInfo144)
    return {true, false, kVideoInfo144Size, offsetof(VIDEOINFOHEADER, bmiHeader)};
  return {false, false, 0, 0};
}

// The compared fields of one video block, copied out (blocks carry no
// alignment guarantee). The caller has checked the block's minimum size.
struct VideoFields {
  RECT rcSource;
  RECT rcTarget;
  REFERENCE_TIME AvgTimePerFrame;
  int64_t llHorizontal;  // bitmap width, or picture aspect X
  bool bVerticalZero;    // bitmap height, or picture aspect Y, is 0
  BITMAPINFOHEADER bmi;
};

VideoFields ReadVideoFields(const BYTE* pb, const VideoFormatLayout& layout) {
  VideoFields f{};
  std::memcpy(&f.rcSource, pb + offsetof(VIDEOINFOHEADER, rcSource), sizeof(RECT));
  std::memcpy(&f.rcTarget, pb + offsetof(VIDEOINFOHEADER, rcTarget), sizeof(RECT));
  std::memcpy(&f.AvgTimePerFrame, pb + offsetof(VIDEOINFOHEADER, AvgTimePerFrame),
              sizeof(REFERENCE_TIME));
  std::memcpy(&f.bmi, pb + layout.cbBitmapOffset, sizeof(BITMAPINFOHEADER));
  if (layout.bInfoHeader2) {
    DWORD x = 0;
    DWORD y = 0;
    std::memcpy(&x, pb + offsetof(VIDEOINFOHEADER2, dwPictAspectRatioX), sizeof(DWORD));
    std::memcpy(&y, pb + offsetof(VIDEOINFOHEADER2, dwPictAspectRatioY), sizeof(DWORD));
    f.llHorizontal = x;
    f.bVerticalZero = y == 0;
  } else {
    f.llHorizontal = f.bmi.biWidth;
    f.bVerticalZero = f.bmi.biHeight == 0;
  }
  return f;
}

int64_t AbsHeight(LONG height) { return height < 0 ? -static_cast<int64_t>(height) : height; }

bool IsTopDownCapable(DWORD compression) {
  return compression == kFourccYUY2 || compression == kFourccUYVY || compression == kFourccYV12 ||
         compression == kFourccI420 || compression == kFourccNV12;
}

bool RectsMatch(const RECT& a, const RECT& b, const BITMAPINFOHEADER& bmiA) {
  if (std::memcmp(&a, &b, sizeof(RECT)) == 0) return true;
  auto fullFrame = [&bmiA](const RECT& r) {
    return r.left == 0 && r.top == 0 && (r.right == 0 || r.right == bmiA.biWidth) &&
           (r.bottom == 0 || r.bottom == AbsHeight(bmiA.biHeight));
  };
  return fullFrame(a) && fullFrame(b);
}

// Two video blocks describe the same picture: same size, bitmap header
// equivalent, frame time within 1, and the same (or full-frame) rectangles.
bool VideoFormatsMatch(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  const VideoFormatLayout la = GetVideoFormatLayout(a.formattype);
  const VideoFormatLayout lb = GetVideoFormatLayout(b.formattype);
  if (!la.bVideo || !lb.bVideo) return false;
  if (a.pbFormat == nullptr || b.pbFormat == nullptr) return false;
  if (a.cbFormat < la.cbMinimum || b.cbFormat < lb.cbMinimum) return false;

  const VideoFields fa = ReadVideoFields(a.pbFormat, la);
  const VideoFields fb = ReadVideoFields(b.pbFormat, lb);

  if (!fa.bVerticalZero && fa.llHorizontal != fb.llHorizontal) return false;

  if (std::memcmp(&fa.bmi, &fb.bmi, sizeof(BITMAPINFOHEADER)) != 0) {
    if (fa.bmi.biWidth != fb.bmi.biWidth ||
        AbsHeight(fa.bmi.biHeight) != AbsHeight(fb.bmi.biHeight) ||
        fa.bmi.biBitCount != fb.bmi.biBitCount || fa.bmi.biCompression != fb.bmi.biCompression) {
      return false;
    }
    if (fa.bmi.biHeight != fb.bmi.biHeight && !IsTopDownCapable(fa.bmi.biCompression)) return false;
  }

  if (fa.bmi.biCompression == kFourccQGRY && fa.bmi.biSize > sizeof(BITMAPINFOHEADER)) {
    // The grey format keeps extra header fields up to byte 84 of the header.
    const size_t cbEnd = std::min<size_t>(fa.bmi.biSize, 84);
    const size_t cbExtra = cbEnd - sizeof(BITMAPINFOHEADER);
    const size_t offA = la.cbBitmapOffset + sizeof(BITMAPINFOHEADER);
    const size_t offB = lb.cbBitmapOffset + sizeof(BITMAPINFOHEADER);
    if (cbExtra > a.cbFormat - offA || cbExtra > b.cbFormat - offB) return false;
    if (std::memcmp(a.pbFormat + offA, b.pbFormat + offB, cbExtra) != 0) return false;
  }

  const int64_t ta = fa.AvgTimePerFrame == 0 ? 333333 : fa.AvgTimePerFrame;
  const int64_t tb = fb.AvgTimePerFrame == 0 ? 333333 : fb.AvgTimePerFrame;
  const uint64_t diff = ta >= tb ? static_cast<uint64_t>(ta) - static_cast<uint64_t>(tb)
                                 : static_cast<uint64_t>(tb) - static_cast<uint64_t>(ta);
  if (diff > 1) return false;

  return RectsMatch(fa.rcSource, fb.rcSource, fa.bmi) &&
         RectsMatch(fa.rcTarget, fb.rcTarget, fa.bmi);
}

// Smallest block two differently sized blocks of one format type must have;
// 0 when such blocks never compare equal.
ULONG MinimumBlockForSizeMismatch(const AM_MEDIA_TYPE& a) {
  if (a.formattype == FORMAT_VideoInfo) {
    if (a.pbFormat != nullptr && a.cbFormat >= kVideoInfoSize) {
      BITMAPINFOHEADER bmi;
      std::memcpy(&bmi, a.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof(bmi));
      if (bmi.biCompression == kFourccQGRY) return bmi.biSize;
    }
    return kVideoInfoSize;
  }
  if (a.formattype == FORMAT_VideoInfo2) return kVideoInfo2Size;
  if (a.formattype == FORMAT_VideoInfo144) return kVideoInfo144Size;
  return 0;
}

}  // namespace

bool IsEqualMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (a.majortype != b.majortype || a.subtype != b.subtype) return false;

  if (a.formattype == b.formattype) {
    if (a.cbFormat == b.cbFormat) {
      if (a.cbFormat == 0) return true;
      if (a.pbFormat == nullptr || b.pbFormat == nullptr) return false;
      if (std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0) return true;
    } else {
      if (a.cbFormat == 0 || b.cbFormat == 0 || a.majortype != MEDIATYPE_Video) return false;
      if (a.pbFormat == nullptr || b.pbFormat == nullptr) return false;
      const ULONG cbMinimum = MinimumBlockForSizeMismatch(a);
      if (cbMinimum == 0 || a.cbFormat < cbMinimum || b.cbFormat < cbMinimum) return false;
      if (std::memcmp(a.pbFormat, b.pbFormat, std::min(a.cbFormat, b.cbFormat)) == 0) return true;
    }
  }
  return VideoFormatsMatch(a, b);
}

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat != nullptr) CoTaskMemFree(mt.pbFormat);
  mt.pbFormat = nullptr;
  mt.cbFormat = 0;
  if (mt.pUnk != nullptr) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
  if (pmtTarget == nullptr || pmtSource == nullptr) return E_POINTER;
  if (pmtTarget == pmtSource) return S_OK;
  *pmtTarget = *pmtSource;
  pmtTarget->pbFormat = nullptr;
  pmtTarget->cbFormat = 0;
  if (pmtSource->cbFormat != 0 && pmtSource->pbFormat != nullptr) {
    auto* pb = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
    if (pb == nullptr) {
      pmtTarget->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(pb, pmtSource->pbFormat, pmtSource->cbFormat);
    pmtTarget->pbFormat = pb;
    pmtTarget->cbFormat = pmtSource->cbFormat;
  }
  if (pmtTarget->pUnk != nullptr) pmtTarget->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
  if (pSrc == nullptr) return nullptr;
  auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (pmt == nullptr) return nullptr;
  if (FAILED(CopyMediaType(pmt, pSrc))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE() { InitMediaType(); }

CMediaType::CMediaType(const GUID* ptype) : AM_MEDIA_TYPE() {
  InitMediaType();
  if (ptype != nullptr) majortype = *ptype;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) : AM_MEDIA_TYPE() {
  InitMediaType();
  const HRESULT hr = Set(rt);
  if (phr != nullptr && FAILED(hr)) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt, HRESULT* phr) : AM_MEDIA_TYPE() {
  InitMediaType();
  const HRESULT hr = Set(rt);
  if (phr != nullptr && FAILED(hr)) *phr = hr;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const CMediaType& rt) {
  (void)Set(rt);
  return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
  (void)Set(rt);
  return *this;
}

bool CMediaType::operator==(const CMediaType& rt) const { return IsEqualMediaType(*this, rt); }

HRESULT CMediaType::Set(const CMediaType& rt) { return Set(static_cast<const AM_MEDIA_TYPE&>(rt)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
  if (&rt == static_cast<const AM_MEDIA_TYPE*>(this)) return S_OK;
  FreeMediaType(*this);
  return CopyMediaType(this, &rt);
}

void CMediaType::InitMediaType() {
  FreeMediaType(*this);
  majortype = GUID_NULL;
  subtype = GUID_NULL;
  formattype = GUID_NULL;
  bFixedSizeSamples = TRUE;
  bTemporalCompression = FALSE;
  lSampleSize = 1;
}

void CMediaType::SetSampleSize(ULONG sz) {
  if (sz == 0) {
    SetVariableSize();
    return;
  }
  bFixedSizeSamples = TRUE;
  lSampleSize = sz;
}

BOOL CMediaType::SetFormat(const BYTE* pFormat, ULONG length) {
  if (length == 0) {
    ResetFormatBuffer();
    return TRUE;
  }
  if (pFormat == nullptr) return FALSE;
  // Copy before freeing: the source may be the current block.
  auto* pb = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (pb == nullptr) return FALSE;
  std::memcpy(pb, pFormat, length);
  ResetFormatBuffer();
  pbFormat = pb;
  cbFormat = length;
  return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == 0) {
    ResetFormatBuffer();
    return nullptr;
  }
  if (cbFormat == length && pbFormat != nullptr) return pbFormat;
  auto* pb = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (pb == nullptr) return nullptr;
  ResetFormatBuffer();
  pbFormat = pb;
  cbFormat = length;
  return pb;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat != nullptr) CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const {
  if (ppartial == nullptr) return TRUE;
  if (ppartial->majortype != GUID_NULL && majortype != ppartial->majortype) return FALSE;
  if (ppartial->subtype != GUID_NULL && subtype != ppartial->subtype) return FALSE;
  if (ppartial->formattype != GUID_NULL) {
    if (formattype != ppartial->formattype) return FALSE;
    if (ppartial->cbFormat != 0) {
      if (cbFormat != ppartial->cbFormat || pbFormat == nullptr || ppartial->pbFormat == nullptr)
        return FALSE;
      if (std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0) return FALSE;
    }
  }
  return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return (majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL) ? TRUE : FALSE;
}

}  // namespace flvdmx
