#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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
constexpr std::string_view kBackupNotWrittenText =
    "The backup archive could not be written. Nothing was removed.";

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
    // Why the repair did not start although findings were ticked.
    enum class Refusal { kNone, kWineRunning, kCannotSave };
    Refusal refused = Refusal::kNone;
    bool ran = false;  // the loop started
    bool aborted = false;
    bool backupFailed = false;  // the archive could not be written: nothing was removed
    int removed = 0;
    int queued = 0;       // files whose removal waits for the next start of Wine
    int notBackedUp = 0;  // kept in place because their backup failed
    int notRemoved = 0;   // removal failed
    // One line per item that failed, naming it.
    std::vector<std::string> failures;
    std::string archive;  // the fix backup written, when there is one
    std::string message;  // the final message shown
};

// The line added to the question before a repair: how many items it removes.
std::string RemovalCountLine(int count);

// The button's handler when no repair runs. Shows its messages through `prompts`.
RepairOutcome RepairSelectedProblems(Machine& machine, ResultStore& results, UserPrompts& prompts,
                                     const RepairControls& controls);

// Removes what one finding names; 1 when done, 0 when it failed or its section removes
// nothing.
int RemoveProblem(Machine& machine, const Problem& problem);

}  // namespace hivewise
