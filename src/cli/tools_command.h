#pragma once

#include <string>
#include <vector>

#include "cli/cli_context.h"

// `hivewise-cli startup|bho|programs`: the system tools' managers without their windows.
namespace hivewise::cli {

// `startup|bho|programs list | remove NAME... | parked | restore (NAME... | --all)`.
struct ToolOptions {
    enum class Action { List, Remove, Parked, Restore };
    std::string tool;  // "startup", "bho" or "programs"
    Action action = Action::List;
    std::vector<std::string> names;  // the entries of remove and restore, as list prints them
    bool all = false;                // restore every parked entry
};

int RunToolCommand(CliContext& ctx, const ToolOptions& options);

}  // namespace hivewise::cli
