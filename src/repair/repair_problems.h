#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/machine/machine.h"
#include "scan/problem.h"
#include "scan/result_store.h"
#include "scan/user_prompts.h"

// "Repair Problems": every ticked finding is saved into a fix backup and then removed by
// its section's rule (a key, a value or a file).
namespace hivewise {

constexpr std::string_view kNoProblemsFoundText = "No Problems Found";
constexpr std::string_view kNoItemsCheckedText = "No Items Checked.";
constexpr std::string_view kAutoBackupNotice =
    "Hivewise will automatically backup any problems fixed before actually removing "
    "them.\nPress OK to proceed with backup and removal procedures.";
constexpr std::string_view kNoAutoBackupQuestion =
    "Auto Backup before Deletion is currently disabled.\nTo start removing items without "
    "backup press yes";
constexpr std::string_view kSelectedProblemsFixedText = "Selected Problems Fixed";
constexpr std::string_view kSystemRepairAbortedText = "System Repair Aborted";
constexpr std::string_view kBackupNotCreatedText =
    "Hivewise could not create a backup archive. Nothing was removed.";

// What the repair needs of the window that runs it. Empty functions do nothing.
struct RepairControls {
    // The repair-running flag: set while the loop runs; "Abort" clears it.
    std::function<bool()> running{};
    std::function<void(bool)> setRunning{};
    std::function<void(int maximum)> setProgressRange{};
    std::function<void()> stepProgress{};
    // Lets at most ten waiting window events through, so that "Abort" is seen.
    std::function<void()> pumpEvents{};
    // Back to the section-selection view (the button reads "Repair Problems" again).
    std::function<void()> showSectionSelection{};
};

struct RepairOutcome {
    bool ran = false;  // the loop started
    bool aborted = false;
    int removed = 0;
    int notBackedUp = 0;  // kept in place because their backup failed
    int notRemoved = 0;   // removal failed
    std::string archive;  // the fix backup written, when there is one
    std::string message;  // the final message shown
};

// The button's handler when no repair runs. Shows its messages through `prompts`.
RepairOutcome RepairSelectedProblems(Machine& machine, ResultStore& results, UserPrompts& prompts,
                                     const RepairControls& controls);

// Removes what one finding names; 1 when done, 0 when it failed or its section removes
// nothing.
int RemoveProblem(Machine& machine, const Problem& problem);

}  // namespace hivewise
