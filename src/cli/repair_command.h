#pragma once

#include <optional>

#include "cli/cli_context.h"
#include "cli/scan_command.h"

// `hivewise-cli repair`: a scan as `scan` does it, then the window's "Repair Problems"
// over every ticked finding, with the same fix backup and messages.
namespace hivewise::cli {

// `repair [--sections ID,ID,...] [--yes]`.
struct RepairOptions {
    std::optional<SectionTicks> sections;  // without it, the ticks of the settings
    bool yes = false;                      // answers the repair's questions
};

int RunRepair(CliContext& ctx, const RepairOptions& options);

}  // namespace hivewise::cli
