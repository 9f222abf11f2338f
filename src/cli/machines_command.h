#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

// `hivewise-cli machines`: every Windows machine of the user, as --prefix accepts them.
namespace hivewise::cli {

// `args` are the words after "machines": [--json].
int RunMachines(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
