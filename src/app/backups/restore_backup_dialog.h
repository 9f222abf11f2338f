#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "repair/backup_records.h"
#include "repair/fix_backup.h"
#include "repair/restore_backup.h"

// The backups area: the "Restore Backup" dialog, which lists the fix backups by date,
// shows a chosen archive's items and puts the ticked ones back, and the "Remove Backup"
// dialog, which deletes whole archives.
namespace hivewise {

constexpr std::string_view kRestoreBackupTitle = "Restore Backup";
constexpr std::string_view kRemoveBackupTitle = "Remove Backup";
constexpr std::string_view kInvalidBackupText = "Invalid Backup";
constexpr std::string_view kNoBackupItemsSelectedText = "No Backup Items Selected";
constexpr std::string_view kEntriesRestoredText = "Entries Restored Successfully";
constexpr std::string_view kSelectBackupDateText = "Please Select a backup date";
// What the dialogs say where there is no backup at all.
constexpr std::string_view kNoBackupsText =
    "There are no backups yet: Repair Problems saves one before it removes anything.";
constexpr std::string_view kNoBackupItemsText = "This backup holds no items.";
constexpr std::string_view kRemoveBackupQuestion =
    "Are you sure you want to remove this registry backup?  You will not be able to restore "
    "this backup once it is removed";
constexpr std::string_view kBackupDeletedText = "Backup Deleted Successfully";
constexpr std::string_view kBackupNotDeletedText =
    "Unable to delete the backup file, File might be in use";
constexpr std::string_view kRemoveBackupExplanation =
    "This option allows you to remove any backups that you have previously saved. You can "
    "remove backups you no longer need to save hard drive space, or simply to keep the most "
    "recent backups available for your use.";
// The end of a restore in which some items failed, instead of "Entries Restored
// Successfully".
std::string PartlyRestoredText(int restored, int failed);

// One row of the item list.
struct BackupRow {
    BackupItem item;
    bool checked = false;
};
class RestoreBackupDialog {
  public:
    RestoreBackupDialog(Machine& machine, UserPrompts& prompts);

    // Fills the backup-date list; nothing is selected and the item list is empty.
    void Open();
    const std::vector<BackupArchive>& Dates() const { return dates_; }
    int SelectedDate() const { return selected_; }
    // Lists the items of the chosen archive ("Invalid Backup" when it cannot be read).
    void SelectDate(int index);
    // Selects the newest backup when none is selected and there is one.
    void SelectNewest();
    // Whether "Restore" has anything to do: an item is ticked.
    bool CanRestore() const;
    // Selects the archive of that path; false when it is not in the list.
    bool SelectArchive(const std::string& path);

    std::vector<BackupRow>& Rows() { return rows_; }
    void SetChecked(int row, bool checked);
    void SelectAll();
    void DeselectAll();
    // Puts the ticked items back; true when the dialog closes (as with OK).
    bool Restore();
    const RestoreResult& LastRestore() const { return lastRestore_; }
    // "Remove Backups": `runRemoveDialog` shows the Remove Backup dialog modally and
    // returns whether it closed with OK; then the date list is filled again.
    void RemoveBackups(const std::function<bool()>& runRemoveDialog);

  private:
    Machine& machine_;
    UserPrompts& prompts_;
    FixBackup backup_;
    std::vector<BackupArchive> dates_;
    int selected_ = -1;
    std::vector<BackupRow> rows_;
    RestoreResult lastRestore_;
};

class RemoveBackupDialog {
  public:
    RemoveBackupDialog(Machine& machine, UserPrompts& prompts);

    void Open();
    const std::vector<BackupArchive>& Dates() const { return dates_; }
    int SelectedDate() const { return selected_; }
    void SelectDate(int index);
    // "Remove": true when the dialog closes with OK (after any deletion attempt).
    bool Remove();

  private:
    Machine& machine_;
    UserPrompts& prompts_;
    std::vector<BackupArchive> dates_;
    int selected_ = -1;
};

}  // namespace hivewise
