#include <cstdio>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "base/com_ptr.h"
#include "codecs.h"
#include "com_text.h"
#include "commands.h"
#include "diag/result_name.h"
#include "file_error.h"
#include "filter_session.h"
#include "pin_format.h"

namespace flvdmx::cli {

namespace {

using Json = nlohmann::ordered_json;

const char kProbeFooter[] =
    R"(Builds the graph file source -> Orvex FLV Demultiplexer and reports what
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
A file without a playable stream still prints the object, with a null
duration, no pins and {"error": {"problem", "result"}}.
Exit status: 0; 1 when the file cannot be opened, is not FLV or has no
playable stream (with a line on stderr naming the problem and its result
code).)";

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
  const CodecInfo* pCodec = FindCodecBySubtype(*mt.Subtype());
  j["codec"] = pCodec != nullptr ? Json(pCodec->pszWord) : Json(nullptr);
  const std::string fourcc = FourccText(*mt.Subtype());
  j["fourcc"] = fourcc.empty() ? Json(nullptr) : Json(fourcc);
  const DecodedFormat d = DecodeFormat(mt);
  for (const auto& [key, value] : d.fields.items()) j[key] = value;
  return j;
}

void PrintPinText(const OutputPinInfo& pin) {
  const CMediaType& mt = pin.mt;
  const CodecInfo* pCodec = FindCodecBySubtype(*mt.Subtype());
  const std::string fourcc = FourccText(*mt.Subtype());
  const DecodedFormat d = DecodeFormat(mt);
  std::printf("%s: %s", pin.name.c_str(), pCodec != nullptr ? pCodec->pszName : "unknown codec");
  if (!fourcc.empty()) std::printf(" (%s)", fourcc.c_str());
  if (!d.text.empty()) std::printf(", %s", d.text.c_str());
  std::printf("\n  major type   %s\n  subtype      %s\n  format type  %s, %lu bytes\n",
              GuidText(*mt.Type()).c_str(), GuidText(*mt.Subtype()).c_str(),
              GuidText(*mt.FormatType()).c_str(), static_cast<unsigned long>(mt.FormatLength()));
  std::printf("  samples      %s size, sample size %lu, %s\n",
              mt.IsFixedSize() ? "fixed" : "variable", static_cast<unsigned long>(mt.lSampleSize),
              mt.IsTemporalCompressed() ? "temporal compression" : "no temporal compression");
}

// The filter offers no pin for a stream it cannot play: a file with no other
// stream is still an FLV file, and --json says so in its usual shape.
bool IsNoPlayableStream(HRESULT hr) {
  return hr == VFW_E_UNSUPPORTED_AUDIO || hr == VFW_E_UNSUPPORTED_VIDEO ||
         hr == VFW_E_UNSUPPORTED_STREAM;
}

void PrintNoPlayableStreamJson(const std::string& file, const SessionError& error) {
  const Json j = {{"file", file},
                  {"duration", nullptr},
                  {"pins", Json::array()},
                  {"error", {{"problem", error.problem}, {"result", LookupResultName(error.hr)}}}};
  std::printf("%s\n", j.dump().c_str());
  std::fflush(stdout);
}

HRESULT GetDuration(FilterSession& session, LONGLONG* pllDuration) {
  ComPtr<IMediaSeeking> pSeeking;
  const HRESULT hr = session.GetAnySeeking(pSeeking.Put());
  if (FAILED(hr)) return hr;
  return pSeeking->GetDuration(pllDuration);
}

int RunProbe(const std::string& file, bool json) {
  FilterSession session;
  SessionError error;
  if (!session.Open(file, &error)) {
    if (json && IsNoPlayableStream(error.hr)) PrintNoPlayableStreamJson(file, error);
    ReportFileError(file, error.problem, error.hr);
    return 1;
  }
  LONGLONG llDuration = 0;
  const HRESULT hr = GetDuration(session, &llDuration);
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
