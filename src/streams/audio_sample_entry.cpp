#include "streams/audio_sample_entry.h"

#include <algorithm>
#include <cstring>

#include "baseclasses/mediatype.h"
#include "flvdefs/flv_ex_header.h"
#include "streams/audio_specific_config.h"

namespace flvdmx {

namespace {

// SoundRate (bits 3-2 of the flags byte); 5512, not 5500 or 5513.
constexpr uint32_t kSoundRates[4] = {5512, 11025, 22050, 44100};

bool IsSupportedSoundFormat(int32_t iSoundFormat) {
  switch (iSoundFormat) {
    case kSoundFormatPcmPlatform:
    case kSoundFormatMp3:
    case kSoundFormatPcmLittleEndian:
    case kSoundFormatNellymoser16k:
    case kSoundFormatNellymoser8k:
    case kSoundFormatNellymoser:
    case kSoundFormatAac:
    case kSoundFormatSpeex:
      return true;
    default:
      return false;
  }
}

// Window of a reader over the payload after the flags byte.
uint32_t PayloadAfterFlagsByte(const FlvTag& tag) {
  return tag.DataSize > 0 ? tag.DataSize - 1 : 0;
}

}  // namespace

AudioSampleEntry::AudioSampleEntry() : SampleEntry(kFlvTagAudio) {
  std::memset(&m_Format, 0, sizeof(m_Format));
}

HRESULT AudioSampleEntry::ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition,
                                            const FlvTag* pTag, uint32_t dwDuration) {
  if (pReader == nullptr || pTag == nullptr) return E_POINTER;
  uint8_t flags = 0;
  const HRESULT hr = pReader->SyncRead(llDataPosition, 1, &flags);
  if (hr != S_OK) return hr;

  // Recorded even when unsupported, so that GetMediaType refuses it too.
  m_iSoundFormat = flags >> 4;
  if (!IsSupportedSoundFormat(m_iSoundFormat)) return VFW_E_UNSUPPORTED_AUDIO;

  WAVEFORMATEX& wfx = m_Format.wfx;
  if (m_iSoundFormat == kSoundFormatPcmPlatform || m_iSoundFormat == kSoundFormatPcmLittleEndian) {
    wfx.wFormatTag = WAVE_FORMAT_PCM;
  } else if (m_iSoundFormat == kSoundFormatAac) {
    wfx.wFormatTag = WAVE_FORMAT_RAW_AAC1;
  }

  WORD channels = static_cast<WORD>((flags & 0x01) + 1);
  uint32_t rate = kSoundRates[(flags >> 2) & 0x03];
  WORD bits = (flags & 0x02) ? 16 : 8;
  switch (m_iSoundFormat) {
    case kSoundFormatNellymoser16k:
    case kSoundFormatSpeex:
      channels = 1, rate = 16000, bits = 16;
      break;
    case kSoundFormatNellymoser8k:
      channels = 1, rate = 8000, bits = 16;
      break;
    case kSoundFormatNellymoser:
      channels = 1, bits = 16;
      break;
    default:
      break;
  }
  wfx.nChannels = channels;
  wfx.nSamplesPerSec = rate;
  wfx.wBitsPerSample = bits;
  wfx.nBlockAlign = static_cast<WORD>(bits * channels / 8);
  // For AAC this is the rate of the decoded PCM, not the coded bit rate.
  wfx.nAvgBytesPerSec = uint32_t{bits} * channels * rate / 8;
  wfx.cbSize = 0;

  if (m_iSoundFormat == kSoundFormatMp3)
    return ReadMpeg1AudioHeader(pReader, llDataPosition + 1, pTag, dwDuration);
  if (m_iSoundFormat == kSoundFormatAac)
    return ReadAacHeader(pReader, llDataPosition + 1, pTag, dwDuration);
  return S_OK;
}

HRESULT AudioSampleEntry::ReadAacHeader(IAsyncReader* pReader, int64_t llPosition,
                                        const FlvTag* pTag, uint32_t dwDuration) {
  if (pTag == nullptr) return E_POINTER;
  StreamWindow window;
  HRESULT hr = window.Init(pReader, llPosition, PayloadAfterFlagsByte(*pTag));
  if (hr != S_OK) return hr;
  // The AudioSpecificConfig must fit the 20 bytes behind the two header bytes.
  if (pTag->DataSize > 2 + 20) return S_FALSE;
  uint32_t packetType = 0;
  hr = window.ParseBits(
      [&packetType](BitReader& r) { return r.ReadBits(8, &packetType) ? S_OK : kStreamDataShort; });
  if (hr != S_OK) return hr;
  if (packetType != kFlvPacketSequenceHeader) return S_FALSE;
  // DataSize is at least 2 here: the packet type byte was inside the window.
  m_Format.wfx.cbSize = static_cast<WORD>(pTag->DataSize - 2);
  hr = window.Fetch(1u + m_Format.wfx.cbSize);
  // A SyncRead that failed still leaves what it delivered.
  if (m_Format.wfx.cbSize != 0 && window.BytesReadInto() >= 1u + m_Format.wfx.cbSize)
    std::memcpy(m_Format.ext.abExtra, window.Data() + 1, m_Format.wfx.cbSize);
  if (hr == S_OK) TakeRateAndChannelsFromConfig();
  return hr;
}

void AudioSampleEntry::TakeRateAndChannelsFromConfig() {
  WAVEFORMATEX& wfx = m_Format.wfx;
  AudioSpecificConfig config;
  if (!ParseAudioSpecificConfig(m_Format.ext.abExtra, wfx.cbSize, &config)) return;
  if (config.outputSampleRate != 0) wfx.nSamplesPerSec = config.outputSampleRate;
  if (config.outputChannels != 0) wfx.nChannels = config.outputChannels;
  // The decoded PCM's block and byte rate, as for the flags' values.
  wfx.nBlockAlign = static_cast<WORD>(wfx.wBitsPerSample * wfx.nChannels / 8);
  wfx.nAvgBytesPerSec = uint32_t{wfx.nBlockAlign} * wfx.nSamplesPerSec;
}

HRESULT AudioSampleEntry::GetAudioSubtype(GUID* pSubtype) const {
  switch (m_iSoundFormat) {
    case kSoundFormatPcmPlatform:
    case kSoundFormatPcmLittleEndian:
      *pSubtype = MEDIASUBTYPE_PCM;
      return S_OK;
    case kSoundFormatMp3:
      *pSubtype = m_Format.wfx.wFormatTag == WAVE_FORMAT_MPEG ? FourccGuid(WAVE_FORMAT_MPEG)
                                                              : FourccGuid(WAVE_FORMAT_MPEGLAYER3);
      return S_OK;
    case kSoundFormatNellymoser16k:
    case kSoundFormatNellymoser8k:
    case kSoundFormatNellymoser:
      *pSubtype = MEDIASUBTYPE_NELL;
      return S_OK;
    case kSoundFormatAac:
      *pSubtype = MEDIASUBTYPE_mp4a;
      return S_OK;
    case kSoundFormatSpeex:
      *pSubtype = MEDIASUBTYPE_spex;
      return S_OK;
    default:
      return VFW_E_UNSUPPORTED_AUDIO;
  }
}

HRESULT AudioSampleEntry::GetMediaType(int iPosition, CMediaType* pmt) {
  if (pmt == nullptr) return E_POINTER;
  if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
  if (IsEnhanced() && m_iSoundFormat == kSoundFormatExHeader) return GetExMediaType(pmt);
  GUID subtype;
  const HRESULT hr = GetAudioSubtype(&subtype);
  if (FAILED(hr)) return hr;
  if (m_iSoundFormat == kSoundFormatMp3) return GetMpegAudioMediaType(pmt);

  ResetMediaType(pmt);
  pmt->SetType(&MEDIATYPE_Audio);
  pmt->SetSubtype(&subtype);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  const ULONG cbFormat =
      sizeof(WAVEFORMATEX) + std::min<ULONG>(m_Format.wfx.cbSize, kAudioExtraSize);
  if (!pmt->SetFormat(reinterpret_cast<const BYTE*>(&m_Format), cbFormat)) return E_OUTOFMEMORY;
  if (m_Format.wfx.nAvgBytesPerSec != 0) {
    pmt->lSampleSize = m_Format.wfx.nAvgBytesPerSec;
    pmt->bFixedSizeSamples = TRUE;
  } else {
    pmt->bFixedSizeSamples = FALSE;
  }
  return S_OK;
}

HRESULT AudioSampleEntry::GetMpegAudioMediaType(CMediaType* pmt) const {
  ResetMediaType(pmt);
  pmt->SetType(&MEDIATYPE_Audio);
  pmt->SetFormatType(&FORMAT_WaveFormatEx);
  pmt->bTemporalCompression = TRUE;
  const bool bLayer12 = m_Format.wfx.wFormatTag == WAVE_FORMAT_MPEG;
  const GUID subtype = FourccGuid(bLayer12 ? WAVE_FORMAT_MPEG : WAVE_FORMAT_MPEGLAYER3);
  pmt->SetSubtype(&subtype);
  const ULONG cbFormat = bLayer12 ? sizeof(MPEG1WAVEFORMAT) : sizeof(MPEGLAYER3WAVEFORMAT);
  if (!pmt->SetFormat(reinterpret_cast<const BYTE*>(&m_Format), cbFormat)) return E_OUTOFMEMORY;
  return S_OK;
}

uint32_t AudioSampleEntry::GetMaxSampleSize() {
  // Enhanced codecs' frames (FLAC above all) are not bounded by a byte rate.
  const uint32_t floor =
      IsEnhanced() ? std::max(kAudioSampleFloor, kMinExAudioSampleSize) : kAudioSampleFloor;
  return FitToTags(m_Format.wfx.nAvgBytesPerSec, floor);
}

}  // namespace flvdmx
