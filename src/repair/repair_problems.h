#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"
#include "scan/problem.h"
#include "scan/result_store.h"

// "Repair Problems": every ticked finding is saved into a fix backup and then removed by
// its section's rule (a key, a value or a file).
namespace hivewise {

constexpr std::string_view kSelectedProblemsFixedText = "Selected Problems Fixed";
constexpr std::string_view kSystemRepairAbortedText = "System Repair Aborted";
constexpr std::string_view kBackupNotCreatedText =
    "Hivewise could not create a backup archive. Nothing was removed.";
constexpr std::string_view kBackupNotWrittenText =
    "The backup archive could not be written. Nothing was removed.";

// What the repair needs of the window that runs it. Empty functions do nothing.
struct RepairControls {
    // The repair-running flag: set when the loop starts; "Abort" clears it. The window
    // that ran the repair clears it once it has shown the outcome.
    std::function<bool()> running{};
    std::function<void(bool)> setRunning{};
    std::function<void(int maximum)> setProgressRange{};
    std::function<void()> stepProgress{};
    // Lets at most ten waiting window events through, so that "Abort" is seen.
    std::function<void()> pumpEvents{};
    // Back to the section-selection view (the button reads "Repair Problems" again);
    // called by the window once it has shown the outcome.
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

// What a repair of the ticked findings would do, known before anything is asked.
struct RepairPlan {
    int found = 0;      // findings in the results
    int checked = 0;    // of them, the ticked ones
    int removable = 0;  // of those, the ones whose section removes something
    RepairOutcome::Refusal refused = RepairOutcome::Refusal::kNone;
    std::string refusal;   // why it would not start, as the user reads it
    bool backupOn = true;  // the setting "Auto Backup before Deletion"
};
// Stops at the first reason not to repair: nothing found, nothing ticked, then the
// prefix could not be saved afterwards.
RepairPlan PlanRepair(Machine& machine, const ResultStore& results);

// Saves every ticked finding into a fix backup (when the plan's backup is on) and then
// removes it. `plan` is PlanRepair's, with ticked findings and no refusal. The outcome's
// message is the final one to show; `ran` says whether the loop started.
RepairOutcome RepairCheckedProblems(Machine& machine, ResultStore& results, const RepairPlan& plan,
                                    const RepairControls& controls);

// Removes what one finding names; 1 when done, 0 when it failed or its section removes
// nothing.
int RemoveProblem(Machine& machine, const Problem& problem);

}  // namespace hivewise
