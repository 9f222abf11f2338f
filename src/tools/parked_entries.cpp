#include "tools/parked_entries.h"

#include "repair/registry_removal.h"
#include "tools/key_copy.h"

namespace hivewise {
namespace {

bool CreateArea(RegistryAccess& registry, std::string_view area) {
    RegHandle key = 0;
    if (registry.CreateKey(kHkeyCurrentUser, area, &key) != kErrorSuccess) return false;
    registry.CloseKey(key);
    return true;
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
    if (CopyValueExact(registry, root, kRunKeyPath, entry.programName, kHkeyCurrentUser, area,
                       entry.programName)) {
        return true;
    }
    // The value is gone from the Run key: keep what the list showed.
    return registry.WriteValue(kHkeyCurrentUser, area, entry.programName, entry.runPath, kRegSz);
}

bool ParkBho(RegistryAccess& registry, std::string_view classId, std::string_view parkingName) {
    if (!CreateArea(registry, kBhoBkupPath)) return false;
    if (!registry.WriteValue(kHkeyCurrentUser, kBhoBkupPath, parkingName, classId, kRegSz)) {
        return false;
    }
    RegHandle source = 0;
    if (registry.OpenKey(kHkeyLocalMachine, JoinKey(kBhoKeyPath, classId), kKeyRead, &source) !=
        kErrorSuccess) {
        return true;  // nothing more to keep than the name
    }
    std::string copyPath = JoinKey(kBhoBkupPath, classId);
    if (registry.KeyExists(kHkeyCurrentUser, copyPath)) {
        DeleteRegKey(registry, kHkeyCurrentUser, copyPath);
    }
    long result = CopyKeyTree(registry, source, kHkeyCurrentUser, copyPath);
    registry.CloseKey(source);
    if (result != kErrorSuccess) {
        DeleteRegKey(registry, kHkeyCurrentUser, copyPath);
        DeleteRegValue(registry, kHkeyCurrentUser, kBhoBkupPath, parkingName);
        return false;
    }
    return true;
}

bool ParkUninstallEntry(RegistryAccess& registry, std::string_view subKeyName) {
    RegHandle source = 0;
    if (registry.OpenKey(kHkeyLocalMachine, JoinKey(kUninstallKeyPath, subKeyName), kKeyRead,
                         &source) != kErrorSuccess) {
        return false;
    }
    RegHandle parent = 0;
    if (registry.CreateKey(kHkeyCurrentUser, "Software\\Hivewise", &parent) != kErrorSuccess) {
        registry.CloseKey(source);
        return false;
    }
    std::string path = JoinKey("UninstallBkup", subKeyName);
    // An older copy of the same name would otherwise keep values the entry no longer has.
    std::string fullPath = JoinKey(kUninstallBkupPath, subKeyName);
    if (registry.KeyExists(kHkeyCurrentUser, fullPath)) {
        DeleteRegKey(registry, kHkeyCurrentUser, fullPath);
    }
    long result = CopyKeyTree(registry, source, parent, path);
    registry.CloseKey(parent);
    registry.CloseKey(source);
    if (result != kErrorSuccess) {
        // A partial copy would be listed as if it were complete.
        DeleteRegKey(registry, kHkeyCurrentUser, fullPath);
        return false;
    }
    return true;
}

}  // namespace hivewise
