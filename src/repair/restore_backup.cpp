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

// ---- RestoreBackupDialog ----

RestoreBackupDialog::RestoreBackupDialog(Machine& machine, UserPrompts& prompts)
    : machine_(machine), prompts_(prompts), backup_(machine) {}

void RestoreBackupDialog::Open() {
    rows_.clear();
    selected_ = -1;
    dates_ = ListFixBackups(machine_);
}

void RestoreBackupDialog::SelectNewest() {
    // The list is newest first.
    if (selected_ < 0 && !dates_.empty()) SelectDate(0);
}

bool RestoreBackupDialog::CanRestore() const {
    for (const BackupRow& row : rows_) {
        if (row.checked) return true;
    }
    return false;
}

bool RestoreBackupDialog::SelectArchive(const std::string& path) {
    for (size_t i = 0; i < dates_.size(); ++i) {
        if (AnsiEqualsNoCase(dates_[i].path, path)) {
            SelectDate(static_cast<int>(i));
            return true;
        }
    }
    // An archive given by its path need not be in the backup folder.
    dates_.push_back({path, BareName(path), ""});
    SelectDate(static_cast<int>(dates_.size()) - 1);
    return true;
}

void RestoreBackupDialog::SelectDate(int index) {
    if (index < 0 || index >= static_cast<int>(dates_.size())) return;
    selected_ = index;
    rows_.clear();
    const std::string& archive = dates_[static_cast<size_t>(index)].path;
    backup_.SetArchivePath(archive);
    // Listing the items writes nothing: the record list is read from the archive itself.
    std::string text;
    if (!backup_.ReadConfig(archive, &text) || !ConfigIsSound(text)) {
        prompts_.Message(std::string(kInvalidBackupText));
        return;
    }
    for (BackupItem& item : ReadConfigItems(text))
        rows_.push_back({std::move(item), false});
}

void RestoreBackupDialog::SetChecked(int row, bool checked) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        rows_[static_cast<size_t>(row)].checked = checked;
    }
}

void RestoreBackupDialog::SelectAll() {
    for (BackupRow& row : rows_)
        row.checked = true;
}

void RestoreBackupDialog::DeselectAll() {
    for (BackupRow& row : rows_)
        row.checked = false;
}

namespace {

std::string CopyNameOf(const BackupItem& item) {
    if (item.kind == kBackupKey) return item.second.substr(item.second.empty() ? 0 : 1);
    return item.entry.empty() ? BareName(item.second) : item.entry;
}

}  // namespace

bool RestoreBackupDialog::CopiesPresent(const std::string& folder) {
    FileSystemAccess files(machine_);
    for (const BackupRow& row : rows_) {
        if (!row.checked || row.item.kind == kBackupValue) continue;
        std::string name = CopyNameOf(row.item);
        if (!IsBareName(name) || !files.PathFileExists(folder + "\\" + name)) return false;
    }
    return true;
}

bool RestoreBackupDialog::RestoreItem(const BackupItem& item, const std::string& folder) {
    // A record names only what a repair could have removed, where it came from.
    if (!MayRestore(machine_, item, folder + "\\" + CopyNameOf(item))) return false;
    switch (item.kind) {
        case kBackupKey: {
            RegImportResult imported =
                ImportRegFileFrom(machine_, folder + "\\" + CopyNameOf(item));
            return imported.allApplied;
        }
        case kBackupValue: {
            if (item.exact) return WriteExactValue(machine_, item.third, *item.exact);
            // A record without the value's own bytes: written back as text.
            auto split = SplitRootPath(item.third);
            if (!split) return false;
            RegistryAccess registry(machine_);
            return registry.WriteValue(split->first, split->second, item.fourth, item.first,
                                       kRegSz);
        }
        case kBackupHostFile: {
            auto copy = FileSystemAccess(machine_).ToHostPath(folder + "\\" + CopyNameOf(item));
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
            FileSystemAccess files(machine_);
            // A restore killed while copying left its temporary copy beside the shortcut.
            files.RemoveCopyLeftovers(item.second);
            return files.CopyFile(folder + "\\" + CopyNameOf(item), item.second);
        }
    }
}

bool RestoreBackupDialog::Restore() {
    lastRestore_ = {};
    bool any = std::any_of(rows_.begin(), rows_.end(), [](const auto& row) { return row.checked; });
    if (!any || selected_ < 0) {
        prompts_.Message(std::string(kNoBackupItemsSelectedText));
        return false;
    }
    // What could not be saved afterwards is not put back now.
    std::string refusal;
    if (WineServerRunning(machine_.PrefixDir())) {
        lastRestore_.wineRunning = true;
        refusal = WineRunningMessage(machine_.PrefixDir());
    } else {
        refusal = machine_.SaveRefusal();
    }
    if (!refusal.empty()) {
        lastRestore_.refused = true;
        prompts_.Message(refusal);
        return false;
    }
    FileSystemAccess files(machine_);
    std::string folder = RestoreWorkFolder(machine_);
    // Only this archive's entries may be in the folder the items are taken from.
    bool ready = PrepareScratchFolder(machine_, folder);
    backup_.SetArchivePath(dates_[static_cast<size_t>(selected_)].path);
    std::string text, error;
    auto config = files.ToHostPath(folder + "\\" + std::string(kConfigEntry), true);
    bool whole = ready && backup_.ExtractAllEntries(folder) && config &&
                 ReadWholeFile(*config, &text, &error, ConfigLimit(machine_)) &&
                 ConfigIsSound(text) && CopiesPresent(folder);
    std::vector<std::filesystem::path> desktopChanged;
    if (whole) {
        // Keys first: a value saved before its key was removed goes back into the key.
        for (int kind : {kBackupKey, kBackupValue, kBackupFile, kBackupHostFile}) {
            for (const BackupRow& row : rows_) {
                if (!row.checked || row.item.kind != kind) continue;
                if (RestoreItem(row.item, folder)) {
                    ++lastRestore_.restored;
                    if (kind == kBackupHostFile) desktopChanged.push_back(row.item.second);
                    continue;
                }
                // A key by its path, a value by its data text, a file by its path.
                bool file = kind == kBackupFile || kind == kBackupHostFile;
                std::string failure = CouldNotRestoreText(file ? row.item.second : row.item.first);
                ++lastRestore_.failed;
                lastRestore_.failures.push_back(failure);
                prompts_.Message(failure);
            }
        }
    }
    if (ready && ClearScratchFolder(machine_, folder, true)) files.RemoveDirectory(folder);
    if (auto folders = CurrentXdgFolders(); !desktopChanged.empty() && folders) {
        RefreshDesktopCaches(*folders, desktopChanged);
    }
    if (!whole) {
        lastRestore_.invalid = true;
        prompts_.Message(std::string(kInvalidBackupText));
        return false;
    }
    if (lastRestore_.failed == 0) {
        prompts_.Notice(std::string(kEntriesRestoredText));
    } else {
        prompts_.Message(PartlyRestoredText(lastRestore_.restored, lastRestore_.failed));
    }
    return true;
}

std::string PartlyRestoredText(int restored, int failed) {
    return std::to_string(restored) + " of " + std::to_string(restored + failed) +
           " entries restored; " + std::to_string(failed) + " could not be restored.";
}

void RestoreBackupDialog::RemoveBackups(const std::function<bool()>& runRemoveDialog) {
    if (runRemoveDialog && runRemoveDialog()) Open();
}

// ---- RemoveBackupDialog ----

RemoveBackupDialog::RemoveBackupDialog(Machine& machine, UserPrompts& prompts)
    : machine_(machine), prompts_(prompts) {}

void RemoveBackupDialog::Open() {
    selected_ = -1;
    dates_ = ListFixBackups(machine_);
}

void RemoveBackupDialog::SelectDate(int index) {
    if (index >= -1 && index < static_cast<int>(dates_.size())) selected_ = index;
}

bool RemoveBackupDialog::Remove() {
    if (dates_.empty()) {
        prompts_.Message(std::string(kNoBackupsText));
        return false;
    }
    if (selected_ < 0) {
        prompts_.Message(std::string(kSelectBackupDateText));
        return false;
    }
    if (!prompts_.AskYesNo(std::string(kRemoveBackupQuestion))) return false;
    FileSystemAccess files(machine_);
    bool deleted = files.DeleteFile(dates_[static_cast<size_t>(selected_)].path);
    if (deleted) {
        prompts_.Notice(std::string(kBackupDeletedText));
    } else {
        prompts_.Message(std::string(kBackupNotDeletedText));
    }
    return true;
}

}  // namespace hivewise
