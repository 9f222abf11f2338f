#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Every Windows machine of the user: the Wine prefix of WINEPREFIX and ~/.wine, the
// prefixes Steam's Proton, Bottles, Lutris, PlayOnLinux and CrossOver keep, and the
// bundled sample machine, so that none has to be typed as a path.
namespace hivewise {

enum class MachineKind {
    Wine,
    Steam,
    Bottles,
    Lutris,
    PlayOnLinux,
    CrossOver,
    Sample,
};

// "wine", "steam", "bottles", "lutris", "playonlinux", "crossover", "sample".
std::string_view MachineKindName(MachineKind kind);

struct FoundMachine {
    std::string name;  // UTF-8, as its launcher names it
    MachineKind kind = MachineKind::Wine;
    std::filesystem::path path;        // the prefix folder
    std::string windows;               // the Windows its registry states; empty when unreadable
    std::uintmax_t registryBytes = 0;  // system.reg, user.reg and userdef.reg together
    bool wineRunning = false;          // Wine's server runs for it now
};

// Every machine, each folder once (the first finding names it), in the order: WINEPREFIX,
// ~/.wine, then Steam, Bottles, Lutris, PlayOnLinux and CrossOver (each sorted by name),
// and the sample machine last (listed before it is first made, when it can be). `env`
// holds HOME, WINEPREFIX and XDG_DATA_HOME.
std::vector<FoundMachine> FindMachines(const std::map<std::string, std::string>& env,
                                       const std::filesystem::path& executable);

// The machines whose name is `name`: those named exactly so, else those named so
// without regard to case.
std::vector<FoundMachine> MachinesNamed(const std::vector<FoundMachine>& machines,
                                        std::string_view name);

}  // namespace hivewise
