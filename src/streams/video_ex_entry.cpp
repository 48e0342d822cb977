// VideoSampleEntry for enhanced tracks: the codec named by FourCC, its
// record from the SequenceStart packet and, where the record has no picture
// size (vpcC, an av1C without a sequence header), the size from a key frame.
#include <algorithm>
#include <cstring>

#include "baseclasses/mediatype.h"
#include "flvdefs/flv_ex_header.h"
#include "parsers/av1_info.h"
#include "parsers/vp_info.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {

namespace {

// The subtype FOURCC a decoder on the platform looks for, by the tag FourCC.
uint32_t PlatformFourcc(uint32_t fourCc) {
  switch (fourCc) {
    case kExFourCcAv1:
      return MakeFourcc('A', 'V', '0', '1');
    case kExFourCcVp9:
      return MakeFourcc('V', 'P', '9', '0');
    case kExFourCcVp8:
      return MakeFourcc('V', 'P', '8', '0');
    default:
      return 0;
  }
}

// VIDEOINFOHEADER2 control flags: the flags are in use, and the upper 24
// bits hold the colour description (the extended format without its sample
// format byte).
constexpr DWORD kControlUsed = 0x01;
constexpr DWORD kControlColorInfoPresent = 0x80;
constexpr int kTransferMatrixShift = 15;
constexpr int kPrimariesShift = 22;
constexpr int kTransferFunctionShift = 27;

// The platform's codes for the colour description, from the codes of the
// colorInfo object (those of ITU-T H.273); 0 (unknown) for the others.
DWORD PlatformMatrix(int32_t code) {
  switch (code) {
    case 1:
      return 1;  // BT.709
    case 5:
    case 6:
      return 2;  // BT.601
    case 7:
      return 3;  // SMPTE 240M
    case 9:
      return 4;  // BT.2020 non-constant
    default:
      return 0;
  }
}

DWORD PlatformPrimaries(int32_t code) {
  switch (code) {
    case 1:
      return 2;  // BT.709
    case 4:
      return 3;  // BT.470 System M
    case 5:
      return 4;  // BT.470 System B, G
    case 6:
      return 5;  // SMPTE 170M
    case 7:
      return 6;  // SMPTE 240M
    case 9:
      return 9;  // BT.2020
    case 10:
      return 10;  // XYZ
    case 11:
    case 12:
      return 11;  // DCI-P3
    case 22:
      return 7;  // EBU 3213
    default:
      return 0;
  }
}

DWORD PlatformTransfer(int32_t code) {
  switch (code) {
    case 1:
    case 6:
    case 14:
    case 15:
      return 5;  // BT.709 curve
    case 4:
      return 4;  // gamma 2.2
    case 5:
      return 8;  // gamma 2.8
    case 7:
      return 6;  // SMPTE 240M
    case 8:
      return 1;  // linear
    case 9:
      return 9;  // log 100:1
    case 10:
      return 10;  // log 316:1
    case 13:
      return 7;  // sRGB
    case 16:
      return 15;  // SMPTE ST 2084 (PQ)
    case 18:
      return 16;  // HLG
    default:
      return 0;
  }
}

DWORD ColorControlFlags(const VideoColorInfo& info) {
  if (!info.bPresent) return 0;
  return kControlUsed | kControlColorInfoPresent |
         (PlatformMatrix(info.iMatrixCoefficients) << kTransferMatrixShift) |
         (PlatformPrimaries(info.iColorPrimaries) << kPrimariesShift) |
         (PlatformTransfer(info.iTransferCharacteristics) << kTransferFunctionShift);
}

uint16_t ClampDimension(uint32_t v) { return static_cast<uint16_t>(std::min<uint32_t>(v, 0xFFFF)); }

}  // namespace

HRESULT VideoSampleEntry::ReadExSequenceStart(const uint8_t* pBody, size_t cbBody) {
  if (pBody == nullptr && cbBody != 0) return E_POINTER;
  if (cbBody > 0x7FFFFFF0) return VFW_E_INVALID_FILE_FORMAT;
  if (m_dwFourCc == kExFourCcAvc || m_dwFourCc == kExFourCcHevc) {
    m_iCodecID = m_dwFourCc == kExFourCcAvc ? kVideoCodecAvc : kVideoCodecHevc;
    // The same box as a legacy sequence header makes: size, "avcC", record.
    const uint32_t cbBox = static_cast<uint32_t>(cbBody) + kConfigBoxHeaderSize;
    const uint8_t box[kConfigBoxHeaderSize] = {static_cast<uint8_t>(cbBox >> 24),
                                               static_cast<uint8_t>(cbBox >> 16),
                                               static_cast<uint8_t>(cbBox >> 8),
                                               static_cast<uint8_t>(cbBox),
                                               'a',
                                               'v',
                                               'c',
                                               'C'};
    HRESULT hr = m_ConfigBytes.Assign(box, sizeof(box));
    if (SUCCEEDED(hr)) hr = m_ConfigBytes.Append(pBody, static_cast<int>(cbBody));
    if (FAILED(hr)) return hr;
    m_bExRecordSeen = true;
    return ParseConfigBox();
  }
  if (PlatformFourcc(m_dwFourCc) == 0) return VFW_E_UNSUPPORTED_VIDEO;
  const HRESULT hr = m_ConfigBytes.Assign(pBody, static_cast<int>(cbBody));
  if (FAILED(hr)) return hr;
  m_bExRecordSeen = true;
  if (m_dwFourCc == kExFourCcAv1) {
    Av1Info info;
    if (!ParseAv1CodecConfig(pBody, cbBody, &info)) return VFW_E_INVALID_FILE_FORMAT;
    if (info.width != 0 && info.height != 0) {
      m_wWidth = ClampDimension(info.width);
      m_wHeight = ClampDimension(info.height);
    }
    return S_OK;
  }
  VpInfo info;
  return ParseVpCodecConfig(pBody, cbBody, &info) ? S_OK : VFW_E_INVALID_FILE_FORMAT;
}

HRESULT VideoSampleEntry::ReadExCodedFrame(const uint8_t* pFrame, size_t cbFrame, bool bKeyFrame) {
  if (!NeedsMoreExData()) return S_OK;
  if (!bKeyFrame || pFrame == nullptr) return S_FALSE;
  bool bFound = false;
  if (m_dwFourCc == kExFourCcAv1) {
    Av1Info info;
    bFound = ParseAv1SequenceHeaderObus(pFrame, cbFrame, &info) && info.width != 0;
    if (bFound) m_wWidth = ClampDimension(info.width), m_wHeight = ClampDimension(info.height);
  } else if (m_dwFourCc == kExFourCcVp9 || m_dwFourCc == kExFourCcVp8) {
    VpInfo info;
    bFound = m_dwFourCc == kExFourCcVp9 ? ParseVp9KeyFrameSize(pFrame, cbFrame, &info)
                                        : ParseVp8KeyFrameSize(pFrame, cbFrame, &info);
    bFound = bFound && info.width != 0;
    if (bFound) m_wWidth = ClampDimension(info.width), m_wHeight = ClampDimension(info.height);
  }
  return bFound ? S_OK : S_FALSE;
}

bool VideoSampleEntry::NeedsMoreExData() const {
  if (!IsEnhanced()) return false;
  if (m_dwFourCc == kExFourCcAvc || m_dwFourCc == kExFourCcHevc) return !m_bExRecordSeen;
  if (PlatformFourcc(m_dwFourCc) == 0) return false;  // never playable
  // VP8 may come without a record: a key frame's size is enough.
  const bool bSized = m_wWidth > 1 && m_wHeight > 1;
  return m_dwFourCc == kExFourCcVp8 ? !bSized : !(bSized && m_bExRecordSeen);
}

HRESULT VideoSampleEntry::GetExMediaType(CMediaType* pmt) {
  const uint32_t fourcc = PlatformFourcc(m_dwFourCc);
  if (fourcc == 0) return VFW_E_UNSUPPORTED_VIDEO;
  return SetVideoType(pmt, FourccGuid(fourcc), true, ColorControlFlags(m_ColorInfo));
}

}  // namespace flvdmx
