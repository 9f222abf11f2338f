#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace hivewise::cli {

struct MachineFolderChoice {
    std::filesystem::path folder;  // empty when no machine could be chosen
    std::string error;             // one line, for the user, when `folder` is empty
    bool isSample = false;         // the bundled sample machine
};

// Which Wine prefix to work on: the --prefix folder, else $WINEPREFIX, else ~/.wine
// when it holds a registry, else the sample machine (made on first use). --prefix
// also takes the name `hivewise-cli machines` lists, when the text is no prefix folder
// and exactly one machine has that name.
MachineFolderChoice ChooseMachineFolder(const std::optional<std::string>& prefixOption);

// HOME, WINEPREFIX and XDG_DATA_HOME of this process: what the machine choice and the
// machine finder go by.
std::map<std::string, std::string> MachineSearchEnvironment();

}  // namespace hivewise::cli
