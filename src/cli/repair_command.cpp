#include "cli/repair_command.h"

#include <atomic>

#include "app/repair_problems_flow.h"
#include "cli/cli_prompts.h"
#include "cli/exit_status.h"
#include "cli/scan_command.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/sample_machine.h"
#include "scan/result_store.h"
#include "scan/scan_driver.h"

namespace hivewise::cli {
int RunRepair(CliContext& ctx, const RepairOptions& options) {
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, {}, WhileWineRuns::Refuse, &wineRunning);
    if (!machine) return wineRunning ? kExitWineRunning : kExitFailed;
    std::string error;
    if (!InstallProgram(*machine, RunningExecutable(), &error)) {
        PrintError(ctx.err, "Warning: " + error);
    }
    ResultStore results;
    ScanDriver driver(*machine, results);
    ScanMachine(*machine, options.sections, driver);
    ctx.out << (driver.Aborted() ? kScanAbortedText : kScanCompletedMessage)
            << ". Problems Found : " << results.Total() << '\n';
    if (driver.Aborted()) return kExitFailed;

    CliPrompts prompts(ctx, options.yes);
    // Ctrl-C is the window's "Abort": the run stops before its next finding, and a Ctrl-C
    // before the first one (at the question, say) stops it before anything is touched.
    std::atomic<int> running{1};
    RepairOutcome outcome;
    {
        InterruptGuard guard(running);
        RepairControls controls;
        controls.running = [&running] { return running.load() != 0; };
        controls.setRunning = [&running](bool on) {
            running.store(on && !InterruptGuard::Interrupted() ? 1 : 0);
        };
        outcome = RepairSelectedProblems(*machine, results, prompts, controls);
        if (InterruptGuard::Interrupted() && outcome.ran) outcome.aborted = true;
    }
    if (!outcome.archive.empty()) ctx.out << "Backup: " << outcome.archive << '\n';
    for (const std::string& failure : outcome.failures)
        PrintError(ctx.err, failure);

    Machine::SaveResult saved = machine->Flush();
    if (!saved.ok) {
        PrintError(ctx.err, "The registry changes could not be saved: " +
                                (saved.error.empty() ? std::string("unknown error") : saved.error));
        return WineServerRunning(machine->PrefixDir()) ? kExitWineRunning : kExitFailed;
    }
    if (outcome.refused == RepairOutcome::Refusal::kWineRunning) return kExitWineRunning;
    if (!outcome.ran) return results.Total() == 0 ? kExitDone : kExitFailed;
    if (outcome.backupFailed) return kExitFailed;
    bool anyDone = outcome.removed + outcome.queued > 0;
    bool anyFailed = outcome.notBackedUp + outcome.notRemoved > 0;
    if (!anyFailed && !outcome.aborted) return kExitDone;
    return anyDone ? kExitPartial : kExitFailed;
}

}  // namespace hivewise::cli
