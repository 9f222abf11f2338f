// The managers' lists, "Remove Checked" and the restore dialog, driven by names.
#include "cli/tools_command.h"

#include <memory>
#include <ostream>

#include "app/tools/bho_manager.h"
#include "app/tools/installed_programs_manager.h"
#include "app/tools/removed_entries_dialog.h"
#include "app/tools/startup_manager.h"
#include "cli/exit_status.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/text.h"
#include "report/json_writer.h"
#include "report/output_text.h"
#include "tools/parked_entries.h"

namespace hivewise::cli {
namespace {

// The logic's messages: results on standard output, failures on standard error.
class CliToolPrompts : public UserPrompts {
  public:
    explicit CliToolPrompts(CliContext& ctx) : ctx_(ctx) {}
    void Message(const std::string& text) override {
        // With --json stdout holds the command's object alone.
        if (!ctx_.json && (text == kItemsRemovedText || text == kItemsRestoredText)) {
            ctx_.out << ToTerminal(text) << '\n';
        } else {
            PrintError(ctx_.err, ToTerminal(text));
        }
    }
    bool AskYesNo(const std::string&) override { return false; }
    static std::string ToTerminal(std::string_view ansi) { return Utf16ToUtf8(AnsiToUtf16(ansi)); }

  private:
    CliContext& ctx_;
};

std::string FromTerminal(std::string_view utf8) {
    return Utf16ToAnsi(Utf8ToUtf16(utf8));
}

std::unique_ptr<EntryManager> MakeManager(const std::string& tool, Machine& machine,
                                          UserPrompts& prompts) {
    if (tool == "startup") return std::make_unique<StartupProgramManager>(machine, prompts);
    if (tool == "bho") return std::make_unique<BhoManager>(machine, prompts);
    return std::make_unique<InstalledProgramsManager>(machine, prompts);
}

// Where a manager's row lives: the Run key's root, or the key of the object or program.
std::string ManagerLocation(const EntryManager& manager, size_t row) {
    if (auto* startup = dynamic_cast<const StartupProgramManager*>(&manager)) {
        return startup->Entries()[row].machineWide ? "HKLM" : "HKCU";
    }
    if (auto* bho = dynamic_cast<const BhoManager*>(&manager)) {
        return "HKLM\\" + JoinKey(kBhoKeyPath, bho->ClassIds()[row]);
    }
    auto& programs = static_cast<const InstalledProgramsManager&>(manager);
    return "HKLM\\" + JoinKey(kUninstallKeyPath, programs.SubKeys()[row]);
}

// Where a parked entry goes back to.
std::string ParkedLocation(RemovedEntriesMode mode, const RemovedEntry& row) {
    switch (mode) {
        case RemovedEntriesMode::Startup:
            return row.root == kHkeyCurrentUser ? "HKCU" : "HKLM";
        case RemovedEntriesMode::HelperObjects:
            return "HKLM\\" + JoinKey(row.targetKey, row.keyToCreate);
        case RemovedEntriesMode::InstalledPrograms:
            break;
    }
    return "HKLM\\" + JoinKey(kUninstallKeyPath, row.entryName);
}

// One entry: its name, its command and where it lives, all read from the registry.
struct ListedEntry {
    std::string name;
    std::string command;
    std::string location;
};

void PrintEntries(CliContext& ctx, const std::vector<ListedEntry>& entries) {
    if (!ctx.json) {
        for (const ListedEntry& e : entries) {
            ctx.out << TerminalField(CliToolPrompts::ToTerminal(e.name)) << '\t'
                    << TerminalField(CliToolPrompts::ToTerminal(e.command)) << '\t'
                    << TerminalField(CliToolPrompts::ToTerminal(e.location)) << '\n';
        }
        return;
    }
    JsonWriter json(ctx.out);
    json.BeginObject().Key("entries").BeginArray();
    for (const ListedEntry& e : entries) {
        json.BeginObject().Key("name").Text(e.name).Key("command").Text(e.command);
        json.Key("location").Text(e.location).EndObject();
    }
    json.EndArray().EndObject();
}

// Ticks every row whose name is one of `names`; false (naming it) for a name no row has.
template <typename Rows, typename Tick>
bool TickByName(CliContext& ctx, const Rows& rows, const std::vector<std::string>& names,
                Tick tick) {
    for (const std::string& typed : names) {
        std::string name = FromTerminal(typed);
        bool found = false;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (AnsiEqualsNoCase(rows[i], name)) {
                tick(i);
                found = true;
            }
        }
        if (!found) {
            PrintError(ctx.err, "No entry named " + typed + ".");
            return false;
        }
    }
    return true;
}

// Saves what was done; the status tells all done, some items failed, or none done.
// `doneKey` names the count in the JSON object: "removed" or "restored".
int Save(CliContext& ctx, Machine& machine, const char* doneKey, int done, int failed) {
    Machine::SaveResult saved = machine.Flush();
    if (!saved.ok) {
        PrintError(ctx.err, saved.error.empty() ? "The registry could not be saved." : saved.error);
        return WineServerRunning(machine.PrefixDir()) ? kExitWineRunning : kExitFailed;
    }
    if (failed > 0 && done == 0) return kExitFailed;
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key(doneKey).Number(done).Key("failed").Number(failed).EndObject();
    }
    return failed == 0 ? kExitDone : kExitPartial;
}

// A machine to change: when it cannot be loaded, `status` says why.
LoadedMachine LoadForChange(CliContext& ctx, int* status) {
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, MachineOptions{}, WhileWineRuns::Refuse, &wineRunning);
    *status = wineRunning ? kExitWineRunning : kExitFailed;
    return machine;
}

int RunManager(CliContext& ctx, const ToolOptions& options) {
    const bool list = options.action == ToolOptions::Action::List;
    int status = kExitFailed;
    // Listing only reads: it works while Wine runs in the prefix.
    LoadedMachine machine = list ? LoadMachine(ctx, {.lockPrefix = false, .readOnly = true})
                                 : LoadForChange(ctx, &status);
    if (!machine) return status;
    CliToolPrompts prompts(ctx);
    std::unique_ptr<EntryManager> manager = MakeManager(options.tool, *machine, prompts);
    manager->Fill();
    const std::vector<EntryRow>& rows = manager->Rows();
    if (list) {
        std::vector<ListedEntry> entries;
        for (size_t i = 0; i < rows.size(); ++i)
            entries.push_back({rows[i].name, rows[i].path, ManagerLocation(*manager, i)});
        PrintEntries(ctx, entries);
        return kExitDone;
    }
    std::vector<std::string> names;
    for (const EntryRow& row : rows)
        names.push_back(row.name);
    if (!TickByName(ctx, names, options.names, [&](size_t i) { manager->SetChecked(i, true); })) {
        return kExitFailed;
    }
    RemovalOutcome outcome = manager->RemoveChecked();
    if (outcome.refused)
        return WineServerRunning(machine->PrefixDir()) ? kExitWineRunning : kExitFailed;
    return Save(ctx, *machine, "removed", outcome.removed, outcome.failed);
}

int RunParked(CliContext& ctx, const ToolOptions& options) {
    const bool parked = options.action == ToolOptions::Action::Parked;
    int status = kExitFailed;
    LoadedMachine machine = parked ? LoadMachine(ctx, {.lockPrefix = false, .readOnly = true})
                                   : LoadForChange(ctx, &status);
    if (!machine) return status;
    CliToolPrompts prompts(ctx);
    RemovedEntriesMode mode = options.tool == "startup" ? RemovedEntriesMode::Startup
                              : options.tool == "bho"   ? RemovedEntriesMode::HelperObjects
                                                        : RemovedEntriesMode::InstalledPrograms;
    RemovedEntriesDialog dialog(*machine, prompts, mode);
    dialog.Fill();
    const std::vector<RemovedEntry>& rows = dialog.Rows();
    if (parked) {
        std::vector<ListedEntry> entries;
        for (const RemovedEntry& row : rows)
            entries.push_back({row.firstColumn, row.secondColumn, ParkedLocation(mode, row)});
        PrintEntries(ctx, entries);
        return kExitDone;
    }
    if (options.all) {
        if (rows.empty()) {
            PrintError(ctx.err, "Nothing is parked.");
            return kExitFailed;
        }
        for (size_t i = 0; i < rows.size(); ++i)
            dialog.SetChecked(i, true);
    } else {
        std::vector<std::string> names;
        for (const RemovedEntry& row : rows)
            names.push_back(row.firstColumn);
        if (!TickByName(ctx, names, options.names, [&](size_t i) { dialog.SetChecked(i, true); })) {
            return kExitFailed;
        }
    }
    RestoreOutcome outcome;
    dialog.Restore(&outcome);
    if (outcome.refused)
        return WineServerRunning(machine->PrefixDir()) ? kExitWineRunning : kExitFailed;
    return Save(ctx, *machine, "restored", outcome.restored, outcome.failed);
}

}  // namespace

int RunToolCommand(CliContext& ctx, const ToolOptions& options) {
    if (options.action == ToolOptions::Action::List ||
        options.action == ToolOptions::Action::Remove)
        return RunManager(ctx, options);
    return RunParked(ctx, options);
}

}  // namespace hivewise::cli
