// The options `packets` and `demux` share: which pins play, from where to
// where, at what rate, how many samples per pin. Checked by the command
// itself so that an option out of range gets the tool's one-line error with
// its result code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "filter_session.h"

namespace flvdmx::cli {

struct PlayOptions {
  std::optional<int64_t> llStartMs;
  std::optional<int64_t> llStopMs;
  std::optional<double> dRate;
  std::vector<std::string> pins;   // empty: every output pin
  std::optional<uint64_t> cCount;  // none: no limit
};

// --start, --stop, --rate, --pins, --count; with bRateAndCount false only the
// first three that make sense for writing files (--start, --stop, --pins).
void AddPlayOptions(CLI::App* cmd, PlayOptions* pOptions, bool bRateAndCount = true);

// The output pins named by --pins (matched without regard to case), in the
// filter's order, or every pin. False with *pError for a name the filter does
// not have.
bool SelectPins(const FilterSession& session, const std::vector<std::string>& names,
                std::vector<const OutputPinInfo*>* pPins, SessionError* pError);

// Checks the values, then applies --rate through SetRate and --start / --stop
// through SetPositions on the seeking pin, before playback (the sinks must be
// connected). False with *pError for a value out of range or refused.
bool ApplyPositions(FilterSession& session, const PlayOptions& options, SessionError* pError);

}  // namespace flvdmx::cli
