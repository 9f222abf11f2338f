#include "repair/restore_backup.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/files/scratch_folder.h"
#include "platform/files/xdg_folders.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_access.h"
#include "platform/registry/registry_editor.h"
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

// The entries of an archive read whole, found by name without regard to case, as a folder
// they were unpacked into would find them. Each item's copy is read out when it is put
// back: unpacking hundreds of thousands of key exports into a folder first made a restore
// wait on the disk for every one of them twice.
class ArchiveCopies {
  public:
    explicit ArchiveCopies(std::unique_ptr<UntrustedArchive> reader) : reader_(std::move(reader)) {
        for (int i = 0, count = reader_ ? reader_->EntryCount() : 0; i < count; ++i) {
            std::string name = AnsiNameOf(reader_->Entry(i).name);
            exact_.insert_or_assign(name, i);
            folded_.insert_or_assign(AnsiLower(name), i);
        }
    }
    bool IsOpen() const { return reader_ != nullptr; }
    // The entry of a bare name, or -1.
    int Find(const std::string& name) const {
        if (!IsBareName(name)) return -1;
        if (auto at = exact_.find(name); at != exact_.end()) return at->second;
        auto at = folded_.find(AnsiLower(name));
        return at == folded_.end() ? -1 : at->second;
    }
    bool Read(const std::string& name, std::string* bytes) {
        int index = Find(name);
        return index >= 0 && reader_->Read(index, bytes) == ZipStatus::kOk;
    }
    // Unpacked into `folder` (a host path) under its own bare name.
    bool Unpack(const std::string& name, const std::filesystem::path& folder) {
        int index = Find(name);
        return index >= 0 && reader_->ExtractAs(index, folder, EntryNameOf(name)) == ZipStatus::kOk;
    }

  private:
    std::unique_ptr<UntrustedArchive> reader_;
    // A later entry of a name wins, as unpacking it over the earlier one did.
    std::unordered_map<std::string, int> exact_;
    std::unordered_map<std::string, int> folded_;
};

// True when every item's saved copy is in the archive.
bool CopiesPresent(const ArchiveCopies& copies, const std::vector<const BackupItem*>& items) {
    for (const BackupItem* item : items) {
        if (item->kind == kBackupValue) continue;
        if (copies.Find(CopyNameOf(*item)) < 0) return false;
    }
    return true;
}

struct RestoreContext {
    Machine& machine;
    ArchiveCopies& copies;
    std::string folder;  // the work folder a shortcut's copy is unpacked into
    bool registryChanged = false;
};

bool RestoreItem(RestoreContext& context, const BackupItem& item) {
    Machine& machine = context.machine;
    std::string name = CopyNameOf(item);
    switch (item.kind) {
        case kBackupKey: {
            std::string bytes;
            // A record names only what a repair could have removed, where it came from.
            if (!context.copies.Read(name, &bytes) || !MayRestore(machine, item, bytes)) {
                return false;
            }
            // The machine's facts are read again once, after the last key.
            RegImportResult imported = ImportRegFile(machine, bytes, false);
            context.registryChanged = context.registryChanged || imported.changed;
            return imported.allApplied;
        }
        case kBackupValue: {
            if (!MayRestore(machine, item)) return false;
            if (item.exact) return WriteExactValue(machine, item.third, *item.exact);
            // A record without the value's own bytes: written back as text.
            auto split = SplitRootPath(item.third);
            if (!split) return false;
            RegistryAccess registry(machine);
            return registry.WriteValue(split->first, split->second, item.fourth, item.first,
                                       kRegSz);
        }
        case kBackupHostFile: {
            if (!MayRestore(machine, item)) return false;
            std::string bytes, error;
            std::filesystem::path destination(item.second);
            // Only permission bits: a saved file never comes back set-user-ID.
            auto mode = static_cast<mode_t>(item.mode & 0777);
            if (!context.copies.Read(name, &bytes) || bytes.size() > kFileCopyLimit ||
                !WriteFileAtomically(destination, bytes, &error, mode)) {
                return false;
            }
            // An existing file keeps its mode through the write; the saved one is wanted.
            return ::chmod(destination.c_str(), mode) == 0;
        }
        default: {
            if (!MayRestore(machine, item)) return false;
            FileSystemAccess files(machine);
            auto folderHost = files.ToHostPath(context.folder, true);
            if (!folderHost || !context.copies.Unpack(name, *folderHost)) return false;
            machine.Paths().Invalidate(*folderHost);
            // A restore killed while copying left its temporary copy beside the shortcut.
            files.RemoveCopyLeftovers(item.second);
            bool copied = files.CopyFile(context.folder + "\\" + name, item.second);
            files.DeleteFile(context.folder + "\\" + name);
            return copied;
        }
    }
}

}  // namespace

RestoreResult RestoreBackupItems(Machine& machine, const std::string& archive,
                                 const std::vector<BackupItem>& items,
                                 const std::function<void(const std::string&)>& onFailure) {
    std::vector<const BackupItem*> held;
    held.reserve(items.size());
    for (const BackupItem& item : items)
        held.push_back(&item);
    return RestoreBackupItems(machine, archive, held, onFailure);
}

RestoreResult RestoreBackupItems(Machine& machine, const std::string& archive,
                                 const std::vector<const BackupItem*>& items,
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
    // Only this archive's entries may be in the folder the shortcuts are copied from.
    bool ready = PrepareScratchFolder(machine, folder);
    FixBackup backup(machine);
    backup.SetArchivePath(archive);
    // Every entry is read through before anything is put back: an archive that does not
    // decrypt whole is not used at all.
    ArchiveCopies copies(ready ? backup.OpenWhole() : nullptr);
    std::string text;
    bool whole = copies.IsOpen() && copies.Read(std::string(kConfigEntry), &text) &&
                 ConfigIsSound(text) && CopiesPresent(copies, items);
    std::vector<std::filesystem::path> desktopChanged;
    if (whole) {
        RestoreContext context{machine, copies, folder};
        // Keys first: a value saved before its key was removed goes back into the key.
        for (int kind : {kBackupKey, kBackupValue, kBackupFile, kBackupHostFile}) {
            for (const BackupItem* held : items) {
                const BackupItem& item = *held;
                if (item.kind != kind) continue;
                if (RestoreItem(context, item)) {
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
            if (kind == kBackupKey && context.registryChanged) {
                machine.RefreshDerivedFacts();
                context.registryChanged = false;
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
