#include "repair/restore_backup.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/files/scratch_folder.h"
#include "platform/files/xdg_folders.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_access.h"
#include "repair/exact_value.h"
#include "repair/restore_targets.h"
#include "scan/menu_entries/desktop_entry.h"

namespace hivewise {
namespace {

// Newest first: year, month, day, hour, minute, second, then the sequence number.
std::vector<long> OrderKey(const std::string& fileName) {
    std::string stem = fileName.substr(0, fileName.rfind('.'));
    auto numbers = BackupNameNumbers(stem);
    if (!numbers) return {};
    const std::vector<long>& n = *numbers;
    return {n[2], n[0], n[1], n[3], n[4], n[5], n.size() > 6 ? n[6] : 1};
}

}  // namespace

std::vector<BackupArchive> ListBackupArchives(Machine& machine, const std::string& folder) {
    std::vector<BackupArchive> dates;
    FileSystemAccess files(machine);
    auto entries = files.FindFiles(folder + "\\*.zip");
    if (!entries) return dates;
    for (const FindEntry& entry : *entries) {
        if (entry.name.empty() || entry.name[0] == '.') continue;
        if (entry.attributes & kFileAttributeDirectory) continue;
        std::string stem = entry.name.substr(0, entry.name.rfind('.'));
        dates.push_back({folder + "\\" + entry.name, entry.name, FormatBackupDate(stem)});
    }
    std::stable_sort(dates.begin(), dates.end(), [](const auto& a, const auto& b) {
        std::vector<long> x = OrderKey(a.fileName), y = OrderKey(b.fileName);
        if (x.empty() != y.empty()) return y.empty();
        if (x != y) return x > y;
        return a.fileName > b.fileName;
    });
    return dates;
}

std::string CouldNotRestoreText(std::string_view what) {
    return "Could not restore " + std::string(what);
}

std::vector<BackupArchive> ListFixBackups(Machine& machine) {
    return ListBackupArchives(machine, BackupFolder(machine));
}

std::string FindFixBackup(Machine& machine, const std::string& nameOrPath) {
    return FindBackupArchive(machine, BackupFolder(machine), nameOrPath);
}

std::string FindBackupArchive(Machine& machine, const std::string& folder,
                              const std::string& nameOrPath) {
    for (const BackupArchive& archive : ListBackupArchives(machine, folder)) {
        if (AnsiEqualsNoCase(archive.fileName, nameOrPath)) return archive.path;
    }
    FileSystemAccess files(machine);
    std::error_code ec;
    if (std::filesystem::is_regular_file(nameOrPath, ec)) {
        auto windows =
            files.ToWindowsPath(std::filesystem::absolute(std::filesystem::path(nameOrPath)));
        if (windows) return *windows;
    }
    uint32_t attributes = files.GetFileAttributes(nameOrPath);
    if (attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory)) {
        return nameOrPath;
    }
    return {};
}

std::string_view ItemTypeText(const BackupItem& item) {
    switch (item.kind) {
        case kBackupKey:
            return "RegKey";
        case kBackupValue:
            return "RegValue";
        case kBackupHostFile:
            return "HostFile";
        default:
            return "ShortCut";
    }
}

const std::string& ItemPathText(const BackupItem& item) {
    switch (item.kind) {
        case kBackupKey:
            return item.first;
        case kBackupValue:
            return item.third;
        default:
            return item.second;
    }
}

namespace {

std::string CopyNameOf(const BackupItem& item) {
    if (item.kind == kBackupKey) return item.second.substr(item.second.empty() ? 0 : 1);
    return item.entry.empty() ? BareName(item.second) : item.entry;
}

// True when every item's saved copy is in the unpacked folder.
bool CopiesPresent(Machine& machine, const std::vector<BackupItem>& items,
                   const std::string& folder) {
    FileSystemAccess files(machine);
    for (const BackupItem& item : items) {
        if (item.kind == kBackupValue) continue;
        std::string name = CopyNameOf(item);
        if (!IsBareName(name) || !files.PathFileExists(folder + "\\" + name)) return false;
    }
    return true;
}

bool RestoreItem(Machine& machine, const BackupItem& item, const std::string& folder) {
    // A record names only what a repair could have removed, where it came from.
    if (!MayRestore(machine, item, folder + "\\" + CopyNameOf(item))) return false;
    switch (item.kind) {
        case kBackupKey: {
            RegImportResult imported = ImportRegFileFrom(machine, folder + "\\" + CopyNameOf(item));
            return imported.allApplied;
        }
        case kBackupValue: {
            if (item.exact) return WriteExactValue(machine, item.third, *item.exact);
            // A record without the value's own bytes: written back as text.
            size_t cut = item.third.find('\\');
            if (cut == std::string::npos) return false;
            auto root = RegistryAccess::RootFromName(std::string_view(item.third).substr(0, cut));
            if (!root) return false;
            RegistryAccess registry(machine);
            return registry.WriteValue(*root, item.third.substr(cut + 1), item.fourth, item.first,
                                       kRegSz);
        }
        case kBackupHostFile: {
            auto copy = FileSystemAccess(machine).ToHostPath(folder + "\\" + CopyNameOf(item));
            std::string bytes, error;
            std::filesystem::path destination(item.second);
            // Only permission bits: a saved file never comes back set-user-ID.
            auto mode = static_cast<mode_t>(item.mode & 0777);
            if (!copy || !ReadSmallFile(*copy, &bytes, kFileCopyLimit) ||
                !WriteFileAtomically(destination, bytes, &error, mode)) {
                return false;
            }
            // An existing file keeps its mode through the write; the saved one is wanted.
            return ::chmod(destination.c_str(), mode) == 0;
        }
        default: {
            FileSystemAccess files(machine);
            // A restore killed while copying left its temporary copy beside the shortcut.
            files.RemoveCopyLeftovers(item.second);
            return files.CopyFile(folder + "\\" + CopyNameOf(item), item.second);
        }
    }
}

}  // namespace

RestoreResult RestoreBackupItems(Machine& machine, const std::string& archive,
                                 const std::vector<BackupItem>& items,
                                 const std::function<void(const std::string&)>& onFailure) {
    RestoreResult result;
    // What could not be saved afterwards is not put back now.
    if (WineServerRunning(machine.PrefixDir())) {
        result.wineRunning = true;
        result.refusal = WineRunningMessage(machine.PrefixDir());
    } else {
        result.refusal = machine.SaveRefusal();
    }
    if (!result.refusal.empty()) {
        result.refused = true;
        return result;
    }
    FileSystemAccess files(machine);
    std::string folder = RestoreWorkFolder(machine);
    // Only this archive's entries may be in the folder the items are taken from.
    bool ready = PrepareScratchFolder(machine, folder);
    FixBackup backup(machine);
    backup.SetArchivePath(archive);
    std::string text, error;
    auto config = files.ToHostPath(folder + "\\" + std::string(kConfigEntry), true);
    bool whole = ready && backup.ExtractAllEntries(folder) && config &&
                 ReadWholeFile(*config, &text, &error, ConfigLimit(machine)) &&
                 ConfigIsSound(text) && CopiesPresent(machine, items, folder);
    std::vector<std::filesystem::path> desktopChanged;
    if (whole) {
        // Keys first: a value saved before its key was removed goes back into the key.
        for (int kind : {kBackupKey, kBackupValue, kBackupFile, kBackupHostFile}) {
            for (const BackupItem& item : items) {
                if (item.kind != kind) continue;
                if (RestoreItem(machine, item, folder)) {
                    ++result.restored;
                    if (kind == kBackupHostFile) desktopChanged.push_back(item.second);
                    continue;
                }
                // A key by its path, a value by its data text, a file by its path.
                bool file = kind == kBackupFile || kind == kBackupHostFile;
                std::string failure = CouldNotRestoreText(file ? item.second : item.first);
                ++result.failed;
                result.failures.push_back(failure);
                if (onFailure) onFailure(failure);
            }
        }
    }
    if (ready && ClearScratchFolder(machine, folder, true)) files.RemoveDirectory(folder);
    if (auto folders = CurrentXdgFolders(); !desktopChanged.empty() && folders) {
        RefreshDesktopCaches(*folders, desktopChanged);
    }
    result.invalid = !whole;
    return result;
}

}  // namespace hivewise
