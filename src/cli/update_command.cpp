#include "cli/update_command.h"

#include <ostream>

#include "app/update_check_flow.h"
#include "cli/exit_status.h"
#include "report/json_writer.h"
#include "report/output_text.h"

namespace hivewise::cli {

int RunUpdate(CliContext& ctx, const std::string& from) {
    // Only the installed version is read: the prefix is never written.
    LoadedMachine machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return kExitFailed;
    UpdateCheck result = CheckForUpdate(*machine, from);
    // The check's messages go to the error stream, one line each; it asks nothing here.
    if (result.installationCorrupt) PrintError(ctx.err, std::string(kInstallationCorruptText));
    // An unread page is no answer: "No updates available" would be a guess.
    if (!result.checked) {
        if (!result.installationCorrupt) PrintError(ctx.err, "The version page could not be read.");
        return kExitFailed;
    }
    const std::string& version = result.version;
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("updateAvailable").Bool(!version.empty()).Key("version");
        if (version.empty()) {
            json.Null();
        } else {
            json.Text(version);
        }
        json.EndObject();
    } else if (version.empty()) {
        ctx.out << kNoUpdatesText << '\n';
    } else {
        ctx.out << "Updates Available: " << TerminalSafe(version) << '\n';
    }
    return kExitDone;
}

}  // namespace hivewise::cli
