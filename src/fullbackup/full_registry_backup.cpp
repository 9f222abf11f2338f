#include "fullbackup/full_registry_backup.h"

#include <cstdio>

#include "fullbackup/backup_archive.h"
#include "platform/files/atomic_file.h"
#include "platform/files/scratch_folder.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "repair/backup_records.h"
#include "repair/untrusted_archive.h"
#include "tools/system_info.h"

namespace hivewise {
namespace {

constexpr const char* kMachineHives[] = {"Security", "Software", "SAM", "System"};

std::string WithoutTrailingBackslashes(std::string path) {
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

}  // namespace

std::optional<std::pair<RegHandle, std::string>> KeyOfSavedFile(const std::string& fileName) {
    constexpr std::string_view kMachinePrefix = "hklm_", kUsersPrefix = "hkusers_",
                               kSuffix = ".dat";
    std::string_view name = fileName;
    if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) return std::nullopt;
    name.remove_suffix(kSuffix.size());
    if (name.starts_with(kMachinePrefix)) {
        name.remove_prefix(kMachinePrefix.size());
        for (const char* hive : kMachineHives) {
            // Written in lower case: another spelling is not a file the backup wrote.
            if (name == AnsiLower(hive)) return std::pair(kHkeyLocalMachine, std::string(hive));
        }
        return std::nullopt;
    }
    if (!name.starts_with(kUsersPrefix)) return std::nullopt;
    name.remove_prefix(kUsersPrefix.size());
    if (name.empty() || name.find_first_of("\\/") != std::string_view::npos) return std::nullopt;
    return std::pair(kHkeyUsers, std::string(name));
}

std::u16string SavedKeyPath(RegHandle root, const std::string& subKey) {
    return (root == kHkeyUsers ? u"REGISTRY\\User\\" : u"REGISTRY\\Machine\\") +
           AnsiToUtf16(subKey);
}

FullRegistryBackup::FullRegistryBackup(Machine& machine)
    : machine_(machine),
      registry_(machine),
      files_(machine),
      ntFamily_(SystemInfo(machine).isNtFamily) {}

std::string FullRegistryBackup::WorkFolder() const {
    return machine_.ProgramFolder() + "\\Temp";
}

std::string FullRegistryBackup::BackupFolder() const {
    return machine_.ProgramFolder() + "\\RegBackup";
}

int FullRegistryBackup::CreateFullBackup(const std::tm& now, std::string* message) {
    std::string work = WorkFolder();
    if (!PrepareScratchFolder(machine_, work, true)) {
        *message = kFullBackupFailed;
        return 0;
    }
    files_.CreateDirectoryPath(BackupFolder());

    if (ntFamily_) {
        long error = 0;
        if (!SaveNtHives(&error)) {
            *message = std::to_string(error) + ", backup failed";
            return 0;
        }
    } else if (!SaveWin9xRegistryFiles()) {
        *message = kFullBackupFailed;
        return 0;
    }

    std::string working = ArchiveName(work, now);
    std::string final = UnusedArchivePath(files_, BackupFolder(), now);
    // A backup killed while copying its archive left the unfinished copy in RegBackup.
    if (!final.empty()) files_.RemoveCopyLeftovers(final);
    // The saved hives are the only copy until the archive is safely in RegBackup: on any
    // failure the work folder keeps them.
    if (!PackFolder(files_, work, working) || final.empty() || !files_.CopyFile(working, final)) {
        *message = kFullBackupFailed;
        return 0;
    }
    files_.ClearDirectory(work, false);
    lastArchive_ = final;
    *message = kFullBackupDone;
    return 1;
}

int FullRegistryBackup::SaveNtHives(long* error) {
    std::string work = WorkFolder();
    for (const char* hive : kMachineHives) {
        std::string file = work + "\\hklm_" + AnsiLower(hive) + ".dat";
        if (!SaveHiveFile(kHkeyLocalMachine, hive, file, error)) return 0;
    }
    ScopedKey users(registry_);
    *error = registry_.OpenKey(kHkeyUsers, "", kKeyAllAccess, &users);
    if (*error != kErrorSuccess) return 0;
    uint32_t count = 0;
    *error = registry_.QueryInfoKey(users, &count, nullptr);
    if (*error != kErrorSuccess) {
        return 0;
    }
    for (uint32_t index = 0; index < count; ++index) {
        std::string name;
        if (registry_.EnumKey(users, index, &name, 255) != kErrorSuccess) continue;
        if (!SaveHiveFile(kHkeyUsers, name, work + "\\hkusers_" + name + ".dat", error)) {
            return 0;
        }
    }
    return 1;
}

int FullRegistryBackup::SaveHiveFile(RegHandle root, const std::string& subKey,
                                     const std::string& file, long* error) {
    SetPrivilege("SeBackupPrivilege", true);
    int result = 0;
    if (files_.PathFileExists(file) && !files_.DeleteFile(file)) {
        *error = kErrorAccessDenied;
    } else {
        ScopedKey key(registry_);
        *error = registry_.OpenKey(root, subKey, kKeyQueryValue, &key);
        if (*error == kErrorSuccess) {
            *error = registry_.SaveKey(key, file);
        } else if (*error == kErrorFileNotFound) {
            // A prefix has no Security or SAM key. Saving creates none: a file of only a
            // header stands for the missing key, and restoring it creates nothing either.
            auto host = files_.ToHostPath(file, true);
            std::string text =
                SavedKeyHeader(SavedKeyPath(root, subKey), machine_.Arch()) + SavedKeyTrailer();
            *error = host && WriteFileAtomically(*host, text, nullptr) ? kErrorSuccess
                                                                       : kErrorAccessDenied;
        }
        result = *error == kErrorSuccess;
    }
    SetPrivilege("SeBackupPrivilege", false);
    return result;
}

int FullRegistryBackup::SaveWin9xRegistryFiles() {
    std::string windows = WithoutTrailingBackslashes(files_.WindowsDirectory());
    std::string work = WorkFolder();
    if (!files_.CopyFile(windows + "\\system.dat", work + "\\system.fix")) return 0;
    files_.SetNormalAttributes(work + "\\system.fix");
    const std::pair<std::string, std::string> rest[] = {
        {ProfileFolder() + "\\user.dat", "user.fix"},
        {windows + "\\user.dat", "wuser.fix"},
        {windows + "\\classes.dat", "classes.fix"},
    };
    // Only system.dat is required; a machine without profiles or classes has the others.
    for (const auto& [from, to] : rest) {
        if (files_.CopyFile(from, work + "\\" + to)) files_.SetNormalAttributes(work + "\\" + to);
    }
    return 1;
}

int FullRegistryBackup::SetPrivilege(const std::string& name, bool enable) {
    return enable ? registry_.EnablePrivilege(name) : 1;
}

std::string FullRegistryBackup::ProfileFolder() {
    std::string appData = registry_.ReadStringValue(
        kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        "AppData");
    size_t cut = appData.rfind('\\');
    return WithoutTrailingBackslashes(cut == std::string::npos ? "" : appData.substr(0, cut));
}

bool FullRegistryBackup::UnpackToWorkFolder(const std::string& archive) {
    std::string work = WorkFolder();
    return PrepareScratchFolder(machine_, work, true) &&
           UnpackArchive(files_, archive, work, RegistrySizedLimit(machine_.PrefixDir()));
}

bool FullRegistryBackup::PrepareRestore(const std::string& archive) {
    prepared_.clear();
    preparedOk_ = UnpackToWorkFolder(archive) && (!ntFamily_ || CheckNtHives());
    if (!preparedOk_) ClearScratchFolder(machine_, WorkFolder(), true);
    return preparedOk_;
}

bool FullRegistryBackup::CheckNtHives() {
    auto entries = files_.FindFiles(WorkFolder() + "\\*.*");
    if (!entries) return false;
    for (const FindEntry& entry : *entries) {
        // Only the files a backup writes are taken: anything else means the archive is
        // not one, and one file that would not load fails the restore before any change.
        if (entry.name == "." || entry.name == "..") continue;
        auto key = KeyOfSavedFile(entry.name);
        if ((entry.attributes & kFileAttributeDirectory) || !key) return false;
        for (const SavedHive& other : prepared_) {
            if (other.root == key->first && AnsiEqualsNoCase(other.subKey, key->second))
                return false;
        }
        SavedHive hive{WorkFolder() + "\\" + entry.name, key->first, key->second, {}};
        if (registry_.CheckKeyFile(hive.file, &hive.saved) != kErrorSuccess) return false;
        // A file saved from another key (hives swapped or renamed) would replace this one.
        if (!EqualsNoCase(hive.saved.relativeTo, SavedKeyPath(hive.root, hive.subKey)))
            return false;
        prepared_.push_back(std::move(hive));
    }
    // Every backup holds the machine's four hives, saved even when a key is missing.
    for (const char* name : kMachineHives) {
        bool present = false;
        for (const SavedHive& hive : prepared_)
            present = present || (hive.root == kHkeyLocalMachine && hive.subKey == name);
        if (!present) return false;
    }
    return true;
}

bool FullRegistryBackup::ApplyRestore(std::string* message) {
    *message = kFullRestoreFailed;
    if (!preparedOk_) return false;
    if (WineServerRunning(machine_.PrefixDir())) {
        *message = WineRunningMessage(machine_.PrefixDir());
        return false;
    }
    preparedOk_ = false;
    bool ok;
    if (ntFamily_) {
        std::vector<KeyRestore> items;
        for (SavedHive& hive : prepared_)
            items.push_back(KeyRestore{hive.root, hive.subKey, std::move(hive.saved)});
        prepared_.clear();
        SetPrivilege("SeRestorePrivilege", true);
        SetPrivilege("SeBackupPrivilege", true);
        ok = registry_.RestoreKeys(items) == kErrorSuccess;
        SetPrivilege("SeRestorePrivilege", false);
        SetPrivilege("SeBackupPrivilege", false);
        // The drives and folders the machine derives from its registry follow it.
        if (ok) machine_.RefreshDerivedFacts();
    } else {
        ok = RestoreWin9xRegistryFiles();
    }
    // The unpacked files were only the way in: none stays in the work folder.
    ClearScratchFolder(machine_, WorkFolder(), true);
    if (ok) *message = kFullRestoreDone;
    return ok;
}

bool FullRegistryBackup::RestoreFullBackup(const std::string& archive, std::string* message) {
    if (!PrepareRestore(archive)) {
        *message = kFullRestoreFailed;
        return false;
    }
    return ApplyRestore(message);
}

bool FullRegistryBackup::RestoreWin9xRegistryFiles() {
    std::string windows = WithoutTrailingBackslashes(files_.WindowsDirectory());
    std::string profile = ProfileFolder();
    std::string work = WorkFolder();
    struct Staging {
        std::string saved, staged, destination;
    };
    const Staging staging[] = {
        {"system.fix", windows + "\\system.fix", windows + "\\system.dat"},
        {"user.fix", profile + "\\user.fix", profile + "\\user.dat"},
        {"wuser.fix", windows + "\\wuser.fix", windows + "\\user.dat"},
        {"classes.fix", windows + "\\classes.fix", windows + "\\classes.dat"},
    };
    for (const Staging& item : staging) {
        if (!files_.CopyFile(work + "\\" + item.saved, item.staged)) return false;
    }
    auto shortForm = [this](const std::string& path) {
        std::string shortPath = files_.ShortPath(path);
        return shortPath.empty() || shortPath.size() >= kMaxPath ? path : shortPath;
    };
    // Written as a text-mode stream writes it: every line ends with CR CR LF.
    std::string text = "[Rename]\r\r\n";
    for (const Staging& item : staging)
        text += shortForm(item.destination) + "=" + shortForm(item.staged) + "\r\r\n";
    auto host = files_.ToHostPath(windows + "\\wininit.ini", true);
    return host && WriteFileAtomically(*host, text, nullptr);
}

}  // namespace hivewise
