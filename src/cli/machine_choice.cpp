#include "cli/machine_choice.h"

#include <cstdlib>
#include <system_error>

#include "platform/machine/machine_finder.h"
#include "platform/machine/sample_machine.h"

namespace hivewise::cli {
namespace {

// The machine a --prefix text names, when it is not a prefix folder itself. Nothing
// when no machine has that name: the text is then taken as the folder it says.
std::optional<MachineFolderChoice> ChooseByName(const std::string& text,
                                                const std::map<std::string, std::string>& env) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::path(text) / "system.reg", ec)) {
        return std::nullopt;
    }
    std::vector<FoundMachine> named = MachinesNamed(FindMachines(env, RunningExecutable()), text);
    if (named.empty()) return std::nullopt;
    MachineFolderChoice choice;
    if (named.size() > 1) {
        choice.error = "Several machines are named \"" + text + "\":";
        for (const FoundMachine& machine : named) {
            choice.error += " " + machine.path.string() + (&machine == &named.back() ? "" : ",");
        }
        choice.error += "; give the folder with --prefix.";
        return choice;
    }
    if (named[0].kind == MachineKind::Sample) {
        MachineChoice sample = ChooseSampleMachine(env, RunningExecutable());
        return MachineFolderChoice{sample.folder, sample.error, true};
    }
    choice.folder = named[0].path;
    return choice;
}

}  // namespace

std::map<std::string, std::string> MachineSearchEnvironment() {
    std::map<std::string, std::string> env;
    for (const char* name : {"HOME", "WINEPREFIX", "XDG_DATA_HOME"}) {
        if (const char* value = std::getenv(name)) env[name] = value;
    }
    return env;
}

MachineFolderChoice ChooseMachineFolder(const std::optional<std::string>& prefixOption) {
    std::map<std::string, std::string> env = MachineSearchEnvironment();
    std::optional<std::filesystem::path> given;
    if (prefixOption && !prefixOption->empty()) {
        if (auto byName = ChooseByName(*prefixOption, env)) return *byName;
        given = *prefixOption;
    }
    MachineChoice choice = ChooseMachine(given, env, RunningExecutable());
    return {choice.folder, choice.error, choice.isSample};
}

}  // namespace hivewise::cli
