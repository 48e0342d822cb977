#include <CLI/CLI.hpp>

#include "commands.h"
#include "platform/com.h"
#include "trace_options.h"

int main(int argc, char** argv) {
  CLI::App app{
      "flvdmx - inspect, check and extract FLV (Flash Video) files with the Orvex FLV "
      "Demultiplexer"};
  app.require_subcommand(1);
  int exit_code = 0;
  flvdmx::cli::TraceOptions trace;
  flvdmx::cli::AddTraceOptions(app, &trace);
  // The trace settings must be in place before the subcommand runs.
  app.parse_complete_callback([&trace] {
    if (!flvdmx::cli::ApplyTraceOptions(trace)) throw CLI::RuntimeError(2);
  });
  flvdmx::cli::RegisterTagsCommand(app, &exit_code);
  flvdmx::cli::RegisterProbeCommand(app, &exit_code);
  flvdmx::cli::RegisterPacketsCommand(app, &exit_code);
  flvdmx::cli::RegisterDemuxCommand(app, &exit_code);
  // The graph commands create COM objects (the allocators among them).
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    // Usage errors (unknown option, missing file, bad value) exit with 2, as
    // command-line tools do; help and version stay 0.
    flvdmx::cli::FinishTrace();
    return code == 0 ? 0 : 2;
  }
  flvdmx::cli::FinishTrace();
  return exit_code;
}
