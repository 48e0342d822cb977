// The step `packets` and `demux` share before playback: open the file in the
// filter session, pick the output pins --pins names, connect a sink of the
// command's to each of them and apply --start, --stop and --rate. Every
// failure is reported with the tool's one line on stderr (ReportFileError);
// the command then exits with 1.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "filter_session.h"
#include "play_options.h"

namespace flvdmx::cli {

// Opens `file` in *pSession and selects the pins options.pins names (every
// output pin when none). False once the failure is reported.
bool OpenAndSelectPins(const std::string& file, const PlayOptions& options, FilterSession* pSession,
                       std::vector<const OutputPinInfo*>* pPins);

// A command's sink for one output pin. The command holds the reference.
struct SinkInput {
  IBaseFilter* pFilter = nullptr;
  IPin* pInput = nullptr;
};
// Makes the sink for one pin: false with *pError when it cannot.
using MakeSink =
    std::function<bool(const OutputPinInfo& pin, SinkInput* pSink, SessionError* pError)>;
// The problem reported when a pin's sink cannot be connected.
using ConnectProblem = std::function<std::string(const OutputPinInfo& pin)>;

// Connects a sink from makeSink to each pin in order, then applies the
// positions. False once the first failure is reported.
bool ConnectSinks(const std::string& file, FilterSession& session,
                  const std::vector<const OutputPinInfo*>& pins, const PlayOptions& options,
                  const MakeSink& makeSink, const ConnectProblem& connectProblem);

}  // namespace flvdmx::cli
