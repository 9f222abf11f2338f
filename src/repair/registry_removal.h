#pragma once

#include <string>
#include <string_view>

#include "platform/files/file_system_access.h"
#include "platform/registry/registry_access.h"

// Removal of registry keys, values and files, shared by the repair, the system tools and
// the restore of parked entries. Each returns 1 when the item is gone, 0 otherwise.
namespace hivewise {

// The key at `root`\`path` with everything below it.
int DeleteRegKey(RegistryAccess& registry, RegHandle root, std::string_view path);
// The value `name` (empty: the default value) of `root`\`path`.
int DeleteRegValue(RegistryAccess& registry, RegHandle root, std::string_view path,
                   std::string_view name);
// The access-denied recovery: lets this user delete the key and its sub-keys. There is no
// access control in a prefix, so this fails whenever the key's access list cannot be set.
bool GrantKeyAccess(RegistryAccess& registry, RegHandle root, std::string_view path);
// Deletes the file now, or else records it for deletion at the next restart. 1 when done:
// a file that could not be deleted now is treated as done. 0, touching nothing, for a path
// whose host path (links resolved) is not inside the prefix's folder.
int DeleteFileOrOnReboot(FileSystemAccess& files, const std::string& path);
// The same, telling apart a file deleted now from one whose deletion waits for the next
// start of Wine, and from one that could be neither.
enum class FileRemoval { kDeleted, kQueued, kFailed };
FileRemoval DeleteFileNowOrAtRestart(FileSystemAccess& files, const std::string& path);

}  // namespace hivewise
