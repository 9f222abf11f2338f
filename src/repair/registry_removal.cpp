#include "repair/registry_removal.h"

namespace hivewise {

int DeleteRegKey(RegistryAccess& registry, RegHandle root, std::string_view path) {
    long result = registry.DeleteKeyTree(root, path);
    if (result == kErrorSuccess) return 1;
    if (result != kErrorAccessDenied || !GrantKeyAccess(registry, root, path)) return 0;
    return registry.DeleteKeyTree(root, path) == kErrorSuccess ? 1 : 0;
}

int DeleteRegValue(RegistryAccess& registry, RegHandle root, std::string_view path,
                   std::string_view name) {
    long result = registry.DeleteValue(root, path, name);
    if (result == kErrorSuccess) return 1;
    if (result != kErrorAccessDenied || !GrantKeyAccess(registry, root, path)) return 0;
    return registry.DeleteValue(root, path, name) == kErrorSuccess ? 1 : 0;
}

bool GrantKeyAccess(RegistryAccess& registry, RegHandle root, std::string_view path) {
    ScopedKey key(registry);
    if (registry.OpenKey(root, path, kWriteDac, &key) != kErrorSuccess) return false;
    long result = registry.SetKeySecurity(key);
    if (result != kErrorSuccess) return false;
    // Sub-keys get the same setting; their failures do not fail the whole.
    if (registry.OpenKey(root, path, kKeyRead, &key) != kErrorSuccess) return false;
    uint32_t subKeys = 0;
    long info = registry.QueryInfoKey(key, &subKeys, nullptr);
    for (uint32_t index = 0; info == kErrorSuccess && index < subKeys; ++index) {
        std::string name;
        long enumResult = registry.EnumKey(key, index, &name, 260);
        if (enumResult == kErrorNoMoreItems) break;
        if (enumResult != kErrorSuccess) continue;
        std::string child(path);
        if (!child.empty()) child += '\\';
        GrantKeyAccess(registry, root, child + name);
    }
    return info == kErrorSuccess;
}

int DeleteFileOrOnReboot(FileSystemAccess& files, const std::string& path) {
    // A finding may come from an old scan or a crafted list: nothing outside the prefix
    // is deleted, now or at the next restart.
    if (!files.InPrefix(path, /*mayNotExist=*/true)) return 0;
    DeleteFileNowOrAtRestart(files, path);
    return 1;
}

FileRemoval DeleteFileNowOrAtRestart(FileSystemAccess& files, const std::string& path) {
    if (!files.InPrefix(path, /*mayNotExist=*/true)) return FileRemoval::kFailed;
    if (files.DeleteFile(path)) return FileRemoval::kDeleted;
    // A file that is not there is not queued: nothing would be removed at the restart.
    if (files.GetFileAttributes(path) == kInvalidFileAttributes) return FileRemoval::kFailed;
    return files.DeleteFileOnReboot(path) ? FileRemoval::kQueued : FileRemoval::kFailed;
}

}  // namespace hivewise
