#include "cli/machine_choice.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace hivewise::cli {
namespace {

std::filesystem::path HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

}  // namespace

MachineFolderChoice ChooseMachineFolder(const std::optional<std::string>& prefixOption) {
    MachineFolderChoice choice;
    if (prefixOption && !prefixOption->empty()) {
        choice.folder = *prefixOption;
        return choice;
    }
    // Wine's own convention: an empty WINEPREFIX counts as unset.
    const char* wine = std::getenv("WINEPREFIX");
    if (wine && *wine) {
        choice.folder = wine;
        return choice;
    }
    std::filesystem::path home = HomeFolder();
    std::error_code ec;
    if (!home.empty() && std::filesystem::is_regular_file(home / ".wine" / "system.reg", ec)) {
        choice.folder = home / ".wine";
        return choice;
    }
    choice.error =
        "No Wine prefix to work on: give --prefix DIR or set WINEPREFIX (~/.wine has no "
        "system.reg).";
    return choice;
}

}  // namespace hivewise::cli
