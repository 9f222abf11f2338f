#include "platform/machine/machine_finder.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "platform/machine/launcher_prefixes.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/registry_glance.h"
#include "platform/machine/sample_machine.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

fs::path Identity(const fs::path& folder) {
    std::error_code ec;
    fs::path canonical = fs::canonical(folder, ec);
    return ec ? fs::absolute(folder, ec).lexically_normal() : canonical;
}

std::string Lookup(const std::map<std::string, std::string>& env, const char* name) {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
}

// ASCII case folded; names are UTF-8, so other bytes stay as they are.
std::string FoldAscii(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

class Collector {
  public:
    // Adds a machine of `kind`; a folder already listed keeps its first name.
    void Add(std::string name, MachineKind kind, const fs::path& folder) {
        if (!seen_.insert(Identity(folder)).second) return;
        FoundMachine machine;
        machine.name = std::move(name);
        machine.kind = kind;
        machine.path = Absolute(folder);
        machines_.push_back(std::move(machine));
    }
    void AddAll(std::vector<LauncherPrefix> prefixes, MachineKind kind) {
        std::stable_sort(prefixes.begin(), prefixes.end(),
                         [](const LauncherPrefix& a, const LauncherPrefix& b) {
                             return FoldAscii(a.name) < FoldAscii(b.name);
                         });
        for (LauncherPrefix& prefix : prefixes)
            Add(std::move(prefix.name), kind, prefix.folder);
    }
    std::vector<FoundMachine>& Machines() { return machines_; }

  private:
    static fs::path Absolute(const fs::path& folder) {
        std::error_code ec;
        fs::path absolute = fs::absolute(folder, ec);
        return ec ? folder : absolute.lexically_normal();
    }
    std::set<fs::path> seen_;
    std::vector<FoundMachine> machines_;
};

// What the registry says of a machine, and whether Wine runs in it.
void Describe(FoundMachine& machine, const fs::path& registryFolder,
              const WineServerPlaces& places) {
    if (auto facts = GlanceVersionFacts(registryFolder / "system.reg")) {
        machine.windows = DescribeWindows(*facts);
    }
    machine.registryBytes = RegistryFilesSize(registryFolder);
    machine.wineRunning = HoldsSystemReg(machine.path) && WineServerRunning(machine.path, places);
}

}  // namespace

std::string_view MachineKindName(MachineKind kind) {
    switch (kind) {
        case MachineKind::Wine:
            return "wine";
        case MachineKind::Steam:
            return "steam";
        case MachineKind::Bottles:
            return "bottles";
        case MachineKind::Lutris:
            return "lutris";
        case MachineKind::PlayOnLinux:
            return "playonlinux";
        case MachineKind::CrossOver:
            return "crossover";
        case MachineKind::Sample:
            return "sample";
    }
    return "wine";
}

std::vector<FoundMachine> FindMachines(const std::map<std::string, std::string>& env,
                                       const fs::path& executable) {
    Collector found;
    if (std::string wine = Lookup(env, "WINEPREFIX"); !wine.empty() && HoldsSystemReg(wine)) {
        fs::path folder = fs::path(wine).lexically_normal();
        std::string name =
            (folder.has_filename() ? folder : folder.parent_path()).filename().string();
        found.Add(name.empty() ? "WINEPREFIX" : name, MachineKind::Wine, folder);
    }
    const fs::path home = HomeFolder(env);
    if (!home.empty()) {
        if (HoldsSystemReg(home / ".wine")) found.Add("Wine", MachineKind::Wine, home / ".wine");
        found.AddAll(FindProtonPrefixes(home), MachineKind::Steam);
        found.AddAll(FindBottles(home), MachineKind::Bottles);
        found.AddAll(FindLutrisPrefixes(home), MachineKind::Lutris);
        found.AddAll(FindPrefixFolders(home / ".PlayOnLinux" / "wineprefix"),
                     MachineKind::PlayOnLinux);
        found.AddAll(FindPrefixFolders(home / ".cxoffice"), MachineKind::CrossOver);
    }

    std::vector<FoundMachine>& machines = found.Machines();
    // The process list is looked at once for all the machines.
    WineServerPlaces places = WineServerPlaces::FromHost();
    places.servers = WineServerProcesses(places);
    for (FoundMachine& machine : machines)
        Describe(machine, machine.path, places);

    // The sample machine is offered even before its first use; until then its facts
    // are the template's.
    if (auto sample = SampleMachineFolder(env)) {
        std::optional<fs::path> source;
        if (HoldsSystemReg(*sample)) {
            source = *sample;
        } else {
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(*sample, ec)))
                source = FindSampleTemplate(executable);
        }
        if (source) {
            size_t before = machines.size();
            found.Add("sample machine", MachineKind::Sample, *sample);
            if (machines.size() > before) Describe(machines.back(), *source, places);
        }
    }
    return machines;
}

std::vector<FoundMachine> MachinesNamed(const std::vector<FoundMachine>& machines,
                                        std::string_view name) {
    std::vector<FoundMachine> exact, folded;
    const std::string wanted = FoldAscii(name);
    for (const FoundMachine& machine : machines) {
        if (machine.name == name) exact.push_back(machine);
        if (FoldAscii(machine.name) == wanted) folded.push_back(machine);
    }
    return exact.empty() ? folded : exact;
}

}  // namespace hivewise
