#include "cli/repair_command.h"

#include <atomic>
#include <chrono>

#include "app/repair_problems_flow.h"
#include "cli/cli_prompts.h"
#include "cli/exit_status.h"
#include "cli/scan_command.h"
#include "cli/terminal_progress.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/sample_machine.h"
#include "platform/machine/text.h"
#include "report/json_writer.h"
#include "scan/result_store.h"
#include "scan/scan_driver.h"

namespace hivewise::cli {
namespace {

// What the repair did, for --json: what it found, the archive that saved the items, how
// many went, and each item that failed.
void PrintJson(std::ostream& out, const ResultStore& results, const RepairOutcome& outcome) {
    JsonWriter json(out);
    json.BeginObject();
    json.Key("problemsFound").Number(results.Total());
    json.Key("aborted").Bool(outcome.aborted);
    json.Key("archive");
    if (outcome.archive.empty()) {
        json.Null();
    } else {
        json.Text(outcome.archive);
    }
    json.Key("removed").Number(outcome.removed);
    json.Key("queued").Number(outcome.queued);
    json.Key("failed").BeginArray();
    for (const std::string& failure : outcome.failures)
        json.Text(failure);
    json.EndArray();
    json.EndObject();
}

// The repair's messages and questions start on a line of their own, not after the
// progress line.
class RepairPrompts : public CliPrompts {
  public:
    RepairPrompts(CliContext& ctx, bool answerYes, TerminalProgress& progress)
        : CliPrompts(ctx, answerYes), progress_(progress) {}
    void Message(const std::string& text) override {
        progress_.Clear();
        CliPrompts::Message(text);
    }
    bool AskYesNo(const std::string& text) override {
        progress_.Clear();
        return CliPrompts::AskYesNo(text);
    }
    bool AskOkCancel(const std::string& text) override {
        progress_.Clear();
        return CliPrompts::AskOkCancel(text);
    }

  private:
    TerminalProgress& progress_;
};

}  // namespace

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
    driver.SetIntegrityDelay(std::chrono::milliseconds(0));  // no row shows it here
    ScanMachine(*machine, options.sections, driver, true,
                TerminalProgress::Wanted(ctx.json) ? &ctx.err : nullptr);
    if (!ctx.json) {
        ctx.out << (driver.Aborted() ? kScanAbortedText : kScanCompletedMessage)
                << ". Problems Found : " << results.Total() << '\n';
    }
    if (driver.Aborted()) {
        if (ctx.json) PrintError(ctx.err, kScanAbortedText);
        return kExitFailed;
    }

    TerminalProgress progress(ctx.err, TerminalProgress::Wanted(ctx.json));
    RepairPrompts prompts(ctx, options.yes, progress);
    // Ctrl-C is the window's "Abort": the run stops before its next finding, and a Ctrl-C
    // before the first one (at the question, say) stops it before anything is touched.
    std::atomic<int> running{1};
    RepairOutcome outcome;
    {
        InterruptGuard guard(running);
        unsigned steps = 0;
        RepairControls controls;
        controls.setProgressRange = [&](int maximum) {
            steps = maximum > 0 ? static_cast<unsigned>(maximum) : 0;
            progress.Show(0, steps, "Saving and removing the findings");
        };
        controls.stepProgress = [&] { progress.Step(steps); };
        controls.running = [&running] { return running.load() != 0; };
        controls.setRunning = [&running](bool on) {
            running.store(on && !InterruptGuard::Interrupted() ? 1 : 0);
        };
        outcome = RepairSelectedProblems(*machine, results, prompts, controls);
        if (InterruptGuard::Interrupted() && outcome.ran) outcome.aborted = true;
    }
    progress.Clear();
    if (ctx.json) {
        PrintJson(ctx.out, results, outcome);
    } else if (!outcome.archive.empty()) {
        ctx.out << "Backup: " << outcome.archive << '\n';
    }
    // The items' names are in the ANSI code page; the terminal reads UTF-8.
    for (const std::string& failure : outcome.failures)
        PrintError(ctx.err, Utf16ToUtf8(AnsiToUtf16(failure)));

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
