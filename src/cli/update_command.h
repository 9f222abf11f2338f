#pragma once

#include <string>

#include "cli/cli_context.h"

// `hivewise-cli update --check [--from URL]`: the window's update check, which only
// reports; it never starts the updater.
namespace hivewise::cli {

// `from` is the version page to ask; empty for the update server's.
int RunUpdate(CliContext& ctx, const std::string& from);

}  // namespace hivewise::cli
