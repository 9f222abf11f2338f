#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"
#include "repair/backup_records.h"
#include "repair/fix_backup.h"

// The fix backups: listed by date, found by name, and their items put back.
namespace hivewise {

// "Could not restore %s".
std::string CouldNotRestoreText(std::string_view what);
// What a restore did.
struct RestoreResult {
    int restored = 0;
    int failed = 0;
    std::vector<std::string> failures;  // "Could not restore ..." per failed item
    bool refused = false;               // nothing was tried: it could not be saved
    bool wineRunning = false;           // ... because Wine runs in the prefix
    std::string refusal;                // why it was refused, as the user reads it
    bool invalid = false;               // the archive could not be read whole
};

// One fix backup of the backup folder.
struct BackupArchive {
    std::string path;      // Windows path of the archive
    std::string fileName;  // its bare file name
    std::string text;      // FormatBackupDate of the name without ".zip"
};

// The archives of a folder of dated backups, newest first (by the date in their names;
// names without a date last).
std::vector<BackupArchive> ListBackupArchives(Machine& machine, const std::string& folder);
// An archive of that folder given by its file name as listed, or by a host path; empty
// when neither.
std::string FindBackupArchive(Machine& machine, const std::string& folder,
                              const std::string& nameOrPath);
// The same for the fix backups' folder.
std::vector<BackupArchive> ListFixBackups(Machine& machine);
std::string FindFixBackup(Machine& machine, const std::string& nameOrPath);

// "RegKey", "RegValue" or "ShortCut".
std::string_view ItemTypeText(const BackupItem& item);
// The key path, the value's key or the file's path.
const std::string& ItemPathText(const BackupItem& item);

// Puts `items` of `archive` back: keys first, then values, shortcuts and menu files.
// Nothing is tried when the prefix could not be saved afterwards, nor when the archive
// cannot be read whole. `onFailure` hears each item's "Could not restore" text as it
// fails.
RestoreResult RestoreBackupItems(Machine& machine, const std::string& archive,
                                 const std::vector<BackupItem>& items,
                                 const std::function<void(const std::string&)>& onFailure = {});
// The same for items held elsewhere (a list of hundreds of thousands is not copied).
RestoreResult RestoreBackupItems(Machine& machine, const std::string& archive,
                                 const std::vector<const BackupItem*>& items,
                                 const std::function<void(const std::string&)>& onFailure = {});

}  // namespace hivewise
