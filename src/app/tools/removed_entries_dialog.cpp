#include "app/tools/removed_entries_dialog.h"

#include "platform/machine/prefix_lock.h"
#include "repair/registry_removal.h"
#include "tools/key_copy.h"
#include "tools/parked_entries.h"

namespace hivewise {
namespace {

std::string UpToNul(std::string text) {
    if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

}  // namespace

void SplitHelperParkingName(std::string_view parkingName, std::string_view serverPath,
                            std::string* path, std::string* name) {
    size_t cut = parkingName.find('?');
    // A path that itself holds "?" is recognised by the class's registered server.
    if (!serverPath.empty() && parkingName.size() > serverPath.size() &&
        parkingName.substr(0, serverPath.size()) == serverPath &&
        parkingName[serverPath.size()] == '?') {
        cut = serverPath.size();
    }
    if (cut == std::string_view::npos) {
        path->clear();
        *name = std::string(parkingName);
        return;
    }
    *path = std::string(parkingName.substr(0, cut));
    *name = std::string(parkingName.substr(cut + 1));
}

RemovedEntriesDialog::RemovedEntriesDialog(Machine& machine, UserPrompts& prompts,
                                           RemovedEntriesMode mode)
    : machine_(machine), prompts_(prompts), registry_(machine), mode_(mode) {}

ManagerColumn RemovedEntriesDialog::Column(int index) const {
    switch (mode_) {
        case RemovedEntriesMode::HelperObjects:
            return index == 0 ? ManagerColumn{"BHO Name", 100} : ManagerColumn{"File", 275};
        case RemovedEntriesMode::Startup:
            return index == 0 ? ManagerColumn{"App Name", 100} : ManagerColumn{"File", 275};
        case RemovedEntriesMode::InstalledPrograms:
            break;
    }
    return index == 0 ? ManagerColumn{"App Name", 100} : ManagerColumn{"Uninstall File", 275};
}

void RemovedEntriesDialog::Fill() {
    rows_.clear();
    switch (mode_) {
        case RemovedEntriesMode::HelperObjects:
            FillHelperObjects();
            break;
        case RemovedEntriesMode::Startup:
            FillStartup(kRunCUBkupPath, kHkeyCurrentUser, kUserRunKeyPath);
            FillStartup(kRunLMBkupPath, kHkeyLocalMachine, kRunKeyPath);
            break;
        case RemovedEntriesMode::InstalledPrograms:
            FillInstalledPrograms();
            break;
    }
}

void RemovedEntriesDialog::FillHelperObjects() {
    RegHandle area = 0;
    if (registry_.OpenKey(kHkeyCurrentUser, kBhoBkupPath, kKeyAllAccess, &area) != kErrorSuccess) {
        return;
    }
    uint32_t values = 0;
    registry_.QueryInfoKey(area, nullptr, &values);
    for (uint32_t i = 0; i < values; ++i) {
        RemovedEntry row;
        std::string classId;
        if (registry_.EnumValue(area, i, &row.parkingName, 16383, nullptr, &classId) !=
            kErrorSuccess) {
            continue;
        }
        classId = UpToNul(std::move(classId));
        std::string server = registry_.ReadStringValue(
            kHkeyClassesRoot, "CLSID\\" + classId + "\\InprocServer32", "");
        row.entryName = ParkedEntryName(registry_, kBhoBkupPath, row.parkingName);
        SplitHelperParkingName(row.entryName, server, &row.secondColumn, &row.firstColumn);
        row.root = kHkeyLocalMachine;
        row.targetKey = kBhoKeyPath;
        row.keyToCreate = classId;
        row.dataToWrite = row.firstColumn;
        row.area = kBhoBkupPath;
        rows_.push_back(std::move(row));
    }
    registry_.CloseKey(area);
}

void RemovedEntriesDialog::FillStartup(std::string_view areaPath, RegHandle root,
                                       std::string_view target) {
    RegHandle area = 0;
    if (registry_.OpenKey(kHkeyCurrentUser, areaPath, kKeyAllAccess, &area) != kErrorSuccess) {
        return;
    }
    uint32_t values = 0;
    registry_.QueryInfoKey(area, nullptr, &values);
    for (uint32_t i = 0; i < values; ++i) {
        RemovedEntry row;
        std::string data;
        if (registry_.EnumValue(area, i, &row.parkingName, 16383, nullptr, &data) !=
            kErrorSuccess) {
            continue;
        }
        row.root = root;
        row.targetKey = target;
        row.entryName = ParkedEntryName(registry_, areaPath, row.parkingName);
        row.valueNameToWrite = row.entryName;
        row.dataToWrite = UpToNul(std::move(data));
        row.writesValue = 1;
        row.area = areaPath;
        row.firstColumn = row.entryName;
        row.secondColumn = row.dataToWrite;
        rows_.push_back(std::move(row));
    }
    registry_.CloseKey(area);
}

void RemovedEntriesDialog::FillInstalledPrograms() {
    RegHandle area = 0;
    if (registry_.OpenKey(kHkeyCurrentUser, kUninstallBkupPath, kKeyAllAccess, &area) !=
        kErrorSuccess) {
        return;
    }
    uint32_t subKeys = 0;
    registry_.QueryInfoKey(area, &subKeys, nullptr);
    for (uint32_t i = 0; i < subKeys; ++i) {
        RemovedEntry row;
        if (registry_.EnumKey(area, i, &row.parkingName, 255) != kErrorSuccess) continue;
        std::string path = JoinKey(kUninstallBkupPath, row.parkingName);
        RegHandle key = 0;
        if (registry_.OpenKey(kHkeyCurrentUser, path, kKeyAllAccess, &key) != kErrorSuccess) {
            continue;
        }
        std::string displayName;
        bool named =
            registry_.QueryValue(key, "DisplayName", 260, nullptr, &displayName) == kErrorSuccess;
        registry_.CloseKey(key);
        if (!named) continue;
        row.firstColumn = UpToNul(std::move(displayName));
        row.secondColumn = registry_.ReadStringValue(kHkeyCurrentUser, path, "UninstallString");
        row.area = kUninstallBkupPath;
        row.entryName = ParkedEntryName(registry_, kUninstallBkupPath, row.parkingName);
        rows_.push_back(std::move(row));
    }
    registry_.CloseKey(area);
}

void RemovedEntriesDialog::SetChecked(size_t row, bool checked) {
    if (row < rows_.size()) rows_[row].checked = checked;
}

bool RemovedEntriesDialog::Restore(RestoreOutcome* outcome) {
    RestoreOutcome local;
    RestoreOutcome& result = outcome ? *outcome : local;
    result = RestoreOutcome{};
    bool any = false;
    for (const RemovedEntry& row : rows_)
        any = any || row.checked;
    if (!any) {
        prompts_.Message(std::string(kCheckItemToRemoveText));
        result.nothingChecked = true;
        return false;
    }
    if (WineServerRunning(machine_.PrefixDir())) {
        prompts_.Message(WineRunningMessage(machine_.PrefixDir()));
        result.refused = true;
        return false;
    }
    for (const RemovedEntry& row : rows_) {
        if (!row.checked) continue;
        if (RestoreRow(row)) {
            ++result.restored;
        } else {
            ++result.failed;
            std::string label = row.firstColumn.empty() ? row.parkingName : row.firstColumn;
            prompts_.Message(FormatOne(kNotRestoredText, label));
        }
    }
    if (result.restored == 0) return false;
    prompts_.Notice(std::string(kItemsRestoredText));
    return true;
}

bool RemovedEntriesDialog::RestoreRow(const RemovedEntry& row) {
    switch (mode_) {
        case RemovedEntriesMode::InstalledPrograms: {
            std::string parked = JoinKey(kUninstallBkupPath, row.parkingName);
            std::string target = JoinKey(kUninstallKeyPath, row.entryName);
            RegHandle source = 0;
            if (registry_.OpenKey(kHkeyCurrentUser, parked, kKeyRead, &source) != kErrorSuccess) {
                return false;
            }
            RegHandle parent = 0;
            long result = registry_.CreateKey(kHkeyLocalMachine, kCurrentVersionKeyPath, &parent);
            bool existed = registry_.KeyExists(kHkeyLocalMachine, target);
            if (result == kErrorSuccess) {
                result =
                    CopyKeyTree(registry_, source, parent, JoinKey("Uninstall", row.entryName));
                registry_.CloseKey(parent);
            }
            registry_.CloseKey(source);
            if (result != kErrorSuccess) {
                // A half-made registration would list a program that is not all there.
                if (!existed) DeleteRegKey(registry_, kHkeyLocalMachine, target);
                return false;
            }
            DeleteRegKey(registry_, kHkeyCurrentUser, parked);
            ForgetParkedEntryName(registry_, row.area, row.parkingName);
            return true;
        }
        case RemovedEntriesMode::Startup: {
            if (!CopyValueExact(registry_, kHkeyCurrentUser, row.area, row.parkingName, row.root,
                                row.targetKey, row.valueNameToWrite)) {
                return false;
            }
            DeleteRegValue(registry_, kHkeyCurrentUser, row.area, row.parkingName);
            ForgetParkedEntryName(registry_, row.area, row.parkingName);
            return true;
        }
        case RemovedEntriesMode::HelperObjects: {
            std::string target = JoinKey(row.targetKey, row.keyToCreate);
            std::string copy = JoinKey(kBhoBkupPath, row.keyToCreate);
            RegHandle source = 0;
            if (!row.keyToCreate.empty() &&
                registry_.OpenKey(kHkeyCurrentUser, copy, kKeyRead, &source) == kErrorSuccess) {
                // The parked copy holds the object's key as it was, every value included.
                long result = CopyKeyTree(registry_, source, row.root, target);
                registry_.CloseKey(source);
                if (result != kErrorSuccess) return false;
                DeleteRegKey(registry_, kHkeyCurrentUser, copy);
            } else {
                RegHandle key = 0;
                if (registry_.CreateKey(row.root, target, &key) != kErrorSuccess) return false;
                long result = kErrorSuccess;
                if (!row.dataToWrite.empty()) {
                    result = registry_.SetValue(key, "", kRegSz, row.dataToWrite);
                }
                registry_.CloseKey(key);
                if (result != kErrorSuccess) return false;
            }
            DeleteRegValue(registry_, kHkeyCurrentUser, row.area, row.parkingName);
            ForgetParkedEntryName(registry_, row.area, row.parkingName);
            return true;
        }
    }
    return false;
}

}  // namespace hivewise
