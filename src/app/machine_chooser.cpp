#include "app/machine_chooser.h"

#include <system_error>

#include "platform/machine/prefix_lock.h"
#include "platform/machine/sample_machine.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

bool SameFolder(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) || a.lexically_normal() == b.lexically_normal();
}

std::string SizeText(std::uintmax_t bytes) {
    if (bytes < 1024 * 1024) return std::to_string((bytes + 1023) / 1024) + " KB";
    return std::to_string((bytes + 512 * 1024) / (1024 * 1024)) + " MB";
}

}  // namespace

MachineChooser::MachineChooser(std::vector<FoundMachine> machines, const fs::path& current,
                               bool currentIsSample, AppPrompts& prompts,
                               std::function<bool(const MachineRequest&)> switchTo)
    : machines_(std::move(machines)), prompts_(prompts), switchTo_(std::move(switchTo)) {
    for (size_t i = 0; i < machines_.size(); ++i) {
        bool sample = machines_[i].kind == MachineKind::Sample;
        if (sample == currentIsSample && SameFolder(machines_[i].path, current)) {
            current_ = static_cast<int>(i);
            return;
        }
    }
    // A folder given with --prefix that no launcher knows.
    FoundMachine own;
    own.name = current.string();
    own.kind = currentIsSample ? MachineKind::Sample : MachineKind::Wine;
    own.path = current;
    machines_.insert(machines_.begin(), std::move(own));
    current_ = 0;
}

std::vector<std::string> MachineChooser::Entries() const {
    std::vector<std::string> entries;
    for (const FoundMachine& machine : machines_) {
        std::string text = machine.name;
        // A folder no launcher knows is shown as the folder alone.
        if (machine.kind != MachineKind::Sample && machine.name != machine.path.string()) {
            text += " (" + std::string(MachineKindName(machine.kind)) + ")";
        }
        if (machine.wineRunning) text += " - Wine is running, read only";
        entries.push_back(std::move(text));
    }
    entries.emplace_back(kOtherFolderText);
    return entries;
}

std::string MachineChooser::Details(int index) const {
    if (index < 0 || index >= static_cast<int>(machines_.size())) return {};
    const FoundMachine& machine = machines_[static_cast<size_t>(index)];
    std::string text = machine.path.string();
    if (!machine.windows.empty()) text += "\n" + machine.windows;
    if (machine.registryBytes > 0) text += "\nRegistry: " + SizeText(machine.registryBytes);
    if (machine.wineRunning) {
        text += "\nWine is running in it: it opens read only.";
    }
    return text;
}

std::string MachineChooser::CurrentName() const {
    if (current_ < 0 || current_ >= static_cast<int>(machines_.size())) return {};
    return machines_[static_cast<size_t>(current_)].name;
}

bool MachineChooser::Choose(int index) {
    if (index == current_ || index < 0) return false;
    if (index < static_cast<int>(machines_.size())) {
        if (!Request(machines_[static_cast<size_t>(index)])) return false;
        current_ = index;
        return true;
    }
    auto folder = prompts_.ChooseFolder(std::string(kChoosePrefixTitle));
    if (!folder) return false;
    std::error_code ec;
    if (!fs::is_regular_file(*folder / "system.reg", ec)) {
        prompts_.Message(folder->string() + " is not a Wine prefix (it has no system.reg).",
                         MessageIcon::Warning);
        return false;
    }
    for (size_t i = 0; i < machines_.size(); ++i) {
        if (SameFolder(machines_[i].path, *folder)) return Choose(static_cast<int>(i));
    }
    FoundMachine other;
    other.name = folder->string();
    other.path = *folder;
    other.wineRunning = WineServerRunning(*folder);
    if (!Request(other)) return false;
    machines_.push_back(std::move(other));
    current_ = static_cast<int>(machines_.size()) - 1;
    return true;
}

bool MachineChooser::Request(const FoundMachine& machine) {
    if (!switchTo_) return false;
    return switchTo_({machine.path, machine.kind == MachineKind::Sample, machine.wineRunning});
}

Machine::LoadResult LoadRequestedMachine(const MachineRequest& request,
                                         const std::map<std::string, std::string>& env,
                                         const fs::path& executable) {
    fs::path folder = request.folder;
    if (request.isSample) {
        MachineChoice sample = ChooseSampleMachine(env, executable);
        if (sample.folder.empty()) return {nullptr, sample.error};
        folder = sample.folder;
    }
    MachineOptions options;
    // Wine may have started since the list was made.
    options.readOnly = request.readOnly || WineServerRunning(folder);
    return Machine::Load(folder, options);
}

}  // namespace hivewise
