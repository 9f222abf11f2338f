#include "cli/cli.h"

#include <cctype>
#include <iostream>
#include <optional>
#include <string>

#include "cli/backups_command.h"
#include "cli/cli_context.h"
#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/fullbackup_command.h"
#include "cli/json_result.h"
#include "cli/machine_choice.h"
#include "cli/machines_command.h"
#include "cli/repair_command.h"
#include "cli/scan_command.h"
#include "cli/tools_command.h"
#include "cli/update_command.h"
#include "platform/machine/prefix_lock.h"
#include "report/output_text.h"

namespace hivewise {
namespace cli {
namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

void PrintError(std::ostream& err, std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    // Messages name keys, files and folders of the prefix: no escape sequence gets through.
    err << TerminalSafe(line) << '\n';
    err.flush();
}

LoadedMachine LoadMachine(CliContext& ctx, const MachineOptions& options,
                          WhileWineRuns whileWineRuns, bool* wineRunning) {
    if (wineRunning) *wineRunning = false;
    MachineFolderChoice choice = ChooseMachineFolder(ctx.prefixOption);
    if (choice.folder.empty()) {
        PrintError(ctx.err, choice.error);
        return nullptr;
    }
    Machine::LoadResult loaded = Machine::Load(choice.folder, options);
    if (!loaded.machine) {
        PrintError(ctx.err, loaded.error.empty() ? "Cannot load " + choice.folder.string() + "."
                                                 : loaded.error);
        return nullptr;
    }
    if (!options.readOnly && WineServerRunning(loaded.machine->PrefixDir())) {
        if (wineRunning) *wineRunning = true;
        if (whileWineRuns == WhileWineRuns::Refuse) {
            PrintError(ctx.err, WineRunningMessage(loaded.machine->PrefixDir()));
            return nullptr;
        }
    }
    return LoadedMachine(loaded.machine.release(), MachineRelease(ctx.processEndsAfter));
}

bool AskYesNo(CliContext& ctx, const std::string& question) {
    if (ctx.json) return false;
    for (;;) {
        ctx.err << question << ' ';
        ctx.err.flush();
        std::string line;
        if (!std::getline(ctx.in, line)) {
            ctx.err << '\n';
            return false;
        }
        std::string answer = Trim(line);
        for (char& c : answer)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (answer == "y" || answer == "yes") return true;
        if (answer == "n" || answer == "no") return false;
    }
}

namespace {

int RunCommandLine(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err,
                   bool processEndsAfter) {
    int status = kExitDone;
    std::optional<CommandLine> line = ParseCommandLine(argc, argv, out, err, &status);
    if (!line) return status;
    CliContext ctx{in, out, err, line->prefix, line->json, processEndsAfter};
    using Command = CommandLine::Command;
    switch (line->command) {
        case Command::Reg:
            return cli::RunReg(ctx, line->regArgs);
        case Command::Scan:
            return cli::RunScan(ctx, line->scan);
        case Command::Repair:
            return cli::RunRepair(ctx, line->repair);
        case Command::Backups:
            return cli::RunBackups(ctx, line->backups);
        case Command::FullBackup:
            return cli::RunFullBackup(ctx, line->fullBackup);
        case Command::Machines:
            return cli::RunMachines(ctx, line->json);
        case Command::Update:
            return cli::RunUpdate(ctx, line->updateFrom);
        case Command::Tool:
            return cli::RunToolCommand(ctx, line->tool);
    }
    return kExitFailed;
}

}  // namespace
}  // namespace cli

int RunCli(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err,
           bool processEndsAfter) {
    if (!cli::JsonAsked(argc, argv))
        return cli::RunCommandLine(argc, argv, in, out, err, processEndsAfter);
    return cli::RunForJson(out, err, [&](std::ostream& heldOut, std::ostream& copiedErr) {
        return cli::RunCommandLine(argc, argv, in, heldOut, copiedErr, processEndsAfter);
    });
}

}  // namespace hivewise
