#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "file_error.h"
#include "filter_session.h"
#include "platform/mediatypes.h"
#include "streams/audio_specific_config.h"

namespace flvdmx::cli {

namespace {

using Json = nlohmann::ordered_json;

const char kProbeFooter[] = R"(Builds the graph file source -> Orvex FLV Demultiplexer and reports what
the filter offers, as a decoder downstream would see it:
  duration   IMediaSeeking::GetDuration, in 100 ns units
  per pin    its name ("Video", "Audio"), the media type (major type, subtype,
             format type, the format block, fixed-size and temporal-compression
             flags, sample size) and the format block decoded: codec, picture
             size and frame duration, or channels, sample rate and bits.
--json prints one object:
  {"file", "duration", "pins": [{"name", "major", "subtype", "format_type",
   "format" (hex), "fixed_size", "temporal_compression", "sample_size",
   "codec", ...decoded fields}]}
Exit status: 0; 1 when the file cannot be opened, is not FLV or has no
playable stream (with a line on stderr naming the problem and its result
code).)";

struct CodecName {
  const GUID* pSubtype;
  const char* pszCodec;  // the JSON word
  const char* pszText;   // for people
};

const CodecName kCodecs[] = {
    {&MEDIASUBTYPE_avc1, "h264", "H.264"},
    {&MEDIASUBTYPE_hvc1, "hevc", "H.265"},
    {&MEDIASUBTYPE_S263, "sorenson_h263", "Sorenson H.263"},
    {&MEDIASUBTYPE_FSV1, "screen_video", "screen video"},
    {&MEDIASUBTYPE_FSV2, "screen_video_2", "screen video 2"},
    {&MEDIASUBTYPE_VP6F, "vp6", "VP6"},
    {&MEDIASUBTYPE_mp4a, "aac", "AAC"},
    {&MEDIASUBTYPE_MP3, "mp3", "MP3"},
    {&MEDIASUBTYPE_MPEG1AudioPayload, "mpeg_audio", "MPEG audio"},
    {&MEDIASUBTYPE_PCM, "pcm", "PCM"},
    {&MEDIASUBTYPE_NELL, "nellymoser", "Nellymoser"},
    {&MEDIASUBTYPE_spex, "speex", "Speex"},
};

const CodecName* FindCodec(const GUID& subtype) {
  for (const CodecName& codec : kCodecs)
    if (*codec.pSubtype == subtype) return &codec;
  return nullptr;
}

// The four characters of a FOURCC subtype, or "" for another identity.
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

// The decoded format block: fields for JSON, and one line for people.
struct Decoded {
  Json fields = Json::object();
  std::string text;
};

Decoded DecodeVideo(const CMediaType& mt, const CodecName* pCodec) {
  Decoded d;
  if (*mt.FormatType() != FORMAT_VideoInfo || mt.FormatLength() < sizeof(VIDEOINFOHEADER)) return d;
  VIDEOINFOHEADER vih;
  std::memcpy(&vih, mt.Format(), sizeof vih);
  const LONG width = vih.bmiHeader.biWidth;
  const LONG height = vih.bmiHeader.biHeight;
  d.fields["width"] = width;
  d.fields["height"] = height;
  d.fields["bit_count"] = vih.bmiHeader.biBitCount;
  d.fields["frame_duration"] = vih.AvgTimePerFrame;
  const double fps = vih.AvgTimePerFrame > 0 ? 1e7 / static_cast<double>(vih.AvgTimePerFrame) : 0.0;
  d.fields["frame_rate"] = vih.AvgTimePerFrame > 0 ? Json(fps) : Json(nullptr);

  char line[160];
  std::snprintf(line, sizeof line, "%ld x %ld, %u bits, frame duration %lld (%.3f frames/s)",
                static_cast<long>(width), static_cast<long>(height), vih.bmiHeader.biBitCount,
                static_cast<long long>(vih.AvgTimePerFrame), fps);
  d.text = line;

  // AVC and HEVC carry their decoder configuration box after the bitmap header.
  const ULONG cbConfig = mt.FormatLength() - sizeof(VIDEOINFOHEADER);
  if (pCodec != nullptr && (*pCodec->pSubtype == MEDIASUBTYPE_avc1 || *pCodec->pSubtype == MEDIASUBTYPE_hvc1)) {
    d.fields["config_size"] = cbConfig;
    const BYTE* pRecord = mt.Format() + sizeof(VIDEOINFOHEADER) + 8;
    if (*pCodec->pSubtype == MEDIASUBTYPE_avc1 && cbConfig >= 8 + 5) {
      d.fields["profile_idc"] = pRecord[1];
      d.fields["level_idc"] = pRecord[3];
      d.fields["nal_length_size"] = (pRecord[4] & 3) + 1;
      std::snprintf(line, sizeof line, ", profile %u, level %u.%u", pRecord[1], pRecord[3] / 10,
                    pRecord[3] % 10);
      d.text += line;
    } else if (cbConfig == 0) {
      d.text += ", no decoder configuration";
    }
  }
  return d;
}

Decoded DecodeAudio(const CMediaType& mt) {
  Decoded d;
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

  // AAC's own rate and channels are in its AudioSpecificConfig; the wave
  // format's fields come from the FLV flags byte, which always says 44 kHz
  // stereo for AAC.
  AudioSpecificConfig config;
  const ULONG cbExtra = std::min<ULONG>(wfx.cbSize, mt.FormatLength() - sizeof(WAVEFORMATEX));
  if (*mt.Subtype() == MEDIASUBTYPE_mp4a &&
      ParseAudioSpecificConfig(mt.Format() + sizeof(WAVEFORMATEX), cbExtra, &config)) {
    d.fields["aac_object_type"] = config.profile + 1;
    d.fields["aac_sample_rate"] = AacSamplingFrequency(config.samplingFrequencyIndex);
    d.fields["aac_channels"] = config.channelConfiguration;
    std::snprintf(line, sizeof line, "; AudioSpecificConfig: object type %u, %u Hz, channel configuration %u",
                  config.profile + 1, AacSamplingFrequency(config.samplingFrequencyIndex),
                  config.channelConfiguration);
    d.text += line;
  }
  return d;
}

Json PinJson(const OutputPinInfo& pin) {
  const CMediaType& mt = pin.mt;
  Json j = {{"name", pin.name},
            {"major", GuidText(*mt.Type())},
            {"subtype", GuidText(*mt.Subtype())},
            {"format_type", GuidText(*mt.FormatType())},
            {"format", Hex(mt.Format(), mt.FormatLength())},
            {"fixed_size", mt.IsFixedSize() != FALSE},
            {"temporal_compression", mt.IsTemporalCompressed() != FALSE},
            {"sample_size", mt.lSampleSize}};
  const CodecName* pCodec = FindCodec(*mt.Subtype());
  j["codec"] = pCodec != nullptr ? Json(pCodec->pszCodec) : Json(nullptr);
  const std::string fourcc = FourccText(*mt.Subtype());
  j["fourcc"] = fourcc.empty() ? Json(nullptr) : Json(fourcc);
  const Decoded d = *mt.Type() == MEDIATYPE_Video ? DecodeVideo(mt, pCodec) : DecodeAudio(mt);
  for (const auto& [key, value] : d.fields.items()) j[key] = value;
  return j;
}

void PrintPinText(const OutputPinInfo& pin) {
  const CMediaType& mt = pin.mt;
  const CodecName* pCodec = FindCodec(*mt.Subtype());
  const std::string fourcc = FourccText(*mt.Subtype());
  const Decoded d = *mt.Type() == MEDIATYPE_Video ? DecodeVideo(mt, pCodec) : DecodeAudio(mt);
  std::printf("%s: %s", pin.name.c_str(), pCodec != nullptr ? pCodec->pszText : "unknown codec");
  if (!fourcc.empty()) std::printf(" (%s)", fourcc.c_str());
  if (!d.text.empty()) std::printf(", %s", d.text.c_str());
  std::printf("\n  major type   %s\n  subtype      %s\n  format type  %s, %lu bytes\n",
              GuidText(*mt.Type()).c_str(), GuidText(*mt.Subtype()).c_str(),
              GuidText(*mt.FormatType()).c_str(), static_cast<unsigned long>(mt.FormatLength()));
  std::printf("  samples      %s size, sample size %lu, %s\n", mt.IsFixedSize() ? "fixed" : "variable",
              static_cast<unsigned long>(mt.lSampleSize),
              mt.IsTemporalCompressed() ? "temporal compression" : "no temporal compression");
}

int RunProbe(const std::string& file, bool json) {
  FilterSession session;
  SessionError error;
  if (!session.Open(file, &error)) {
    ReportFileError(file, error.problem, error.hr);
    return 1;
  }
  LONGLONG llDuration = 0;
  IMediaSeeking* pSeeking = nullptr;
  HRESULT hr = session.GetAnySeeking(&pSeeking);
  if (SUCCEEDED(hr)) {
    hr = pSeeking->GetDuration(&llDuration);
    pSeeking->Release();
  }
  if (FAILED(hr)) {
    ReportFileError(file, "cannot get the duration", hr);
    return 1;
  }

  if (json) {
    Json j = {{"file", file}, {"duration", llDuration}, {"pins", Json::array()}};
    for (const OutputPinInfo& pin : session.OutputPins()) j["pins"].push_back(PinJson(pin));
    std::printf("%s\n", j.dump().c_str());
  } else {
    std::printf("%s: duration %.3f s (%lld)\n", file.c_str(), static_cast<double>(llDuration) / 1e7,
                static_cast<long long>(llDuration));
    for (const OutputPinInfo& pin : session.OutputPins()) PrintPinText(pin);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

void RegisterProbeCommand(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand(
      "probe", "Connect an FLV file to the filter and report its output pins and duration");
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "FLV file")->required();
  cmd->add_flag("--json", *json, "Print one JSON object instead of text");
  cmd->footer(kProbeFooter);
  cmd->callback([file, json, exit_code] { *exit_code = RunProbe(*file, *json); });
}

}  // namespace flvdmx::cli
