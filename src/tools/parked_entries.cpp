#include "tools/parked_entries.h"

#include <cstdint>

#include "platform/machine/text.h"
#include "platform/registry/registry_editor.h"
#include "repair/registry_removal.h"

namespace hivewise {
namespace {

// How many copies of one name stay parked at most.
constexpr int kMaxParkedCopies = 999;

bool CreateArea(RegistryAccess& registry, std::string_view area) {
    ScopedKey key(registry);
    if (registry.CreateKey(kHkeyCurrentUser, area, &key) != kErrorSuccess) return false;
    return true;
}

std::string NamesKey(std::string_view area) {
    size_t cut = area.rfind('\\');
    return JoinKey(kParkedNamesPath, cut == std::string_view::npos ? area : area.substr(cut + 1));
}

bool ValueExists(RegistryAccess& registry, RegHandle root, std::string_view path,
                 std::string_view name) {
    ScopedKey key(registry);
    if (registry.OpenKey(root, path, kKeyRead, &key) != kErrorSuccess) return false;
    bool found = registry.QueryValue(key, name, SIZE_MAX, nullptr, nullptr) == kErrorSuccess;
    return found;
}

// Where a new parking of `name` goes: the first of `name`, "name (2)", "name (3)" ... that
// is free or holds this same entry already. Empty when none is.
template <typename Exists, typename Same>
std::string ChooseSlot(RegistryAccess& registry, std::string_view area, std::string_view name,
                       Exists exists, Same same) {
    std::string slot(name);
    for (int n = 2; n <= kMaxParkedCopies + 1; ++n) {
        if (!exists(slot)) return slot;
        if (AnsiEqualsNoCase(ParkedEntryName(registry, area, slot), name) && same(slot)) {
            return slot;
        }
        slot = std::string(name) + " (" + std::to_string(n) + ")";
    }
    return {};
}

// Notes which entry `slot` holds, when that is not told by its name.
bool RecordSlot(RegistryAccess& registry, std::string_view area, const std::string& slot,
                std::string_view name) {
    if (slot == name) {
        ForgetParkedEntryName(registry, area, slot);
        return true;
    }
    std::string names = NamesKey(area);
    return CreateArea(registry, names) &&
           registry.WriteValue(kHkeyCurrentUser, names, slot, name, kRegSz);
}

}  // namespace

std::string JoinKey(std::string_view parent, std::string_view child) {
    std::string path(parent);
    path += '\\';
    path += child;
    return path;
}

bool ParkStartupEntry(RegistryAccess& registry, const StartupEntry& entry) {
    std::string_view area = entry.machineWide ? kRunLMBkupPath : kRunCUBkupPath;
    if (!CreateArea(registry, area)) return false;
    RegHandle root = entry.machineWide ? kHkeyLocalMachine : kHkeyCurrentUser;
    bool live = ValueExists(registry, root, kRunKeyPath, entry.programName);
    std::string slot = ChooseSlot(
        registry, area, entry.programName,
        [&](const std::string& name) {
            return ValueExists(registry, kHkeyCurrentUser, area, name);
        },
        [&](const std::string& name) {
            if (live) {
                return SameValueExact(registry, root, kRunKeyPath, entry.programName,
                                      kHkeyCurrentUser, area, name);
            }
            return registry.ReadStringValue(kHkeyCurrentUser, area, name) == entry.runPath;
        });
    if (slot.empty()) return false;
    bool parked = live && CopyValueExact(registry, root, kRunKeyPath, entry.programName,
                                         kHkeyCurrentUser, area, slot);
    // The value is gone from the Run key: keep what the list showed.
    if (!parked) {
        parked = registry.WriteValue(kHkeyCurrentUser, area, slot, entry.runPath, kRegSz);
    }
    return parked && RecordSlot(registry, area, slot, entry.programName);
}

bool ParkBho(RegistryAccess& registry, std::string_view classId, std::string_view parkingName) {
    if (!CreateArea(registry, kBhoBkupPath)) return false;
    std::string slot = ChooseSlot(
        registry, kBhoBkupPath, parkingName,
        [&](const std::string& name) {
            return ValueExists(registry, kHkeyCurrentUser, kBhoBkupPath, name);
        },
        [&](const std::string& name) {
            std::string parked = registry.ReadStringValue(kHkeyCurrentUser, kBhoBkupPath, name);
            return AnsiEqualsNoCase(parked.substr(0, parked.find('\0')), classId);
        });
    if (slot.empty()) return false;
    if (!registry.WriteValue(kHkeyCurrentUser, kBhoBkupPath, slot, classId, kRegSz) ||
        !RecordSlot(registry, kBhoBkupPath, slot, parkingName)) {
        return false;
    }
    ScopedKey source(registry);
    if (registry.OpenKey(kHkeyLocalMachine, JoinKey(kBhoKeyPath, classId), kKeyRead, &source) !=
        kErrorSuccess) {
        return true;  // nothing more to keep than the name
    }
    std::string copyPath = JoinKey(kBhoBkupPath, classId);
    if (registry.KeyExists(kHkeyCurrentUser, copyPath)) {
        DeleteRegKey(registry, kHkeyCurrentUser, copyPath);
    }
    long result = CopyKeyTree(registry, source, kHkeyCurrentUser, copyPath);
    if (result != kErrorSuccess) {
        DeleteRegKey(registry, kHkeyCurrentUser, copyPath);
        DeleteRegValue(registry, kHkeyCurrentUser, kBhoBkupPath, slot);
        ForgetParkedEntryName(registry, kBhoBkupPath, slot);
        return false;
    }
    return true;
}

bool ParkUninstallEntry(RegistryAccess& registry, std::string_view subKeyName) {
    std::string sourcePath = JoinKey(kUninstallKeyPath, subKeyName);
    ScopedKey source(registry);
    if (registry.OpenKey(kHkeyLocalMachine, sourcePath, kKeyRead, &source) != kErrorSuccess) {
        return false;
    }
    ScopedKey parent(registry);
    if (registry.CreateKey(kHkeyCurrentUser, "Software\\Hivewise", &parent) != kErrorSuccess) {
        return false;
    }
    std::string slot = ChooseSlot(
        registry, kUninstallBkupPath, subKeyName,
        [&](const std::string& name) {
            return registry.KeyExists(kHkeyCurrentUser, JoinKey(kUninstallBkupPath, name));
        },
        [&](const std::string& name) {
            return SameKeyTree(registry, kHkeyLocalMachine, sourcePath, kHkeyCurrentUser,
                               JoinKey(kUninstallBkupPath, name));
        });
    std::string fullPath = JoinKey(kUninstallBkupPath, slot);
    long result = slot.empty() ? kErrorAccessDenied : kErrorSuccess;
    if (result == kErrorSuccess) {
        // The same entry parked before is copied afresh.
        if (registry.KeyExists(kHkeyCurrentUser, fullPath)) {
            DeleteRegKey(registry, kHkeyCurrentUser, fullPath);
        }
        result = CopyKeyTree(registry, source, parent, JoinKey("UninstallBkup", slot));
    }
    if (result != kErrorSuccess || !RecordSlot(registry, kUninstallBkupPath, slot, subKeyName)) {
        // A partial copy would be listed as if it were complete.
        if (!slot.empty()) DeleteRegKey(registry, kHkeyCurrentUser, fullPath);
        return false;
    }
    return true;
}

std::string ParkedEntryName(RegistryAccess& registry, std::string_view area,
                            std::string_view parkingName) {
    ScopedKey names(registry);
    if (registry.OpenKey(kHkeyCurrentUser, NamesKey(area), kKeyRead, &names) != kErrorSuccess) {
        return std::string(parkingName);
    }
    std::string name;
    long result = registry.QueryValue(names, parkingName, 16383, nullptr, &name);
    if (result != kErrorSuccess) return std::string(parkingName);
    return UpToNul(std::move(name));
}

void ForgetParkedEntryName(RegistryAccess& registry, std::string_view area,
                           std::string_view parkingName) {
    std::string names = NamesKey(area);
    if (ValueExists(registry, kHkeyCurrentUser, names, parkingName)) {
        DeleteRegValue(registry, kHkeyCurrentUser, names, parkingName);
    }
}

}  // namespace hivewise
