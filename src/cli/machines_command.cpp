// `machines`: one line per machine (name, kind, path, tab-separated) or one JSON object.
#include "cli/machines_command.h"

#include <ostream>

#include "cli/exit_status.h"
#include "cli/machine_choice.h"
#include "platform/machine/machine_finder.h"
#include "platform/machine/sample_machine.h"
#include "report/json_writer.h"
#include "report/output_text.h"

namespace hivewise::cli {

int RunMachines(CliContext& ctx, bool json) {
    std::vector<FoundMachine> machines =
        FindMachines(MachineSearchEnvironment(), RunningExecutable());
    if (!json) {
        // Folder names are the user's and any program's: tabs, line breaks and escape
        // sequences in them must neither split the line nor reach the terminal.
        for (const FoundMachine& m : machines) {
            ctx.out << TerminalField(m.name) << '\t' << MachineKindName(m.kind) << '\t'
                    << TerminalField(m.path.string()) << '\n';
        }
        return kExitDone;
    }
    // Names and paths are the host's: JsonHostString keeps the output valid UTF-8.
    JsonWriter out(ctx.out);
    out.BeginObject().Key("machines").BeginArray();
    for (const FoundMachine& m : machines) {
        out.BeginObject();
        out.Key("name").HostText(m.name);
        out.Key("kind").Text(MachineKindName(m.kind));
        out.Key("path").HostText(m.path.string());
        out.Key("windows").Text(m.windows);
        out.Key("registryBytes").Number(static_cast<int64_t>(m.registryBytes));
        out.Key("wineRunning").Bool(m.wineRunning);
        out.EndObject();
    }
    out.EndArray().EndObject();
    return kExitDone;
}

}  // namespace hivewise::cli
