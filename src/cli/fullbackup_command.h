#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

namespace hivewise::cli {

// `hivewise-cli fullbackup create | list | restore ARCHIVE [--yes]`.
int RunFullBackup(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
