#include "cli/machine_choice.h"

#include <cstdlib>
#include <map>

#include "platform/machine/sample_machine.h"

namespace hivewise::cli {

MachineFolderChoice ChooseMachineFolder(const std::optional<std::string>& prefixOption) {
    std::map<std::string, std::string> env;
    for (const char* name : {"HOME", "WINEPREFIX", "XDG_DATA_HOME"}) {
        if (const char* value = std::getenv(name)) env[name] = value;
    }
    std::optional<std::filesystem::path> given;
    if (prefixOption && !prefixOption->empty()) given = *prefixOption;
    MachineChoice choice = ChooseMachine(given, env, RunningExecutable());
    return {choice.folder, choice.error, choice.isSample};
}

}  // namespace hivewise::cli
