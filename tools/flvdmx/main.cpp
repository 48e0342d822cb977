#include <CLI/CLI.hpp>

#include "commands.h"
#include "platform/com.h"

int main(int argc, char** argv) {
  CLI::App app{
      "flvdmx - inspect, check and extract FLV (Flash Video) files with the Orvex FLV "
      "Demultiplexer"};
  app.require_subcommand(1);
  int exit_code = 0;
  flvdmx::cli::RegisterTagsCommand(app, &exit_code);
  flvdmx::cli::RegisterProbeCommand(app, &exit_code);
  flvdmx::cli::RegisterPacketsCommand(app, &exit_code);
  flvdmx::cli::RegisterDemuxCommand(app, &exit_code);
  // The graph commands create COM objects (the allocators among them).
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CLI11_PARSE(app, argc, argv);
  return exit_code;
}
