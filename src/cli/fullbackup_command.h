#pragma once

#include <string>

#include "cli/cli_context.h"

namespace hivewise::cli {

// `hivewise-cli fullbackup create | list | restore ARCHIVE [--yes]`.
struct FullBackupOptions {
    enum class Action { Create, List, Restore };
    Action action = Action::List;
    std::string archive;  // restore: an archive's file name as `list` prints it, or its path
    bool yes = false;     // restore without asking
};

int RunFullBackup(CliContext& ctx, const FullBackupOptions& options);

}  // namespace hivewise::cli
