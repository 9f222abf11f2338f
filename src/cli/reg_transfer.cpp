// `reg export` and `reg import`: the registry editor's files, read and written on the host.
#include <sys/stat.h>

#include <filesystem>
#include <ostream>

#include "cli/cli_context.h"
#include "cli/exit_status.h"
#include "cli/reg_common.h"
#include "platform/files/atomic_file.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"

namespace hivewise::cli {
namespace {

constexpr const char* kExportUsage =
    "Usage: hivewise-cli reg export KEY FILE [/y]\n"
    "\n"
    "  KEY   ROOT\\SUBKEY; ROOT is HKLM, HKCU, HKCR or HKU\n"
    "  FILE  the registry editor's file to write, on the host\n"
    "  /y    overwrite FILE without asking\n";

constexpr const char* kImportUsage =
    "Usage: hivewise-cli reg import FILE\n"
    "\n"
    "  FILE  a registry editor's file on the host, as reg export writes it\n";

bool AsksForHelp(const std::string& arg) {
    return arg == "/?" || arg == "-?" || arg == "--help";
}

}  // namespace

int RegExport(CliContext& ctx, const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool overwrite = false;
    for (const auto& arg : args) {
        if (arg == "/y" || arg == "/Y" || arg == "-y") {
            overwrite = true;
        } else if (AsksForHelp(arg)) {
            ctx.out << kExportUsage;
            return 0;
        } else {
            // Host paths begin with '/', so only the known switches are switches.
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return FailSyntax(ctx, "export");
    const std::string& key = positional[0];
    std::filesystem::path file = positional[1];

    auto machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return 1;
    // The key is given in UTF-8; the export takes the program's ANSI view of names.
    std::string ansiKey = Utf16ToAnsi(Utf8ToUtf16(key));
    auto content = ExportRegFile(*machine, ansiKey, RegFileFormatFor(*machine));
    if (!content) {
        return Fail(ctx,
                    "ERROR: The system was unable to find the specified registry key or value.");
    }
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !overwrite &&
        !AskYesNo(ctx, "File " + file.string() + " already exists. Overwrite (Yes/No)?")) {
        return Fail(ctx, "The operation was cancelled by the user.");
    }
    std::string error;
    if (!WriteFileAtomically(file, *content, &error)) return Fail(ctx, "ERROR: " + error);
    ctx.out << "The operation completed successfully.\n";
    return 0;
}

int RegImport(CliContext& ctx, const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (AsksForHelp(arg)) {
            ctx.out << kImportUsage;
            return 0;
        }
    }
    if (args.size() != 1) return FailSyntax(ctx, "import");
    std::string bytes, error;
    if (!ReadWholeFile(args[0], &bytes, &error)) {
        return Fail(ctx, "ERROR: Error opening the file. " + error);
    }
    // Wine owns the registry while it runs: the one status every command gives for that.
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, MachineOptions{}, WhileWineRuns::Refuse, &wineRunning);
    if (!machine) return wineRunning ? kExitWineRunning : kExitFailed;
    RegImportResult result = ImportRegFile(*machine, bytes);
    if (!result.headerValid) {
        return Fail(ctx, "ERROR: " + args[0] + " is not a registry file (no editor header).");
    }
    int status = SaveAndReport(ctx, *machine);
    if (status != 0) return status;
    if (!result.allApplied) {
        return Fail(ctx, "ERROR: " + std::to_string(result.linesSkipped) +
                             " statement(s) could not be imported, the first at line " +
                             std::to_string(result.firstBadLine) + "; the rest was imported.");
    }
    return 0;
}

}  // namespace hivewise::cli
