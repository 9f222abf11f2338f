#include "app/backups/restore_backup_dialog.h"

#include <algorithm>

#include "platform/files/file_system_access.h"
#include "platform/machine/text.h"

namespace hivewise {

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
    // Into their rows as they are read, in room made for them once: no list of the
    // items is made first and moved, nor moved again as the rows grow.
    rows_.reserve(ConfigRecordCount(text));
    ForEachConfigItem(text, [this](BackupItem&& item) {
        rows_.push_back({std::move(item), false});
    });
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

bool RestoreBackupDialog::Restore() {
    lastRestore_ = {};
    bool any = std::any_of(rows_.begin(), rows_.end(), [](const auto& row) { return row.checked; });
    if (!any || selected_ < 0) {
        prompts_.Message(std::string(kNoBackupItemsSelectedText));
        return false;
    }
    // The rows themselves, not copies: a large backup lists hundreds of thousands. The
    // dialog takes no choice while it restores (a message shown meanwhile is modal).
    std::vector<const BackupItem*> items;
    for (const BackupRow& row : rows_) {
        if (row.checked) items.push_back(&row.item);
    }
    lastRestore_ =
        RestoreBackupItems(machine_, dates_[static_cast<size_t>(selected_)].path, items,
                           [this](const std::string& failure) { prompts_.Message(failure); });
    if (lastRestore_.refused) {
        prompts_.Message(lastRestore_.refusal);
        return false;
    }
    if (lastRestore_.invalid) {
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
