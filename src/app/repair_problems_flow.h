#pragma once

#include <string>
#include <string_view>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "repair/repair_problems.h"
#include "scan/result_store.h"

// The "Repair Problems" button: what it asks before the repair runs and what it says
// afterwards.
namespace hivewise {

constexpr std::string_view kNoProblemsFoundText = "No Problems Found";
constexpr std::string_view kNoItemsCheckedText = "No Items Checked.";
constexpr std::string_view kAutoBackupNotice =
    "Hivewise will automatically backup any problems fixed before actually removing "
    "them.\nPress OK to proceed with backup and removal procedures.";
constexpr std::string_view kNoAutoBackupQuestion =
    "Auto Backup before Deletion is currently disabled.\nTo start removing items without "
    "backup press yes";

// The line added to the question before a repair: how many items it removes.
std::string RemovalCountLine(int count);

// The button's handler when no repair runs. Shows its messages through `prompts`; once
// the outcome is shown, the window's running flag is cleared and the section selection
// shown again.
RepairOutcome RepairSelectedProblems(Machine& machine, ResultStore& results, UserPrompts& prompts,
                                     const RepairControls& controls);

}  // namespace hivewise
