#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/file_system_access.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"

// Saving the whole registry into a dated archive in RegBackup, and putting one back.
// Nothing here shows a window: each operation returns what the user is to be told, so
// that the dialogs show it on the window thread.
namespace hivewise {

// The message boxes of a full backup and restore.
constexpr const char* kFullBackupDone = "Full Registry Backup Successfull";
constexpr const char* kFullBackupFailed = "Failed to Backup Registry";
constexpr const char* kFullRestoreDone = "Restored";
constexpr const char* kFullRestoreFailed = "Restore failed";

// A saved file of the work folder and the key it puts back.
struct SavedHive {
    std::string file;  // Windows path in the work folder
    RegHandle root = 0;
    std::string subKey;
    SavedKeyFile saved;
};

// The key a saved file's name stands for, as the backup names its files:
// "hklm_software.dat" is HKEY_LOCAL_MACHINE, "Software" (one of the machine's four hives)
// and "hkusers_S-1-5-21-1004.dat" is HKEY_USERS, "S-1-5-21-1004"; nothing for any other
// name, so that a file the backup did not write is never restored.
std::optional<std::pair<RegHandle, std::string>> KeyOfSavedFile(const std::string& fileName);
// The path a saved file's ";; All keys relative to" line gives for that key.
std::u16string SavedKeyPath(RegHandle root, const std::string& subKey);

class FullRegistryBackup {
  public:
    explicit FullRegistryBackup(Machine& machine);

    std::string WorkFolder() const;    // program folder + "\Temp"
    std::string BackupFolder() const;  // program folder + "\RegBackup"

    // The whole backup, named from `now`. 1 when the archive is in RegBackup; else 0 with
    // the failure's message in `message`.
    int CreateFullBackup(const std::tm& now, std::string* message);
    // The Windows path of the archive the latest CreateFullBackup wrote; empty before one.
    const std::string& LastArchive() const { return lastArchive_; }
    int SaveNtHives(long* error);
    int SaveHiveFile(RegHandle root, const std::string& subKey, const std::string& file,
                     long* error);
    int SaveWin9xRegistryFiles();
    int SetPrivilege(const std::string& name, bool enable);

    // The restore in two halves, so that the slow half runs off the window thread and
    // only the window thread writes the registry: PrepareRestore unpacks the archive and
    // checks every saved file (it reads the registry store only for the machine's
    // folders); ApplyRestore puts them all back or, failing, changes nothing. A saved
    // file is taken only when it is whole, names in its header the key it is restored
    // onto and is the only one for that key; any other file in the archive fails it.
    bool PrepareRestore(const std::string& archive);
    bool ApplyRestore(std::string* message);
    // Both halves at once; the message is "Restored" or why it failed.
    bool RestoreFullBackup(const std::string& archive, std::string* message);

  private:
    bool UnpackToWorkFolder(const std::string& archive);
    bool CheckNtHives();
    bool RestoreWin9xRegistryFiles();
    // The profile folder of a Windows 9x machine: the parent of the user's AppData.
    std::string ProfileFolder();

    Machine& machine_;
    RegistryAccess registry_;
    FileSystemAccess files_;
    bool ntFamily_;
    std::vector<SavedHive> prepared_;
    bool preparedOk_ = false;
    std::string lastArchive_;
};

}  // namespace hivewise
