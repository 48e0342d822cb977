#include "streams/video_sample_entry.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "baseclasses/mediatype.h"
#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"
#include "streams/decoder_config.h"

namespace flvdmx {

namespace {

struct PictureSize {
  uint16_t width;
  uint16_t height;
};

// H.263 PictureSize 2 to 6.
constexpr PictureSize kH263PictureSizes[] = {
    {352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120},
};

// The values of a VP6 intra frame's second header byte that this system
// knows: version 8, no interlace, the advanced (3) or the simple (0) profile.
constexpr uint32_t kVp6HeaderByte = 0x46;
constexpr uint32_t kVp6SimpleProfileHeaderByte = 0x40;

}  // namespace

VideoSampleEntry::VideoSampleEntry() : SampleEntry(kFlvTagVideo) {}

// Here, where the parser types are complete. Members go before the base, so
// the parsers are deleted before the configuration bytes are released.
VideoSampleEntry::~VideoSampleEntry() = default;

HRESULT VideoSampleEntry::ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition,
                                            const FlvTag* pTag, uint32_t dwDuration) {
  if (pTag == nullptr) return E_POINTER;
  StreamWindow window;
  HRESULT hr = window.Init(pReader, llDataPosition, pTag->DataSize);
  if (hr != S_OK) return hr;
  hr = window.ParseBits([this](BitReader& r) { return ReadCodecHeader(r); });
  if (hr != S_OK) return hr;
  if (m_iCodecID == kVideoCodecAvc || m_iCodecID == kVideoCodecHevc)
    return ReadDecoderConfiguration(window, *pTag);
  return S_OK;
}

HRESULT VideoSampleEntry::ReadCodecHeader(BitReader& r) {
  uint32_t frameType = 0;
  uint32_t codecId = 0;
  if (!r.ReadBits(4, &frameType) || !r.ReadBits(4, &codecId)) return kStreamDataShort;
  // Recorded even when unsupported, so that GetMediaType refuses it too.
  m_iCodecID = static_cast<int32_t>(codecId);

  switch (m_iCodecID) {
    case kVideoCodecH263:
      return ReadH263Header(r);
    case kVideoCodecScreen:
    case kVideoCodecScreen2:
      return ReadScreenVideoHeader(r);
    case kVideoCodecVp6:
      return ReadVp6Header(r);
    case kVideoCodecAvc:
    case kVideoCodecHevc:
      return S_OK;  // the decoder configuration is read as bytes
    default:
      return VFW_E_UNSUPPORTED_VIDEO;
  }
}

HRESULT VideoSampleEntry::ReadH263Header(BitReader& r) {
  uint32_t pictureStartCode = 0;
  if (!r.ReadBits(17, &pictureStartCode)) return kStreamDataShort;
  if (pictureStartCode != 1) return VFW_E_INVALID_FILE_FORMAT;
  uint32_t version = 0;
  uint32_t temporalReference = 0;
  uint32_t pictureSize = 0;
  if (!r.ReadBits(5, &version) || !r.ReadBits(8, &temporalReference) ||
      !r.ReadBits(3, &pictureSize))
    return kStreamDataShort;

  if (pictureSize == 0 || pictureSize == 1) {
    const int bits = pictureSize == 0 ? 8 : 16;
    uint32_t value = 0;
    if (!r.ReadBits(bits, &value)) return kStreamDataShort;
    m_wWidth = static_cast<uint16_t>(value);
    if (!r.ReadBits(bits, &value)) return kStreamDataShort;
    m_wHeight = static_cast<uint16_t>(value);
    return S_OK;
  }
  if (pictureSize == 7) return VFW_E_INVALID_FILE_FORMAT;
  m_wWidth = kH263PictureSizes[pictureSize - 2].width;
  m_wHeight = kH263PictureSizes[pictureSize - 2].height;
  return S_OK;
}

HRESULT VideoSampleEntry::ReadScreenVideoHeader(BitReader& r) {
  uint32_t blockSize = 0;
  uint32_t value = 0;
  if (!r.ReadBits(4, &blockSize) || !r.ReadBits(12, &value)) return kStreamDataShort;
  m_wWidth = static_cast<uint16_t>(value);
  if (!r.ReadBits(4, &blockSize) || !r.ReadBits(12, &value)) return kStreamDataShort;
  m_wHeight = static_cast<uint16_t>(value);
  return S_OK;
}

HRESULT VideoSampleEntry::ReadVp6Header(BitReader& r) {
  uint32_t adjustment = 0;
  uint32_t interFrame = 0;
  if (!r.ReadBits(8, &adjustment) || !r.ReadBits(1, &interFrame)) return kStreamDataShort;
  // Only an intra frame carries the picture size.
  if (interFrame != 0) return S_FALSE;
  uint32_t quantizer = 0;
  uint32_t separatedCoefficients = 0;
  uint32_t value = 0;
  if (!r.ReadBits(6, &quantizer) || !r.ReadBits(1, &separatedCoefficients) ||
      !r.ReadBits(8, &value))
    return kStreamDataShort;
  if (value != kVp6HeaderByte && value != kVp6SimpleProfileHeaderByte)
    return VFW_E_INVALID_FILE_FORMAT;
  // The offset of the second partition comes first when the coefficients
  // have a partition of their own, and always in the simple profile.
  uint32_t offset = 0;
  if ((separatedCoefficients != 0 || value == kVp6SimpleProfileHeaderByte) &&
      !r.ReadBits(16, &offset))
    return kStreamDataShort;
  // Macroblock rows, then columns: the coded size, not the display size.
  if (!r.ReadBits(8, &value)) return kStreamDataShort;
  m_wHeight = static_cast<uint16_t>(16 * value);
  if (!r.ReadBits(8, &value)) return kStreamDataShort;
  m_wWidth = static_cast<uint16_t>(16 * value);
  return S_OK;
}

HRESULT VideoSampleEntry::ReadDecoderConfiguration(StreamWindow& window, const FlvTag& tag) {
  if (tag.DataSize < 10) return S_OK;
  // The codec byte, AVCPacketType, CompositionTime, and the first six
  // record bytes.
  constexpr uint32_t kHeadSize = 11;
  HRESULT hr = window.Fetch(kHeadSize);
  if (hr != S_OK) return hr;
  const uint8_t* head = window.Data() + 1;
  // Not a sequence header (or a non-zero composition time): nothing to learn.
  if (head[0] != 0 || head[1] != 0 || head[2] != 0 || head[3] != 0) return S_OK;

  // The box: size DataSize + 3, "avcC", then the record (DataSize - 5 bytes).
  const uint32_t cbBox = tag.DataSize + 3;
  uint8_t boxStart[kConfigBoxHeaderSize + 6] = {static_cast<uint8_t>(cbBox >> 24),
                                                static_cast<uint8_t>(cbBox >> 16),
                                                static_cast<uint8_t>(cbBox >> 8),
                                                static_cast<uint8_t>(cbBox),
                                                'a',
                                                'v',
                                                'c',
                                                'C'};
  std::memcpy(boxStart + kConfigBoxHeaderSize, head + 4, 6);
  hr = m_ConfigBytes.Assign(boxStart, sizeof(boxStart));
  if (FAILED(hr)) return hr;
  // At least 11 here: a DataSize of 10 has failed the fetch above.
  hr = window.Fetch(tag.DataSize);
  if (hr != S_OK) return hr;
  hr = m_ConfigBytes.Append(window.Data() + kHeadSize, static_cast<int>(tag.DataSize - kHeadSize));
  if (FAILED(hr)) return hr;
  return ParseConfigBox();
}

HRESULT VideoSampleEntry::ParseConfigBox() {
  CBuffer units;
  DecoderConfigLayout layout = DecoderConfigLayout::kAvcFirstSets;
  HRESULT hr = AppendParameterSetsFromRecord(
      m_ConfigBytes.Data() + kConfigBoxHeaderSize,
      static_cast<size_t>(m_ConfigBytes.Size()) - kConfigBoxHeaderSize,
      m_iCodecID == kVideoCodecHevc, &units, &layout);
  if (FAILED(hr)) return hr;
  // A decoder reads an HEVCDecoderConfigurationRecord only from a box that
  // says so.
  if (layout == DecoderConfigLayout::kHvcc) std::memcpy(m_ConfigBytes.Data() + 4, "hvcC", 4);
  return ParsePictureSize(units.Data(), static_cast<uint32_t>(units.Size()));
}

HRESULT VideoSampleEntry::ParsePictureSize(const uint8_t* pUnits, uint32_t cbUnits) {
  CMiniParser* pParser = nullptr;
  if (m_iCodecID == kVideoCodecHevc) {
    m_pH265Parser.reset();
    m_pH265Parser.reset(new (std::nothrow) CMiniParserH265());
    pParser = m_pH265Parser.get();
  } else {
    m_pH264Parser.reset();
    m_pH264Parser.reset(new (std::nothrow) CMiniParserH264());
    pParser = m_pH264Parser.get();
  }
  if (pParser == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = pParser->Parse(pUnits, cbUnits);
  if (FAILED(hr)) return hr;
  // Found, nothing found (size 0 x 0) and incomplete are all accepted.
  const VideoStreamInfo& info = pParser->GetStreamInfo();
  m_wWidth = static_cast<uint16_t>(info.m_dwWidth);
  m_wHeight = static_cast<uint16_t>(info.m_dwHeight);
  m_wBitCount = 24;
  return S_OK;
}

HRESULT VideoSampleEntry::GetVideoSubtype(GUID* pSubtype) const {
  uint32_t fourcc = 0;
  switch (m_iCodecID) {
    case kVideoCodecH263:
      fourcc = kFourccS263;
      break;
    case kVideoCodecScreen:
      fourcc = kFourccFSV1;
      break;
    case kVideoCodecVp6:
      fourcc = kFourccVP6F;
      break;
    case kVideoCodecScreen2:
      fourcc = kFourccFSV2;
      break;
    case kVideoCodecAvc:
      fourcc = kFourccAVC1;
      break;
    case kVideoCodecHevc:
      fourcc = kFourccHVC1;
      break;
    default:
      return VFW_E_UNSUPPORTED_VIDEO;
  }
  *pSubtype = FourccGuid(fourcc);
  return S_OK;
}

HRESULT VideoSampleEntry::GetMediaType(int iPosition, CMediaType* pmt) {
  if (pmt == nullptr) return E_POINTER;
  if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
  if (IsEnhanced() && m_iCodecID < 0) return GetExMediaType(pmt);
  GUID subtype;
  const HRESULT hr = GetVideoSubtype(&subtype);
  if (FAILED(hr)) return hr;

  return SetVideoType(pmt, subtype, false, 0);
}

HRESULT VideoSampleEntry::SetVideoType(CMediaType* pmt, const GUID& subtype, bool bInfo2,
                                       DWORD dwControlFlags) const {
  ResetMediaType(pmt);
  pmt->SetType(&MEDIATYPE_Video);
  pmt->SetSubtype(&subtype);
  pmt->SetFormatType(bInfo2 ? &FORMAT_VideoInfo2 : &FORMAT_VideoInfo);
  pmt->bTemporalCompression = TRUE;

  const ULONG cbConfig = static_cast<ULONG>(m_ConfigBytes.Size());
  const ULONG cbHeader = bInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
  BYTE* pb = pmt->AllocFormatBuffer(cbHeader + cbConfig);
  if (pb == nullptr) return E_OUTOFMEMORY;
  BITMAPINFOHEADER bmi;
  std::memset(&bmi, 0, sizeof(bmi));
  bmi.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + cbConfig);
  bmi.biWidth = m_wWidth;
  bmi.biHeight = m_wHeight;
  bmi.biPlanes = 1;
  bmi.biBitCount = m_wBitCount;
  bmi.biCompression = subtype.Data1;
  if (bInfo2) {
    VIDEOINFOHEADER2 vih;
    std::memset(&vih, 0, sizeof(vih));
    vih.AvgTimePerFrame = m_llAvgTimePerFrame;
    vih.dwPictAspectRatioX = m_wWidth;
    vih.dwPictAspectRatioY = m_wHeight;
    vih.dwControlFlags = dwControlFlags;
    vih.bmiHeader = bmi;
    std::memcpy(pb, &vih, sizeof(vih));
  } else {
    VIDEOINFOHEADER vih;
    std::memset(&vih, 0, sizeof(vih));
    vih.AvgTimePerFrame = m_llAvgTimePerFrame;
    vih.bmiHeader = bmi;
    std::memcpy(pb, &vih, sizeof(vih));
  }
  if (cbConfig != 0) std::memcpy(pb + cbHeader, m_ConfigBytes.Data(), cbConfig);
  return S_OK;
}

uint32_t VideoSampleEntry::GetMaxSampleSize() {
  // An enhanced record may leave the size unknown; frames still need room.
  const uint32_t floor =
      IsEnhanced() ? std::max(kVideoSampleFloor, kMinExVideoSampleSize) : kVideoSampleFloor;
  return FitToTags(uint64_t{m_wWidth} * m_wHeight * m_wBitCount / 8 * 2, floor);
}

}  // namespace flvdmx
