#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{
      "flvdmx - inspect, check and extract FLV (Flash Video) files with the Orvex FLV "
      "Demultiplexer"};
  app.require_subcommand(1);
  int exit_code = 0;
  flvdmx::cli::RegisterTagsCommand(app, &exit_code);
  CLI11_PARSE(app, argc, argv);
  return exit_code;
}
