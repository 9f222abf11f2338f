#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

// `hivewise-cli update --check [--from URL]`: the window's update check, which only
// reports; it never starts the updater.
namespace hivewise::cli {

int RunUpdate(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
