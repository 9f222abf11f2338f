#pragma once

#include "cli/cli_context.h"

// `hivewise-cli machines`: every Windows machine of the user, as --prefix accepts them.
namespace hivewise::cli {

// `machines [--json]`.
int RunMachines(CliContext& ctx, bool json);

}  // namespace hivewise::cli
