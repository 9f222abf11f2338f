#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

// `hivewise-cli repair`: a scan as `scan` does it, then the window's "Repair Problems"
// over every ticked finding, with the same fix backup and messages.
namespace hivewise::cli {

// `args` are the words after "repair": [--sections ID,ID,...] [--yes].
int RunRepair(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
