#include "diag/media_type_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diag/trace.h"
#include "platform/mediatypes.h"

namespace flvdmx {
namespace {

// Identities that not every build's headers declare; the platform's values.
constexpr GUID kMediaTypeAuxLine21Data = {
    0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};
constexpr GUID kMediaTypeDtvCcData = {
    0xFB77E152, 0x53B2, 0x499C, {0xB4, 0x6B, 0x50, 0x9F, 0xC3, 0x3E, 0xDF, 0xD7}};
constexpr GUID kMediaTypeMstvCaption = {
    0xB88B8A89, 0xB049, 0x4C80, {0xAD, 0xCF, 0x58, 0x98, 0x98, 0x5E, 0x22, 0xC1}};
constexpr GUID kMediaTypeVbi = {
    0xF72A76E1, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr GUID kMediaTypeUrlStream = FourccGuid(0x736C7275);  // "urls"
// The product's own major type, in the FOURCC family like its subtypes.
constexpr GUID kMediaTypeQmrt = FourccGuid(MakeFourcc('Q', 'M', 'R', 'T'));
constexpr GUID kFormatMpeg2Audio = {
    0xE06D80E5, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID kFormatDvdLpcmAudio = {
    0xE06D80E6, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID kFormatDolbyAc3 = {
    0xE06D80E4, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID kMediaSubtypeUdpStream = {
    0x5FE31118, 0x25FB, 0x4D77, {0xBC, 0x62, 0x3D, 0x9C, 0xC3, 0x2B, 0xBE, 0x67}};

constexpr size_t kDescriptionSize = 200;
constexpr size_t kNameSize = 48;
constexpr size_t kMpeg2VideoInfoMin = 136;
constexpr size_t kWaveFormatMin = 16;
constexpr size_t kWaveFormatWithSize = 18;

struct Named {
  const GUID* guid;
  const char* name;
};

thread_local char t_description[4][kDescriptionSize];
thread_local int t_nextDescription;
thread_local char t_name[8][kNameSize];
thread_local int t_nextName;

char* NextName() {
  t_nextName = (t_nextName + 1) % 8;
  return t_name[t_nextName];
}

template <size_t N>
const char* Lookup(const Named (&table)[N], const GUID& guid) {
  for (const Named& n : table)
    if (*n.guid == guid) return n.name;
  return nullptr;
}

// Identities none of the tables name.
const char* OtherName(const GUID& guid) {
  if (guid == GUID_NULL) return "GUID_NULL";
  if (guid == kMediaSubtypeUdpStream) return "MEDIASUBTYPE_UDPStream";
  char* text = NextName();
  FormatGuid(guid, text);
  return text;
}

bool IsFourccFamily(const GUID& guid) { return FourccGuid(guid.Data1) == guid; }

void FourChars(uint32_t code, char out[5]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  out[4] = '\0';
}

bool IsPrintable(const char chars[5]) {
  for (int i = 0; i < 4; ++i) {
    const unsigned char c = static_cast<unsigned char>(chars[i]);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The bitmap compression code as four characters; for VideoInfo only when
// they can be printed.
void CompressionText(uint32_t code, bool requirePrintable, char out[16]) {
  static const char* const kCommon[] = {"RGB ", "RLE8", "RLE4", "BITF"};
  if (code < 4) {
    std::snprintf(out, 16, "%s", kCommon[code]);
    return;
  }
  char chars[5];
  FourChars(code, chars);
  if (requirePrintable && !IsPrintable(chars))
    std::snprintf(out, 16, "Comp=0x%08X", static_cast<unsigned>(code));
  else
    std::snprintf(out, 16, "%s", chars);
}

// Appends to a bounded description, cutting off what does not fit.
class CLine {
 public:
  explicit CLine(char* text) : m_pText(text) { m_pText[0] = '\0'; }

#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void
  Add(const char* format, ...) {
    if (m_cch >= kDescriptionSize - 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(m_pText + m_cch, kDescriptionSize - m_cch, format, args);
    va_end(args);
    if (n > 0) m_cch = std::min(m_cch + static_cast<size_t>(n), kDescriptionSize - 1);
  }

  const char* Text() const { return m_pText; }

 private:
  char* m_pText;
  size_t m_cch = 0;
};

// A target rectangle worth showing: not empty and not the whole picture.
bool ShowTarget(const RECT& rc, const BITMAPINFOHEADER& bmi) {
  if (rc.right <= rc.left || rc.bottom <= rc.top) return false;
  const int64_t height = bmi.biHeight < 0 ? -static_cast<int64_t>(bmi.biHeight) : bmi.biHeight;
  return rc.right - rc.left != bmi.biWidth || rc.bottom - rc.top != height;
}

template <typename T>
T ReadBlock(const BYTE* pb, size_t offset = 0) {
  T value;
  std::memcpy(&value, pb + offset, sizeof value);
  return value;
}

}  // namespace

const char* MajorTypeName(const GUID& guid) {
  static const Named kNames[] = {
      {&MEDIATYPE_Video, "MEDIATYPE_Video"},
      {&MEDIATYPE_Audio, "MEDIATYPE_Audio"},
      {&MEDIATYPE_Text, "MEDIATYPE_Text"},
      {&MEDIATYPE_Midi, "MEDIATYPE_Midi"},
      {&MEDIATYPE_Stream, "MEDIATYPE_Stream"},
      {&MEDIATYPE_Interleaved, "MEDIATYPE_Interleaved"},
      {&MEDIATYPE_File, "MEDIATYPE_File"},
      {&MEDIATYPE_ScriptCommand, "MEDIATYPE_ScriptCommand"},
      {&kMediaTypeAuxLine21Data, "MEDIATYPE_AUXLine21Data"},
      {&kMediaTypeDtvCcData, "MEDIATYPE_DTVCCData"},
      {&kMediaTypeMstvCaption, "MEDIATYPE_MSTVCaption"},
      {&kMediaTypeVbi, "MEDIATYPE_VBI"},
      {&MEDIATYPE_Timecode, "MEDIATYPE_Timecode"},
      {&kMediaTypeQmrt, "MEDIATYPE_QMRT"},
      {&kMediaTypeUrlStream, "MEDIATYPE_URL_STREAM"},
  };
  const char* name = Lookup(kNames, guid);
  return name ? name : OtherName(guid);
}

const char* SubtypeName(const GUID& guid) {
  if (!IsFourccFamily(guid)) return OtherName(guid);
  static const char* const kCodes[] = {"RGB", "RLE8", "RLE4", "BITFIELDS", "JPEG", "PNG"};
  const uint32_t code = guid.Data1;
  if (code < 6) return kCodes[code];
  char chars[5];
  FourChars(code, chars);
  char* text = NextName();
  std::snprintf(text, kNameSize, "0x%08X (%4s)", static_cast<unsigned>(code), chars);
  return text;
}

const char* FormatTypeName(const GUID& guid) {
  static const Named kNames[] = {
      {&FORMAT_VideoInfo, "FORMAT_VideoInfo"},
      {&FORMAT_VideoInfo2, "FORMAT_VideoInfo2"},
      {&FORMAT_WaveFormatEx, "FORMAT_WaveFormatEx"},
      {&FORMAT_MPEG2Video, "FORMAT_MPEG2Video"},
      {&kFormatMpeg2Audio, "FORMAT_MPEG2Audio"},
      {&kFormatDvdLpcmAudio, "FORMAT_DVD_LPCMAudio"},
      {&kFormatDolbyAc3, "FORMAT_DolbyAC3"},
      {&FORMAT_DvInfo, "FORMAT_DvInfo"},
      {&FORMAT_None, "FORMAT_None"},
      {&FORMAT_MPEGVideo, "FORMAT_MPEGVideo"},
      {&FORMAT_VideoInfo144, "FORMAT_QGRYVideoInfo"},
      {&FORMAT_MPEGStreams, "FORMAT_MPEGStreams"},
  };
  const char* name = Lookup(kNames, guid);
  return name ? name : OtherName(guid);
}

const char* DescribeMediaType(const AM_MEDIA_TYPE* pmt) {
  t_nextDescription = (t_nextDescription + 1) % 4;
  CLine line(t_description[t_nextDescription]);
  if (!pmt) {
    line.Add("NULL");
    return line.Text();
  }
  if (pmt->majortype == GUID_NULL && pmt->subtype == GUID_NULL && pmt->formattype == GUID_NULL) {
    line.Add("(NULL)");
    return line.Text();
  }
  const size_t cb = pmt->pbFormat ? pmt->cbFormat : 0;
  const BYTE* pb = pmt->pbFormat;
  char comp[16];

  if (pmt->formattype == FORMAT_VideoInfo && cb >= kVideoInfoSize) {
    const VIDEOINFOHEADER vih = ReadBlock<VIDEOINFOHEADER>(pb);
    const BITMAPINFOHEADER& bmi = vih.bmiHeader;
    CompressionText(bmi.biCompression, true, comp);
    line.Add("Vid %s %d x %d x %d %" PRId64 " (%d bytes)", comp, static_cast<int>(bmi.biWidth),
             static_cast<int>(bmi.biHeight), bmi.biBitCount,
             static_cast<int64_t>(vih.AvgTimePerFrame), static_cast<int>(bmi.biSizeImage));
    const RECT& rc = vih.rcTarget;
    if (ShowTarget(rc, bmi))
      line.Add(" rcTarget=(%d,%d,%d,%d)", static_cast<int>(rc.left), static_cast<int>(rc.top),
               static_cast<int>(rc.right), static_cast<int>(rc.bottom));
    // The grey format keeps its significant bit range after the bitmap header.
    if (bmi.biCompression == kFourccQGRY && cb >= kVideoInfoSize + 8)
      line.Add(" lowBit=%d, highBit=%d", ReadBlock<int32_t>(pb, kVideoInfoSize),
               ReadBlock<int32_t>(pb, kVideoInfoSize + 4));
  } else if ((pmt->formattype == FORMAT_VideoInfo2 && cb >= kVideoInfo2Size) ||
             (pmt->formattype == FORMAT_MPEG2Video && cb >= kMpeg2VideoInfoMin)) {
    const bool mpeg2 = pmt->formattype == FORMAT_MPEG2Video;
    const VIDEOINFOHEADER2 vih = ReadBlock<VIDEOINFOHEADER2>(pb);
    const BITMAPINFOHEADER& bmi = vih.bmiHeader;
    CompressionText(bmi.biCompression, false, comp);
    line.Add("%s %s %d x %d x %d %" PRId64 " (%d:%d)", mpeg2 ? "MPEG2Vid" : "Vid", comp,
             static_cast<int>(bmi.biWidth), static_cast<int>(bmi.biHeight), bmi.biBitCount,
             static_cast<int64_t>(vih.AvgTimePerFrame), static_cast<int>(vih.dwPictAspectRatioX),
             static_cast<int>(vih.dwPictAspectRatioY));
    const RECT& rc = vih.rcTarget;
    if (ShowTarget(rc, bmi)) {
      if (mpeg2)
        Trace(" rcTarget=(%d,%d %d,%d)", static_cast<int>(rc.left), static_cast<int>(rc.right),
              static_cast<int>(rc.top), static_cast<int>(rc.bottom));
      else
        line.Add(" rcTarget=(%d,%d %d,%d)", static_cast<int>(rc.left), static_cast<int>(rc.right),
                 static_cast<int>(rc.top), static_cast<int>(rc.bottom));
    }
  } else if (pmt->formattype == FORMAT_WaveFormatEx && cb >= kWaveFormatMin) {
    // The first 16 bytes suffice; cbSize is read only when the block has it.
    WAVEFORMATEX wfx{};
    std::memcpy(&wfx, pb, cb >= kWaveFormatWithSize ? kWaveFormatWithSize : kWaveFormatMin);
    char size[24] = "";
    if (cb >= kWaveFormatWithSize) std::snprintf(size, sizeof size, ", cbSize=%u", wfx.cbSize);
    line.Add("Aud tag=%u, chan=%u, %uHz, %u bits, %lu bytes/s%s", wfx.wFormatTag, wfx.nChannels,
             static_cast<unsigned>(wfx.nSamplesPerSec), wfx.wBitsPerSample,
             static_cast<unsigned long>(wfx.nAvgBytesPerSec), size);
  } else if (pmt->formattype == FORMAT_VideoInfo || pmt->formattype == FORMAT_VideoInfo2) {
    // The address as Windows prints %p: sixteen upper-case digits.
    line.Add("Vid cbFormat = %d pbFormat=0x%016" PRIXPTR, static_cast<int>(pmt->cbFormat),
             reinterpret_cast<uintptr_t>(pmt->pbFormat));
  } else {
    line.Add("Type=%s, Subtype=%s, Format=%s", MajorTypeName(pmt->majortype),
             SubtypeName(pmt->subtype), FormatTypeName(pmt->formattype));
  }
  return line.Text();
}

}  // namespace flvdmx
