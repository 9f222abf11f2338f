#include "cli/update_command.h"

#include <ostream>

#include "app/update_check_flow.h"

namespace hivewise::cli {

int RunUpdate(CliContext& ctx, const std::string& from) {
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
