#pragma once

#include <string>

#include "cli/cli_context.h"

// `hivewise-cli backups`: the backups area without the window. `list` prints the fix
// backups newest first, `show` an archive's items as the Restore Backup dialog lists
// them, `restore` puts items back, `remove` deletes an archive.
namespace hivewise::cli {

// `backups list | show ARCHIVE | restore ARCHIVE (--items N,N,... | --all) [--yes]
//  | remove ARCHIVE [--yes]`.
struct BackupsOptions {
    enum class Action { List, Show, Restore, Remove };
    Action action = Action::List;
    std::string archive;  // an archive's file name as `backups list` prints it, or its path
    std::string items;    // restore --items: item numbers as `show` prints them
    bool all = false;     // restore --all
    bool yes = false;     // answers the questions of restore and remove
};

int RunBackups(CliContext& ctx, const BackupsOptions& options);

}  // namespace hivewise::cli
