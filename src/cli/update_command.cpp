#include "cli/update_command.h"

#include <ostream>

#include "app/update_check_flow.h"

namespace hivewise::cli {
namespace {

constexpr const char* kUpdateUsage =
    "Usage: hivewise-cli [--prefix DIR] update --check [--from URL]";

}  // namespace

int RunUpdate(CliContext& ctx, const std::vector<std::string>& args) {
    bool check = false;
    std::string from;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--check") {
            check = true;
        } else if (args[i] == "--from" && i + 1 < args.size() && !args[i + 1].empty()) {
            from = args[++i];
        } else {
            PrintError(ctx.err, "Unknown argument " + args[i] + ". " + kUpdateUsage);
            return 1;
        }
    }
    if (!check) {
        PrintError(ctx.err, kUpdateUsage);
        return 1;
    }
    // Only the installed version is read: the prefix is never written.
    std::unique_ptr<Machine> machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return 1;
    UpdateCheck result = CheckForUpdate(*machine, from);
    // The check's messages go to the error stream, one line each; it asks nothing here.
    if (result.installationCorrupt) PrintError(ctx.err, std::string(kInstallationCorruptText));
    const std::string& version = result.version;
    if (version.empty()) {
        ctx.out << kNoUpdatesText << '\n';
    } else {
        ctx.out << "Updates Available: " << version << '\n';
    }
    return 0;
}

}  // namespace hivewise::cli
