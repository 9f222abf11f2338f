#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

// `hivewise-cli startup|bho|programs`: the system tools' managers without their windows.
namespace hivewise::cli {

// `tool` is "startup", "bho" or "programs"; `args` the words after it:
// list | remove NAME... | parked | restore (NAME... | --all).
int RunToolCommand(CliContext& ctx, const std::string& tool, const std::vector<std::string>& args);

}  // namespace hivewise::cli
