#include "cli/cli.h"

#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cli/backups_command.h"
#include "cli/cli_context.h"
#include "cli/fullbackup_command.h"
#include "cli/machine_choice.h"
#include "cli/machines_command.h"
#include "cli/repair_command.h"
#include "cli/scan_command.h"
#include "cli/tools_command.h"
#include "cli/update_command.h"
#include "platform/machine/prefix_lock.h"

namespace hivewise {
namespace cli {
namespace {

constexpr const char* kUsage =
    "Usage: hivewise-cli [--prefix DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "Works on the registry of a Wine prefix without Wine running.\n"
    "\n"
    "Options:\n"
    "  --prefix DIR  the Wine prefix to work on, or a machine's name as \"machines\"\n"
    "                lists it; without it $WINEPREFIX, else ~/.wine, else the sample machine\n"
    "  --help        show this text\n"
    "  --version     show the program's version\n"
    "\n"
    "Commands:\n"
    "  reg query KEY [/v NAME | /ve] [/s]\n"
    "  reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "  reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  reg export KEY FILE [/y]\n"
    "  reg import FILE\n"
    "  scan [--sections ID,ID,...] [--json]\n"
    "                scans the sections (ids 0 to 15; without --sections those ticked\n"
    "                in the settings); Ctrl-C aborts the scan\n"
    "  fullbackup create | list | restore ARCHIVE [--yes]\n"
    "                saves the whole registry into RegBackup, lists those backups\n"
    "                (newest first), or puts one back\n"
    "  machines [--json]\n"
    "                lists the Wine prefixes found: Wine's own, Steam (Proton), Bottles,\n"
    "                Lutris, PlayOnLinux, CrossOver, and the sample machine\n"
    "  update --check [--from URL]\n"
    "                asks the update server (or the version page at URL) for a newer\n"
    "                version; it never downloads or installs anything\n"
    "  startup|bho|programs list\n"
    "                the startup programs, browser helper objects or installed programs:\n"
    "                name, command and where each lives, tab-separated\n"
    "  startup|bho|programs remove NAME...\n"
    "                parks the named entries under HKCU\\SOFTWARE\\Hivewise, then removes them\n"
    "  startup|bho|programs parked\n"
    "  startup|bho|programs restore (NAME... | --all)\n"
    "                lists or puts back the entries removed earlier\n"
    "  repair [--sections ID,ID,...] [--yes]\n"
    "                scans, then saves every finding into a fix backup and removes it;\n"
    "                --yes answers its question (asked on the terminal otherwise)\n"
    "  backups list | show ARCHIVE | restore ARCHIVE (--items N,N,... | --all)\n"
    "          | remove ARCHIVE [--yes]\n"
    "                the fix backups: list them, show and restore their items, delete one\n"
    "\n"
    "KEY is ROOT\\SUBKEY, ROOT one of HKLM, HKCU, HKCR, HKU (or HKEY_LOCAL_MACHINE,\n"
    "HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS). \"hivewise-cli reg /?\" tells more.\n";

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
    err << line << '\n';
    err.flush();
}

std::unique_ptr<Machine> LoadMachine(CliContext& ctx, const MachineOptions& options,
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
    return std::move(loaded.machine);
}

bool AskYesNo(CliContext& ctx, const std::string& question) {
    for (;;) {
        ctx.out << question << ' ';
        ctx.out.flush();
        std::string line;
        if (!std::getline(ctx.in, line)) {
            ctx.out << '\n';
            return false;
        }
        std::string answer = Trim(line);
        for (char& c : answer)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (answer == "y" || answer == "yes") return true;
        if (answer == "n" || answer == "no") return false;
    }
}

}  // namespace cli

int RunCli(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    cli::CliContext ctx{in, out, err, std::nullopt};
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");

    size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out << cli::kUsage;
            return 0;
        }
        if (arg == "--version") {
            out << "hivewise-cli " << kProgramVersion << '\n';
            return 0;
        }
        if (arg == "--prefix" || arg.rfind("--prefix=", 0) == 0) {
            std::string folder;
            if (arg == "--prefix") {
                if (i + 1 >= args.size()) {
                    cli::PrintError(err, "--prefix needs a folder. Try hivewise-cli --help.");
                    return 1;
                }
                folder = args[++i];
            } else {
                folder = arg.substr(9);
            }
            if (folder.empty()) {
                cli::PrintError(err, "--prefix needs a folder. Try hivewise-cli --help.");
                return 1;
            }
            ctx.prefixOption = folder;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            cli::PrintError(err, "Unknown option " + arg + ". Try hivewise-cli --help.");
            return 1;
        }
        break;
    }
    if (i >= args.size()) {
        err << cli::kUsage;
        return 1;
    }
    const std::string& command = args[i];
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (command == "reg") return cli::RunReg(ctx, rest);
    if (command == "scan") return cli::RunScan(ctx, rest);
    if (command == "fullbackup") return cli::RunFullBackup(ctx, rest);
    if (command == "machines") return cli::RunMachines(ctx, rest);
    if (command == "update") return cli::RunUpdate(ctx, rest);
    if (command == "startup" || command == "bho" || command == "programs") {
        return cli::RunToolCommand(ctx, command, rest);
    }
    if (command == "repair") return cli::RunRepair(ctx, rest);
    if (command == "backups") return cli::RunBackups(ctx, rest);
    cli::PrintError(err, "Unknown command " + command + ". Try hivewise-cli --help.");
    return 1;
}

}  // namespace hivewise
