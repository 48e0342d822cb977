// --trace FLAGS and --trace-file PATH: turn on the filter's trace output for
// one run of the tool. The product has no switch of its own; the tool sets
// the flags word of the filter copy linked into it (on Windows it then plays
// through that copy instead of the registered DLL, whose flags it cannot
// reach).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

namespace flvdmx::cli {

struct TraceOptions {
  std::optional<std::string> flags;  // "0x4B" or "75"
  std::optional<std::string> file;
};

void AddTraceOptions(CLI::App& app, TraceOptions* pOptions);

// Sets the flags and the file before any command runs. False with a message
// on stderr for flags that are not a number or a path that is refused.
bool ApplyTraceOptions(const TraceOptions& options);

// Writes out pending trace text at the end of the run.
void FinishTrace();

}  // namespace flvdmx::cli
