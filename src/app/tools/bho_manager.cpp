#include "app/tools/bho_manager.h"

#include "platform/machine/string_table.h"
#include "repair/registry_removal.h"
#include "tools/parked_entries.h"

namespace hivewise {

BhoManager::BhoManager(Machine& machine, UserPrompts& prompts, RestoreOpener openRestore)
    : EntryManager(machine, prompts, std::move(openRestore)) {}

ManagerColumn BhoManager::Column(int index) const {
    return index == 0 ? ManagerColumn{"BHO Name", 90} : ManagerColumn{"Path", 350};
}

std::string BhoManager::Explanation() const {
    return LoadResourceText(kIdsBhoExplanation);
}

void BhoManager::Fill() {
    ClearRows();
    classIds_.clear();
    RegHandle parent = 0;
    if (registry_.OpenKey(kHkeyLocalMachine, kBhoKeyPath, kKeyAllAccess, &parent) !=
        kErrorSuccess) {
        return;
    }
    uint32_t subKeys = 0;
    registry_.QueryInfoKey(parent, &subKeys, nullptr);
    for (uint32_t i = 0; i < subKeys; ++i) {
        std::string classId;
        if (registry_.EnumKey(parent, i, &classId, 255) != kErrorSuccess) continue;
        RegHandle key = 0;
        if (registry_.OpenKey(parent, classId, kKeyAllAccess, &key) != kErrorSuccess) continue;
        std::string name;
        if (registry_.QueryValue(key, "", 255, nullptr, &name) != kErrorSuccess) name.clear();
        registry_.CloseKey(key);
        if (size_t nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
        std::string server = registry_.ReadStringValue(
            kHkeyClassesRoot, "CLSID\\" + classId + "\\InprocServer32", "");
        AddRow(std::move(name), std::move(server));
        classIds_.push_back(std::move(classId));
    }
    registry_.CloseKey(parent);
}

std::string BhoManager::RowLabel(size_t row) const {
    return Rows()[row].name.empty() ? classIds_[row] : Rows()[row].name;
}

EntryManager::RemoveResult BhoManager::RemoveRow(size_t row) {
    const std::string& classId = classIds_[row];
    std::string parkingName = Rows()[row].path + "?" + Rows()[row].name;
    if (!ParkBho(registry_, classId, parkingName)) return RemoveResult::NotParked;
    if (!DeleteRegKey(registry_, kHkeyLocalMachine, JoinKey(kBhoKeyPath, classId))) {
        return RemoveResult::NotRemoved;
    }
    return RemoveResult::Removed;
}

}  // namespace hivewise
