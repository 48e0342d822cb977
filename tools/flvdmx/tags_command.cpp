#include <string>

#include "commands.h"

namespace flvdmx::cli {

void RegisterTagsCommand(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand("tags", "Walk the tag chain of an FLV file, one line per tag");
  auto file = std::make_shared<std::string>();
  cmd->add_option("FILE", *file, "FLV file")->required();
  cmd->callback([file, exit_code] { *exit_code = 1; });
}

}  // namespace flvdmx::cli
