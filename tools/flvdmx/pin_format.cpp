#include "pin_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/byte_reader.h"
#include "platform/mediatypes.h"
#include "streams/audio_specific_config.h"

namespace flvdmx::cli {

namespace {

using Json = nlohmann::ordered_json;

// AVC and HEVC carry their decoder configuration box after the bitmap header:
// its size, and for AVC the profile, level and NAL length size of the record.
void DecodeConfiguration(const CMediaType& mt, DecodedFormat* pDecoded) {
  const bool bAvc = *mt.Subtype() == MEDIASUBTYPE_avc1;
  if (!bAvc && *mt.Subtype() != MEDIASUBTYPE_hvc1) return;
  const ULONG cbConfig = mt.FormatLength() - sizeof(VIDEOINFOHEADER);
  pDecoded->fields["config_size"] = cbConfig;
  ByteReader box(mt.Format() + sizeof(VIDEOINFOHEADER), cbConfig);
  uint8_t version = 0, profile = 0, compatibility = 0, level = 0, lengthSize = 0;
  if (bAvc && box.Skip(8) && box.GetU8(&version) && box.GetU8(&profile) &&
      box.GetU8(&compatibility) && box.GetU8(&level) && box.GetU8(&lengthSize)) {
    pDecoded->fields["profile_idc"] = profile;
    pDecoded->fields["level_idc"] = level;
    pDecoded->fields["nal_length_size"] = (lengthSize & 3) + 1;
    char line[64];
    std::snprintf(line, sizeof line, ", profile %u, level %u.%u", profile, level / 10, level % 10);
    pDecoded->text += line;
  } else if (cbConfig == 0) {
    pDecoded->text += ", no decoder configuration";
  }
}

// VIDEOINFOHEADER2 control flags: when the colour description is present,
// its upper 24 bits are the extended format past the sample format byte.
void DecodeControlFlags(const CMediaType& mt, DecodedFormat* pDecoded) {
  VIDEOINFOHEADER2 vih;
  std::memcpy(&vih, mt.Format(), sizeof vih);
  const DWORD flags = vih.dwControlFlags;
  pDecoded->fields["control_flags"] = flags;
  if ((flags & 0x80) == 0) return;  // AMCONTROL_COLORINFO_PRESENT
  const unsigned matrix = flags >> 15 & 7, primaries = flags >> 22 & 31, transfer = flags >> 27;
  pDecoded->fields["color_matrix"] = matrix;
  pDecoded->fields["color_primaries"] = primaries;
  pDecoded->fields["color_transfer"] = transfer;
  char line[96];
  std::snprintf(line, sizeof line, ", colour: matrix %u, primaries %u, transfer %u", matrix,
                primaries, transfer);
  pDecoded->text += line;
}

// The picture and frame duration of either video header; false for anything else.
bool VideoHeader(const CMediaType& mt, REFERENCE_TIME* ptFrame, BITMAPINFOHEADER* pbmi,
                 ULONG* pcbHeader) {
  if (*mt.FormatType() == FORMAT_VideoInfo && mt.FormatLength() >= sizeof(VIDEOINFOHEADER)) {
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.Format(), sizeof vih);
    *ptFrame = vih.AvgTimePerFrame;
    *pbmi = vih.bmiHeader;
    *pcbHeader = sizeof vih;
    return true;
  }
  if (*mt.FormatType() == FORMAT_VideoInfo2 && mt.FormatLength() >= sizeof(VIDEOINFOHEADER2)) {
    VIDEOINFOHEADER2 vih;
    std::memcpy(&vih, mt.Format(), sizeof vih);
    *ptFrame = vih.AvgTimePerFrame;
    *pbmi = vih.bmiHeader;
    *pcbHeader = sizeof vih;
    return true;
  }
  return false;
}

DecodedFormat DecodeVideo(const CMediaType& mt) {
  DecodedFormat d;
  REFERENCE_TIME tFrame = 0;
  BITMAPINFOHEADER bmi;
  ULONG cbHeader = 0;
  if (!VideoHeader(mt, &tFrame, &bmi, &cbHeader)) return d;
  const LONG width = bmi.biWidth;
  const LONG height = bmi.biHeight;
  d.fields["width"] = width;
  d.fields["height"] = height;
  d.fields["bit_count"] = bmi.biBitCount;
  d.fields["frame_duration"] = tFrame;
  const double fps = tFrame > 0 ? 1e7 / static_cast<double>(tFrame) : 0.0;
  d.fields["frame_rate"] = tFrame > 0 ? Json(fps) : Json(nullptr);
  char line[160];
  std::snprintf(line, sizeof line, "%ld x %ld, %u bits, frame duration %lld (%.3f frames/s)",
                static_cast<long>(width), static_cast<long>(height), bmi.biBitCount,
                static_cast<long long>(tFrame), fps);
  d.text = line;
  if (cbHeader == sizeof(VIDEOINFOHEADER)) {
    DecodeConfiguration(mt, &d);
  } else {
    // AV1, VP9, VP8: the SequenceStart record follows the header as carried.
    d.fields["config_size"] = mt.FormatLength() - cbHeader;
    DecodeControlFlags(mt, &d);
  }
  return d;
}

// AAC's AudioSpecificConfig as coded: the core object type, rate and
// channel configuration (the wave format has what a decoder puts out).
void DecodeAudioSpecificConfig(const CMediaType& mt, const WAVEFORMATEX& wfx,
                               DecodedFormat* pDecoded) {
  AudioSpecificConfig config;
  const ULONG cbExtra = std::min<ULONG>(wfx.cbSize, mt.FormatLength() - sizeof(WAVEFORMATEX));
  if (*mt.Subtype() != MEDIASUBTYPE_mp4a ||
      !ParseAudioSpecificConfig(mt.Format() + sizeof(WAVEFORMATEX), cbExtra, &config)) {
    return;
  }
  const uint32_t rate = AacSamplingFrequency(config.samplingFrequencyIndex);
  pDecoded->fields["aac_object_type"] = config.profile + 1;
  pDecoded->fields["aac_sample_rate"] = rate;
  pDecoded->fields["aac_channels"] = config.channelConfiguration;
  char line[160];
  std::snprintf(line, sizeof line,
                "; AudioSpecificConfig: object type %u, %u Hz, channel configuration %u",
                config.profile + 1, rate, config.channelConfiguration);
  pDecoded->text += line;
}

DecodedFormat DecodeAudio(const CMediaType& mt) {
  DecodedFormat d;
  if (*mt.FormatType() != FORMAT_WaveFormatEx || mt.FormatLength() < sizeof(WAVEFORMATEX)) return d;
  WAVEFORMATEX wfx;
  std::memcpy(&wfx, mt.Format(), sizeof wfx);
  d.fields["format_tag"] = wfx.wFormatTag;
  d.fields["channels"] = wfx.nChannels;
  d.fields["sample_rate"] = wfx.nSamplesPerSec;
  d.fields["bits"] = wfx.wBitsPerSample;
  d.fields["block_align"] = wfx.nBlockAlign;
  d.fields["avg_bytes_per_sec"] = wfx.nAvgBytesPerSec;
  d.fields["extra_size"] = wfx.cbSize;
  char line[160];
  std::snprintf(line, sizeof line, "%u channel%s, %lu Hz, %u bits, %lu bytes/s", wfx.nChannels,
                wfx.nChannels == 1 ? "" : "s", static_cast<unsigned long>(wfx.nSamplesPerSec),
                wfx.wBitsPerSample, static_cast<unsigned long>(wfx.nAvgBytesPerSec));
  d.text = line;
  DecodeAudioSpecificConfig(mt, wfx, &d);
  return d;
}

}  // namespace

DecodedFormat DecodeFormat(const CMediaType& mt) {
  return *mt.Type() == MEDIATYPE_Video ? DecodeVideo(mt) : DecodeAudio(mt);
}

std::string FourccText(const GUID& subtype) {
  const GUID base = FourccGuid(0);
  if (subtype.Data2 != base.Data2 || subtype.Data3 != base.Data3 ||
      std::memcmp(subtype.Data4, base.Data4, sizeof base.Data4) != 0) {
    return std::string();
  }
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(subtype.Data1 >> (8 * i));
    if (c < 0x20 || c > 0x7E) return std::string();
    text.push_back(c);
  }
  return text;
}

std::string Hex(const BYTE* p, ULONG cb) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size_t{cb} * 2);
  for (ULONG i = 0; i < cb; ++i) {
    text.push_back(kDigits[p[i] >> 4]);
    text.push_back(kDigits[p[i] & 15]);
  }
  return text;
}

}  // namespace flvdmx::cli
