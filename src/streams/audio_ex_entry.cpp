// AudioSampleEntry for enhanced tracks: Opus, FLAC, AC-3 and E-AC-3 named by
// FourCC, described from OpusHead, STREAMINFO or the first sync frame; MP3
// and AAC by FourCC become the legacy descriptions of those codecs.
#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "baseclasses/mediatype.h"
#include "flvdefs/flv_ex_header.h"
#include "parsers/ac3_info.h"
#include "parsers/flac_info.h"
#include "parsers/opus_head.h"
#include "streams/audio_sample_entry.h"

namespace flvdmx {

namespace {

constexpr WORD kWaveFormatOpus = 0x704F;
constexpr WORD kWaveFormatFlac = 0xF1AC;
constexpr WORD kWaveFormatDolbyAc3 = 0x2000;
// The platform's MEDIASUBTYPE_DOLBY_AC3 and MEDIASUBTYPE_DOLBY_DDPLUS.
constexpr GUID kSubtypeDolbyAc3 = {
    0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID kSubtypeDolbyDdPlus = {
    0xA7FB87AF, 0x2D02, 0x42FB, {0xA4, 0xD4, 0x05, 0xCD, 0x93, 0x84, 0x3B, 0xDD}};
// The AAC config record must fit the format block's extension area.
constexpr size_t kMaxAacConfig = 20;
// Opus always decodes at 48 kHz, whatever rate the source had.
constexpr uint32_t kOpusRate = 48000;

}  // namespace

bool AudioSampleEntry::IsExPlayable() const {
  switch (m_dwFourCc) {
    case kExFourCcOpus:
    case kExFourCcFlac:
    case kExFourCcAc3:
    case kExFourCcEac3:
    case kExFourCcMp3:
    case kExFourCcAac:
      return true;
    default:
      return false;
  }
}

void AudioSampleEntry::SetDecodedRates() {
  WAVEFORMATEX& wfx = m_Format.wfx;
  wfx.nBlockAlign = static_cast<WORD>(wfx.wBitsPerSample * wfx.nChannels / 8);
  wfx.nAvgBytesPerSec = uint32_t{wfx.nBlockAlign} * wfx.nSamplesPerSec;
}

HRESULT AudioSampleEntry::ReadExSequenceStart(const uint8_t* pBody, size_t cbBody) {
  if (pBody == nullptr && cbBody != 0) return E_POINTER;
  if (!IsExPlayable()) return VFW_E_UNSUPPORTED_AUDIO;
  WAVEFORMATEX& wfx = m_Format.wfx;
  if (m_dwFourCc == kExFourCcAac) {
    if (cbBody > kMaxAacConfig) return VFW_E_INVALID_FILE_FORMAT;
    m_iSoundFormat = kSoundFormatAac;
    wfx.wFormatTag = WAVE_FORMAT_RAW_AAC1;
    wfx.nChannels = 2, wfx.nSamplesPerSec = 44100, wfx.wBitsPerSample = 16;
    wfx.cbSize = static_cast<WORD>(cbBody);
    if (cbBody != 0) std::memcpy(m_Format.ext.abExtra, pBody, cbBody);
    SetDecodedRates();
    TakeRateAndChannelsFromConfig();
    m_bExDescribed = true;
    return S_OK;
  }
  if (m_dwFourCc == kExFourCcOpus) {
    OpusHeadInfo head;
    if (!ParseOpusHead(pBody, cbBody, &head) || head.channels == 0)
      return VFW_E_INVALID_FILE_FORMAT;
    m_iSoundFormat = kSoundFormatExHeader;
    wfx.wFormatTag = kWaveFormatOpus;
    wfx.nChannels = head.channels, wfx.nSamplesPerSec = kOpusRate, wfx.wBitsPerSample = 16;
  } else if (m_dwFourCc == kExFourCcFlac) {
    FlacStreamInfo info;
    if (!ParseFlacStreamInfo(pBody, cbBody, &info) || info.channels == 0)
      return VFW_E_INVALID_FILE_FORMAT;
    m_iSoundFormat = kSoundFormatExHeader;
    wfx.wFormatTag = kWaveFormatFlac;
    wfx.nChannels = info.channels, wfx.nSamplesPerSec = info.sampleRate;
    wfx.wBitsPerSample = info.bitsPerSample;
  } else {
    return S_OK;  // AC-3, E-AC-3 and MP3 describe themselves in their frames
  }
  SetDecodedRates();
  const HRESULT hr = m_ConfigBytes.Assign(pBody, static_cast<int>(cbBody));
  if (FAILED(hr)) return hr;
  m_bExDescribed = true;
  return S_OK;
}

HRESULT AudioSampleEntry::ReadExCodedFrame(const uint8_t* pFrame, size_t cbFrame) {
  if (m_bExDescribed) return S_OK;
  if (m_dwFourCc != kExFourCcAc3 && m_dwFourCc != kExFourCcEac3) return S_FALSE;
  Ac3Info info;
  if (!ParseAc3SyncFrame(pFrame, cbFrame, &info) || info.channels == 0) return S_FALSE;
  WAVEFORMATEX& wfx = m_Format.wfx;
  m_iSoundFormat = kSoundFormatExHeader;
  wfx.wFormatTag = kWaveFormatDolbyAc3;
  wfx.nChannels = info.channels;
  wfx.nSamplesPerSec = info.sampleRate;
  wfx.wBitsPerSample = 16;
  SetDecodedRates();
  m_bExDescribed = true;
  return S_OK;
}

HRESULT AudioSampleEntry::ReadExMp3Frame(IAsyncReader* pReader, int64_t llPosition,
                                         uint32_t cbFrame) {
  if (m_bExDescribed) return S_OK;
  m_iSoundFormat = kSoundFormatMp3;
  WAVEFORMATEX& wfx = m_Format.wfx;
  wfx.nChannels = 2, wfx.nSamplesPerSec = 44100, wfx.wBitsPerSample = 16;
  SetDecodedRates();
  // The MPEG reader's window is the tag payload after a one-byte prefix.
  FlvTag tag;
  tag.DataSize = cbFrame + 1;
  const HRESULT hr = ReadMpeg1AudioHeader(pReader, llPosition, &tag, 0);
  if (hr == S_OK) m_bExDescribed = true;
  return hr == kStreamDataShort ? S_FALSE : hr;
}

HRESULT AudioSampleEntry::ReadExMultichannelConfig(const uint8_t* pBody, size_t cbBody) {
  ByteReader r(pBody, cbBody);
  uint8_t order = 0;
  uint8_t channels = 0;
  if (!r.GetU8(&order) || !r.GetU8(&channels)) return VFW_E_INVALID_FILE_FORMAT;
  uint32_t mask = 0;
  if (order == kExChannelOrderNative && !r.GetU32(&mask)) return VFW_E_INVALID_FILE_FORMAT;
  if (order == kExChannelOrderCustom && !r.Skip(channels)) return VFW_E_INVALID_FILE_FORMAT;
  m_uChannelOrder = order;
  m_dwChannelMask = mask;
  if (channels != 0) {
    m_Format.wfx.nChannels = channels;
    SetDecodedRates();
  }
  return S_OK;
}

HRESULT AudioSampleEntry::GetExMediaType(CMediaType* pmt) const {
  if (!m_bExDescribed) return VFW_E_UNSUPPORTED_AUDIO;
  GUID subtype;
  switch (m_dwFourCc) {
    case kExFourCcOpus:
      subtype = FourccGuid(kWaveFormatOpus);
      break;
    case kExFourCcFlac:
      subtype = FourccGuid(kWaveFormatFlac);
      break;
    case kExFourCcAc3:
      subtype = kSubtypeDolbyAc3;
      break;
    case kExFourCcEac3:
      subtype = kSubtypeDolbyDdPlus;
      break;
    default:
      return VFW_E_UNSUPPORTED_AUDIO;
  }
  ResetMediaType(pmt);
  pmt->SetType(&MEDIATYPE_Audio);
  pmt->SetSubtype(&subtype);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  const ULONG cbExtra = static_cast<ULONG>(std::min(m_ConfigBytes.Size(), 0xFFFF));
  BYTE* pb = pmt->AllocFormatBuffer(sizeof(WAVEFORMATEX) + cbExtra);
  if (pb == nullptr) return E_OUTOFMEMORY;
  WAVEFORMATEX wfx = m_Format.wfx;
  wfx.cbSize = static_cast<WORD>(cbExtra);
  std::memcpy(pb, &wfx, sizeof(wfx));
  if (cbExtra != 0) std::memcpy(pb + sizeof(wfx), m_ConfigBytes.Data(), cbExtra);
  pmt->bFixedSizeSamples = FALSE;
  return S_OK;
}

}  // namespace flvdmx
