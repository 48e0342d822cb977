#include "play_options.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace flvdmx::cli {

namespace {

constexpr int64_t kUnitsPerMs = 10000;
// Beyond this a time in ms no longer fits a reference time.
constexpr int64_t kMaxMs = INT64_MAX / kUnitsPerMs;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

void AddPlayOptions(CLI::App* cmd, PlayOptions* pOptions, bool bRateAndCount) {
  cmd->add_option("--start", pOptions->llStartMs,
                  "Start position in ms (IMediaSeeking::SetPositions)");
  cmd->add_option("--stop", pOptions->llStopMs,
                  "Stop position in ms (IMediaSeeking::SetPositions)");
  cmd->add_option("--pins", pOptions->pins, "Output pins to play, e.g. Video,Audio (default: all)")
      ->delimiter(',');
  if (!bRateAndCount) return;
  cmd->add_option("--rate", pOptions->dRate, "Playback rate (IMediaSeeking::SetRate), above 0");
  cmd->add_option("--count", pOptions->cCount, "Stop after N samples per pin");
}

bool SelectPins(const FilterSession& session, const std::vector<std::string>& names,
                std::vector<const OutputPinInfo*>* pPins, SessionError* pError) {
  pPins->clear();
  for (const std::string& name : names) {
    bool bFound = false;
    for (const OutputPinInfo& pin : session.OutputPins())
      bFound = bFound || SameName(pin.name, name);
    if (bFound) continue;
    std::string have;
    for (const OutputPinInfo& pin : session.OutputPins())
      have += (have.empty() ? "" : ", ") + pin.name;
    *pError = {"--pins: no output pin named '" + name + "' (the file has " + have + ")",
               VFW_E_NOT_FOUND};
    return false;
  }
  for (const OutputPinInfo& pin : session.OutputPins()) {
    bool bWanted = names.empty();
    for (const std::string& name : names) bWanted = bWanted || SameName(pin.name, name);
    if (bWanted) pPins->push_back(&pin);
  }
  return true;
}

namespace {

// The values alone, before anything asks the filter. False with *pError.
bool CheckRanges(const PlayOptions& options, SessionError* pError) {
  const auto outOfRange = [pError](const std::string& problem) {
    *pError = {problem, E_INVALIDARG};
    return false;
  };
  if (options.cCount && *options.cCount == 0) return outOfRange("--count must be at least 1");
  if (options.llStartMs && (*options.llStartMs < 0 || *options.llStartMs > kMaxMs))
    return outOfRange("--start " + std::to_string(*options.llStartMs) + " is out of range");
  if (options.llStopMs && (*options.llStopMs < 0 || *options.llStopMs > kMaxMs))
    return outOfRange("--stop " + std::to_string(*options.llStopMs) + " is out of range");
  if (options.llStartMs && options.llStopMs && *options.llStopMs <= *options.llStartMs)
    return outOfRange("--stop must be after --start");
  if (options.dRate && !std::isfinite(*options.dRate))
    return outOfRange("--rate must be a finite number above 0");
  return true;
}

// --rate, then --start / --stop, on the seeking the application uses.
bool SetRateAndPositions(IMediaSeeking* pSeeking, const PlayOptions& options,
                         SessionError* pError) {
  if (options.dRate) {
    const HRESULT hr = pSeeking->SetRate(*options.dRate);
    if (FAILED(hr)) {
      *pError = {"--rate " + Number(*options.dRate) + " is refused (a rate must be above 0)", hr};
      return false;
    }
  }
  if (!options.llStartMs && !options.llStopMs) return true;
  LONGLONG llCurrent = options.llStartMs.value_or(0) * kUnitsPerMs;
  LONGLONG llStop = options.llStopMs.value_or(0) * kUnitsPerMs;
  const HRESULT hr = pSeeking->SetPositions(
      &llCurrent, options.llStartMs ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning,
      &llStop, options.llStopMs ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning);
  if (FAILED(hr)) {
    *pError = {"the positions are refused", hr};
    return false;
  }
  return true;
}

}  // namespace

bool ApplyPositions(FilterSession& session, const PlayOptions& options, SessionError* pError) {
  if (!CheckRanges(options, pError)) return false;
  if (!options.llStartMs && !options.llStopMs && !options.dRate) return true;
  ComPtr<IMediaSeeking> pSeeking;
  const HRESULT hr = session.GetSeeking(pSeeking.Put());
  if (FAILED(hr)) {
    *pError = {"the filter offers no seeking", hr};
    return false;
  }
  LONGLONG llDuration = 0;
  if (options.llStartMs && SUCCEEDED(pSeeking->GetDuration(&llDuration)) && llDuration > 0 &&
      *options.llStartMs * kUnitsPerMs > llDuration) {
    *pError = {"--start " + std::to_string(*options.llStartMs) +
                   " ms is beyond the end of the file (" +
                   std::to_string(llDuration / kUnitsPerMs) + " ms)",
               E_INVALIDARG};
    return false;
  }
  return SetRateAndPositions(pSeeking.Get(), options, pError);
}

}  // namespace flvdmx::cli
