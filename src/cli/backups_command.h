#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

// `hivewise-cli backups`: the backups area without the window. `list` prints the fix
// backups newest first, `show` an archive's items as the Restore Backup dialog lists
// them, `restore` puts items back, `remove` deletes an archive.
namespace hivewise::cli {

// `args` are the words after "backups".
int RunBackups(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
