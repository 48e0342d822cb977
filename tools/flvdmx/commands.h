// Each subcommand of the tool registers itself on the application; main only
// calls these.
#pragma once

#include <CLI/CLI.hpp>

namespace flvdmx::cli {

// Sets `*exit_code` when the subcommand runs.
void RegisterTagsCommand(CLI::App& app, int* exit_code);
void RegisterProbeCommand(CLI::App& app, int* exit_code);
void RegisterPacketsCommand(CLI::App& app, int* exit_code);
void RegisterDemuxCommand(CLI::App& app, int* exit_code);

}  // namespace flvdmx::cli
