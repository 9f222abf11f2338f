#include "app/tools/installed_programs_manager.h"

#include <cstdint>

#include "platform/machine/string_table.h"
#include "repair/registry_removal.h"
#include "tools/parked_entries.h"

namespace hivewise {
namespace {

// Up to four bytes read into a zeroed 32-bit number, whatever the value's type.
bool ReadsAsOne(const std::string& bytes) {
    uint32_t number = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        number = (number << 8) | static_cast<unsigned char>(bytes[i]);
    return number == 1;
}

}  // namespace

InstalledProgramsManager::InstalledProgramsManager(Machine& machine, UserPrompts& prompts,
                                                   RestoreOpener openRestore)
    : EntryManager(machine, prompts, std::move(openRestore)) {}

ManagerColumn InstalledProgramsManager::Column(int index) const {
    return index == 0 ? ManagerColumn{"Program Name", 150} : ManagerColumn{"Uninstall Path", 350};
}

std::string InstalledProgramsManager::Explanation() const {
    return LoadResourceText(kIdsUninstallExplanation);
}

void InstalledProgramsManager::Fill() {
    ClearRows();
    subKeys_.clear();
    RegHandle parent = 0;
    if (registry_.OpenKey(kHkeyLocalMachine, kUninstallKeyPath, kKeyAllAccess, &parent) !=
        kErrorSuccess) {
        return;
    }
    uint32_t count = 0;
    registry_.QueryInfoKey(parent, &count, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        std::string subKey;
        if (registry_.EnumKey(parent, i, &subKey, 255) != kErrorSuccess) continue;
        std::string path = JoinKey(kUninstallKeyPath, subKey);
        RegHandle key = 0;
        if (registry_.OpenKey(kHkeyLocalMachine, path, kKeyAllAccess, &key) != kErrorSuccess) {
            continue;
        }
        std::string number;
        bool hidden =
            registry_.QueryValue(key, "SystemComponent", 4, nullptr, &number) == kErrorSuccess &&
            ReadsAsOne(number);
        std::string displayName;
        bool named =
            registry_.QueryValue(key, "DisplayName", 260, nullptr, &displayName) == kErrorSuccess;
        registry_.CloseKey(key);
        if (hidden || !named) continue;
        if (size_t nul = displayName.find('\0'); nul != std::string::npos) displayName.resize(nul);
        AddRow(std::move(displayName),
               registry_.ReadStringValue(kHkeyLocalMachine, path, "UninstallString"));
        subKeys_.push_back(std::move(subKey));
    }
    registry_.CloseKey(parent);
}

EntryManager::RemoveResult InstalledProgramsManager::RemoveRow(size_t row) {
    const std::string& subKey = subKeys_[row];
    if (!ParkUninstallEntry(registry_, subKey)) return RemoveResult::NotParked;
    if (!DeleteRegKey(registry_, kHkeyLocalMachine, JoinKey(kUninstallKeyPath, subKey))) {
        return RemoveResult::NotRemoved;
    }
    return RemoveResult::Removed;
}

}  // namespace hivewise
