#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace hivewise::cli {

struct MachineFolderChoice {
    std::filesystem::path folder;  // empty when no machine could be chosen
    std::string error;             // one line, for the user, when `folder` is empty
    bool isSample = false;         // the bundled sample machine
};

// Which Wine prefix to work on: the --prefix folder, else $WINEPREFIX, else ~/.wine
// when it holds a registry, else the sample machine (made on first use).
MachineFolderChoice ChooseMachineFolder(const std::optional<std::string>& prefixOption);

}  // namespace hivewise::cli
