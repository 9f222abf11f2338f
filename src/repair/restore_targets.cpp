#include "repair/restore_targets.h"

#include <cctype>
#include <string_view>

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/files/xdg_folders.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

// A key path under one of the machine's own roots, by the long name records use, with a
// sub-key below the root.
bool UnderOwnRoot(std::string_view keyPath) {
    auto split = SplitRootPath(keyPath);
    return split && !split->second.empty();
}

bool IsShortcutName(std::string_view path) {
    constexpr std::string_view kExtension = ".lnk";
    return path.size() > kExtension.size() &&
           AnsiEqualsNoCase(path.substr(path.size() - kExtension.size()), kExtension);
}

bool MayRestoreFile(Machine& machine, const std::string& destination) {
    FileSystemAccess files(machine);
    auto parts = machine.Paths().Parse(destination);
    std::string system = files.SystemDirectory();
    if (!parts || parts->unc || parts->components.empty() || system.empty()) return false;
    // Only what the shortcut section removes: a shortcut on the system drive.
    if (parts->drive != std::toupper(static_cast<unsigned char>(system[0]))) return false;
    return IsShortcutName(destination) && files.InPrefix(destination, /*mayNotExist=*/true);
}

// `path` is `base` or lies below it; both are lookups below the same key.
bool AtOrBelow(std::u16string_view path, std::u16string_view base) {
    if (path.size() < base.size() || !EqualsNoCase(path.substr(0, base.size()), base)) return false;
    return path.size() == base.size() || base.empty() || path[base.size()] == u'\\';
}

// True when the way from the key to `lookup` (a lookup at or below the key's own) runs
// through a key that is a link: what is written there would land where the link leads.
bool ThroughLink(RegistryStore& store, const RegPath& key, std::u16string_view lookup) {
    std::u16string_view own = key.lookup;
    size_t cut = own.rfind(u'\\');
    std::u16string_view parentPath =
        cut == std::u16string_view::npos ? std::u16string_view{} : own.substr(0, cut);
    // The key's own path may pass links (CurrentControlSet); the repair took it so too.
    RegKey* at = store.Find(key.base, parentPath);
    std::u16string_view rest = lookup.substr(parentPath.empty() ? 0 : parentPath.size() + 1);
    while (at && !rest.empty()) {
        size_t end = rest.find(u'\\');
        at = at->FindSubKey(rest.substr(0, end));
        if (at && at->IsLink()) return true;
        rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
    }
    return false;
}

bool MayRestoreKey(Machine& machine, const std::string& keyPath, std::string_view bytes) {
    if (!UnderOwnRoot(keyPath)) return false;
    auto key = ParseRegPath(machine, AnsiToUtf16(keyPath));
    if (!key) return false;
    auto outline = OutlineRegFile(bytes);
    if (!outline || outline->setsLinks) return false;
    RegistryStore& store = machine.Registry();
    auto lock = store.Lock();
    for (const std::u16string& name : outline->keys) {
        auto section = ParseRegPath(machine, name);
        if (!section || section->base != key->base || !AtOrBelow(section->lookup, key->lookup) ||
            ThroughLink(store, *key, section->lookup)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool MayRestore(Machine& machine, const BackupItem& item, std::string_view exportBytes) {
    switch (item.kind) {
        case kBackupHostFile: {
            auto folders = CurrentXdgFolders();
            return folders && MayTouchMenuBuilderFile(*folders, std::filesystem::path(item.second));
        }
        case kBackupFile:
            return MayRestoreFile(machine, item.second);
        case kBackupKey:
            return MayRestoreKey(machine, item.first, exportBytes);
        case kBackupValue:
            return UnderOwnRoot(item.third);
        default:
            return false;
    }
}

}  // namespace hivewise
