// AudioSampleEntry::ReadMpeg1AudioHeader: the MPEG audio frame header
// (ISO/IEC 11172-3) at the start of an MP3 tag's payload.
#include <algorithm>
#include <cstring>

#include "diag/trace.h"
#include "streams/audio_sample_entry.h"

namespace flvdmx {

namespace {

// Bit rates in kbit/s by ID (0 the half and quarter rates, 1 MPEG-1), layer
// (I, II, III) and bitrate_index 0-14. Index 0 is free format.
constexpr uint16_t kBitRatesKbps[2][3][15] = {
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    },
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    },
};

// By ID (0 the half rates, 1 MPEG-1; 2 the quarter rates of MPEG-2.5) and
// sampling_frequency 0-2.
constexpr uint32_t kSampleRates[3][3] = {
    {22050, 24000, 16000}, {44100, 48000, 32000}, {11025, 12000, 8000}};

// fwHeadMode by mode: stereo, joint stereo, dual channel, single channel.
constexpr WORD kHeadModes[4] = {ACM_MPEG_STEREO, ACM_MPEG_JOINTSTEREO, ACM_MPEG_DUALCHANNEL,
                                ACM_MPEG_SINGLECHANNEL};

constexpr uint32_t kLayerIII = 1;
[[maybe_unused]] constexpr uint32_t kLayerII = 2;  // no check needs it
constexpr uint32_t kLayerI = 3;

struct MpegAudioFrameHeader {
  uint32_t syncword = 0;  // not compared; its last bit 0 with ID 0 is MPEG-2.5
  uint32_t ID = 0;
  uint32_t layer = 0;
  uint32_t protection_bit = 0;
  uint32_t bitrate_index = 0;
  uint32_t sampling_frequency = 0;
  uint32_t padding_bit = 0;
  uint32_t private_bit = 0;
  uint32_t mode = 0;
  uint32_t mode_extension = 0;
  uint32_t copyright = 0;
  uint32_t original_copy = 0;
  uint32_t emphasis = 0;
};

// Reads the header fields in order, stopping at the first field that is
// invalid (layer 0, bitrate_index 15, sampling_frequency 3).
HRESULT ReadFrameHeader(BitReader& r, MpegAudioFrameHeader* h) {
  if (!r.ReadBits(12, &h->syncword) || !r.ReadBits(1, &h->ID) || !r.ReadBits(2, &h->layer))
    return kStreamDataShort;
  if (h->layer == 0) return kStreamDataShort;
  if (!r.ReadBits(1, &h->protection_bit) || !r.ReadBits(4, &h->bitrate_index))
    return kStreamDataShort;
  if (h->bitrate_index == 15) return kStreamDataShort;
  if (!r.ReadBits(2, &h->sampling_frequency)) return kStreamDataShort;
  if (h->sampling_frequency == 3) return kStreamDataShort;
  const struct {
    int bits;
    uint32_t* field;
  } rest[] = {{1, &h->padding_bit},    {1, &h->private_bit}, {2, &h->mode},
              {2, &h->mode_extension}, {1, &h->copyright},   {1, &h->original_copy},
              {2, &h->emphasis}};
  for (const auto& f : rest)
    if (!r.ReadBits(f.bits, f.field)) return kStreamDataShort;
  return S_OK;
}

uint32_t SampleRate(const MpegAudioFrameHeader& h) {
  const uint32_t row = h.ID == 0 && (h.syncword & 1) == 0 ? 2 : h.ID;
  return kSampleRates[row][h.sampling_frequency];
}

// Layer III: the bit rate the tag's size and play time show, when known,
// replaces the header's.
uint32_t ObservedBitRate(uint32_t tableRate, uint32_t dataSize, uint32_t dwDuration) {
  if (dwDuration == 0) return tableRate;
  // Bits of the payload after the flags byte over the time the tag plays.
  // DataSize is at least 5 here, and the 64-bit product cannot wrap.
  const uint64_t observed = (uint64_t{dataSize} * 8000 - 8000) / dwDuration;
  const uint32_t observedRate = static_cast<uint32_t>(std::min<uint64_t>(observed, 0x7FFFFFFF));
  if (observedRate == tableRate) return tableRate;
  Trace("\n(FLVDmx)ReadMpeg1AudioHeader: bitrate was corrected from %dbps to %dbps!",
        static_cast<int>(tableRate), static_cast<int>(observedRate));
  return observedRate;
}

void FillLayer3Format(uint32_t rate, AudioFormatBlock* f) {
  WAVEFORMATEX& wfx = f->wfx;
  wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  wfx.nAvgBytesPerSec = rate / 8;
  wfx.nBlockAlign = 1;
  wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  f->mp3.wID = MPEGLAYER3_ID_MPEG;
  f->mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  f->mp3.nBlockSize = 1152;
  f->mp3.nFramesPerBlock = 1;
  f->mp3.nCodecDelay = 1393;
}

void FillLayer12Format(const MpegAudioFrameHeader& h, uint32_t tableRate, uint32_t sampleRate,
                       AudioFormatBlock* f) {
  WAVEFORMATEX& wfx = f->wfx;
  MPEG1WAVEFORMAT& mpeg = f->mpeg1;
  mpeg.fwHeadLayer = h.layer == kLayerI ? ACM_MPEG_LAYER1 : ACM_MPEG_LAYER2;
  mpeg.dwHeadBitrate = tableRate;
  mpeg.fwHeadMode = kHeadModes[h.mode];
  mpeg.fwHeadModeExt = static_cast<WORD>(1u << h.mode_extension);
  mpeg.wHeadEmphasis = static_cast<WORD>(h.emphasis);
  mpeg.fwHeadFlags = static_cast<WORD>(
      ACM_MPEG_ID_MPEG1 | (h.protection_bit ? ACM_MPEG_PROTECTIONBIT : 0) |
      (h.original_copy ? ACM_MPEG_ORIGINALHOME : 0) | (h.copyright ? ACM_MPEG_COPYRIGHT : 0) |
      (h.private_bit ? ACM_MPEG_PRIVATEBIT : 0));
  mpeg.dwPTSLow = 0;
  mpeg.dwPTSHigh = 0;
  wfx.wFormatTag = WAVE_FORMAT_MPEG;
  wfx.nAvgBytesPerSec = tableRate / 8;
  wfx.cbSize = sizeof(MPEG1WAVEFORMAT) - sizeof(WAVEFORMATEX);
  if (tableRate == 0) {
    wfx.nBlockAlign = 1;
  } else if (h.layer == kLayerI) {
    // Layer I frames are counted in 4-byte slots; padding is not counted.
    wfx.nBlockAlign = static_cast<WORD>(tableRate * 12 / sampleRate * 4);
  } else {
    wfx.nBlockAlign = static_cast<WORD>(tableRate * 144 / sampleRate);
  }
}

}  // namespace

HRESULT AudioSampleEntry::ReadMpeg1AudioHeader(IAsyncReader* pReader, int64_t llPosition,
                                               const FlvTag* pTag, uint32_t dwDuration) {
  if (pTag == nullptr) return E_POINTER;
  StreamWindow window;
  HRESULT hr = window.Init(pReader, llPosition, pTag->DataSize > 0 ? pTag->DataSize - 1 : 0);
  if (hr != S_OK) return hr;
  MpegAudioFrameHeader h;
  hr = window.ParseBits([&h](BitReader& r) {
    h = MpegAudioFrameHeader();
    return ReadFrameHeader(r, &h);
  });
  if (hr != S_OK) return hr;

  const uint32_t tableRate =
      uint32_t{kBitRatesKbps[h.ID][kLayerI - h.layer][h.bitrate_index]} * 1000;
  const uint32_t sampleRate = SampleRate(h);
  const WORD channels = h.mode == 3 ? 1 : 2;

  std::memset(&m_Format, 0, sizeof(m_Format));
  WAVEFORMATEX& wfx = m_Format.wfx;
  wfx.nChannels = channels;
  wfx.nSamplesPerSec = sampleRate;
  wfx.wBitsPerSample = 0;

  if (h.layer == kLayerIII) {
    FillLayer3Format(ObservedBitRate(tableRate, pTag->DataSize, dwDuration), &m_Format);
  } else {
    FillLayer12Format(h, tableRate, sampleRate, &m_Format);
  }
  return S_OK;
}

}  // namespace flvdmx
