#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "fullbackup/backup_archive.h"
#include "fullbackup/full_backup_fixture.h"
#include "fullbackup/full_registry_backup.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/temp_prefix.h"
#include "repair/backup_records.h"
#include "repair/crafted_archive.h"
#include "repair/restore_backup.h"
#include "repair/zip_archive.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

constexpr const char* kUserHive = "hkusers_S-1-5-21-0-0-0-1000.dat";
using testing::At;
using testing::Entries;
using testing::FullBackupTest;

TEST_F(FullBackupTest, BackupThenRestoreGivesBackEveryKeyAfterChanges) {
    FullRegistryBackup backup(*machine);
    std::string message;
    ASSERT_EQ(backup.CreateFullBackup(At(12, 7, 2007, 14, 3, 9), &message), 1) << message;
    EXPECT_EQ(message, kFullBackupDone);
    std::string archive = backup.BackupFolder() + "\\12,7,2007_14,3,9.zip";
    ASSERT_TRUE(fs::exists(Host(archive)));
    // The work folder is emptied once the archive is in place.
    EXPECT_TRUE(fs::is_empty(Host(backup.WorkFolder())));

    ZipReader reader;
    ASSERT_EQ(reader.Open(Host(archive)), ZipStatus::kOk);
    std::vector<std::string> names;
    for (const ZipEntryInfo& entry : reader.Entries())
        names.push_back(entry.name);
    for (const char* name :
         {"hklm_security.dat", "hklm_software.dat", "hklm_sam.dat", "hklm_system.dat",
          "hkusers_.Default.dat", "hkusers_S-1-5-21-0-0-0-1000.dat"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
    reader.Close();

    std::string before = Snapshot();
    RegistryAccess registry(*machine);
    ASSERT_EQ(registry.DeleteKeyTree(kHkeyLocalMachine, "Software\\Vendor"), kErrorSuccess);
    ASSERT_TRUE(registry.WriteValue(kHkeyCurrentUser, "Software\\Mine", "Name", "changed", 1));
    RegHandle created = 0;
    ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, "Software\\New", &created), kErrorSuccess);
    registry.CloseKey(created);
    ASSERT_NE(Snapshot(), before);

    ASSERT_TRUE(backup.RestoreFullBackup(archive, &message));
    EXPECT_EQ(message, kFullRestoreDone);
    EXPECT_EQ(Snapshot(), before);
    // A prefix has no Security or SAM key; the backup and restore create none.
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "Security"));
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "SAM"));

    ASSERT_TRUE(machine->Flush().ok);
    auto reloaded = prefix.Load();
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(ExportRegFile(*reloaded, "HKEY_LOCAL_MACHINE\\Software\\Vendor\\App",
                            RegFileFormat::Unicode5),
              ExportRegFile(*machine, "HKEY_LOCAL_MACHINE\\Software\\Vendor\\App",
                            RegFileFormat::Unicode5));
}

std::string& EntryOf(Entries& entries, const std::string& name) {
    for (auto& [entry, bytes] : entries) {
        if (entry == name) return bytes;
    }
    ADD_FAILURE() << name;
    static std::string none;
    return none;
}

TEST_F(FullBackupTest, DamagedBackupsChangeNoRegistryFile) {
    std::string archive = BackupThenChange();
    std::string files = RegistryFiles();
    std::string changed = Snapshot();
    FullRegistryBackup backup(*machine);

    const std::pair<const char*, std::function<void(Entries&)>> damages[] = {
        {"user hive cut within its last line",
         [](Entries& e) { EntryOf(e, kUserHive).resize(EntryOf(e, kUserHive).size() - 3); }},
        {"software hive cut within hex data",
         [](Entries& e) {
             std::string& bytes = EntryOf(e, "hklm_software.dat");
             bytes.resize(bytes.find("hex:00,01") + 8);
         }},
        {"user hive cut between two lines",
         [](Entries& e) {
             std::string& bytes = EntryOf(e, kUserHive);
             bytes.resize(bytes.find('\n', bytes.find("\"Name\"")) + 1);
         }},
        {"user hive cut after its header",
         [](Entries& e) {
             std::string& bytes = EntryOf(e, kUserHive);
             bytes.resize(bytes.find("\n[") + 1);
         }},
        {"user hive cut after a key line",
         [](Entries& e) {
             std::string& bytes = EntryOf(e, kUserHive);
             bytes.resize(bytes.find('\n', bytes.find("\n[") + 1) + 1);
         }},
        {"user hive with carriage returns only",
         [](Entries& e) {
             for (char& c : EntryOf(e, kUserHive))
                 if (c == '\n') c = '\r';
         }},
        {"user hive replaced by garbage",
         [](Entries& e) {
             EntryOf(e, kUserHive) = std::string(
                 "\x7f"
                 "ELF\x01\x02\0garbage\n",
                 14);
         }},
        {"software and user hives swapped",
         [](Entries& e) { std::swap(EntryOf(e, "hklm_software.dat"), EntryOf(e, kUserHive)); }},
        {"system hive saved as the software hive",
         [](Entries& e) { EntryOf(e, "hklm_software.dat") = EntryOf(e, "hklm_system.dat"); }},
        {"software hive twice, once in capitals",
         [](Entries& e) { e.emplace_back("HKLM_SOFTWARE.DAT", EntryOf(e, "hklm_software.dat")); }},
        {"user hive twice under names of one key",
         [](Entries& e) {
             e.emplace_back("hkusers_s-1-5-21-0-0-0-1000.dat", EntryOf(e, kUserHive));
         }},
        {"a file no backup writes",
         [](Entries& e) { e.emplace_back("notes.txt", "nothing here\n"); }},
        {"the system hive missing",
         [](Entries& e) {
             std::erase_if(e, [](const auto& entry) { return entry.first == "hklm_system.dat"; });
         }},
    };
    int number = 0;
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        std::string damaged =
            Rewritten(archive, "damaged" + std::to_string(++number) + ".zip", damage);
        std::string message;
        EXPECT_FALSE(backup.RestoreFullBackup(damaged, &message));
        EXPECT_EQ(message, kFullRestoreFailed);
        EXPECT_EQ(Snapshot(), changed);
        ASSERT_TRUE(machine->Flush().ok);
        EXPECT_EQ(RegistryFiles(), files);
    }

    // The archive itself cut short, and one that is not there.
    std::string message;
    std::string cut = backup.BackupFolder() + "\\cut.zip";
    fs::copy_file(Host(archive), Host(cut));
    fs::resize_file(Host(cut), fs::file_size(Host(archive)) / 2);
    EXPECT_FALSE(backup.RestoreFullBackup(cut, &message));
    EXPECT_FALSE(backup.RestoreFullBackup(backup.BackupFolder() + "\\missing.zip", &message));
    ASSERT_TRUE(machine->Flush().ok);
    EXPECT_EQ(RegistryFiles(), files);

    // The undamaged archive still restores.
    EXPECT_TRUE(backup.RestoreFullBackup(archive, &message)) << message;
    EXPECT_NE(Snapshot(), changed);
}

TEST_F(FullBackupTest, AHiveFailingDuringTheApplyLeavesEveryKeyAsItWas) {
    std::string archive = BackupThenChange();
    FullRegistryBackup backup(*machine);
    ASSERT_TRUE(backup.PrepareRestore(archive));
    // A key the backup found missing exists by the time the hives are put back: the
    // file standing for its absence is refused after the keys before it were checked.
    // (No program may make a key directly under HKEY_LOCAL_MACHINE: Wine itself does.)
    RegistryAccess registry(*machine);
    {
        auto lock = machine->Registry().Lock();
        RegKey* security = machine->Registry().Create(machine->LocalMachine(), u"Security");
        ASSERT_TRUE(security);
        machine->Registry().SetValue(security, u"Made", kRegSz,
                                     Utf16ToBytes(std::u16string(u"later\0", 6)));
    }
    ASSERT_TRUE(machine->Flush().ok);
    std::string files = RegistryFiles();
    std::string changed = Snapshot();
    std::string message;
    EXPECT_FALSE(backup.ApplyRestore(&message));
    EXPECT_EQ(message, kFullRestoreFailed);
    EXPECT_EQ(Snapshot(), changed);
    EXPECT_EQ(registry.ReadStringValue(kHkeyLocalMachine, "Security", "Made"), "later");
    ASSERT_TRUE(machine->Flush().ok);
    EXPECT_EQ(RegistryFiles(), files);

    // A file that fails to load after the others loaded: none of them is put back. (The
    // failed restore emptied the work folder: the archive is unpacked again.)
    ASSERT_TRUE(backup.PrepareRestore(archive));
    SavedKeyFile software;
    ASSERT_EQ(registry.CheckKeyFile(backup.WorkFolder() + "\\hklm_software.dat", &software),
              kErrorSuccess);
    std::vector<KeyRestore> items{
        {kHkeyLocalMachine, "Software", software},
        {kHkeyUsers, ".Default", {"WINE REGISTRY Version 2\n[Unterminated\n", u"", false}},
    };
    ASSERT_EQ(registry.DeleteKeyTree(kHkeyLocalMachine, "Software\\Vendor"), kErrorSuccess);
    changed = Snapshot();
    EXPECT_EQ(registry.RestoreKeys(items), kErrorBadDb);
    EXPECT_EQ(Snapshot(), changed);
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "Software\\Vendor"));
    // The same key twice is refused before anything is read.
    std::vector<KeyRestore> twice{{kHkeyLocalMachine, "Software", software},
                                  {kHkeyLocalMachine, "SOFTWARE", software}};
    EXPECT_EQ(registry.RestoreKeys(twice), kErrorInvalidParameter);
    EXPECT_EQ(Snapshot(), changed);
}

// The work folder, or the program folder above it, linked to a folder of the user's.
TEST_F(FullBackupTest, AWorkFolderLinkedOutOfThePrefixIsReplacedNeverEmptied) {
    TempPrefix outside;
    outside.Write("home/precious.txt", "keep me");
    const fs::path home = outside.Dir() / "home";
    auto homeUntouched = [&] {
        EXPECT_EQ(outside.Read("home/precious.txt"), "keep me");
        EXPECT_EQ(std::distance(fs::directory_iterator(home), fs::directory_iterator()), 1);
    };
    FullRegistryBackup backup(*machine);
    ASSERT_TRUE(FileSystemAccess(*machine).CreateDirectoryPath(machine->ProgramFolder()));
    fs::path work = Host(backup.WorkFolder());
    fs::create_directory_symlink(home, work);
    std::string message;
    ASSERT_EQ(backup.CreateFullBackup(At(5, 6, 2026, 7, 8, 9), &message), 1) << message;
    EXPECT_FALSE(fs::is_symlink(work));
    homeUntouched();

    fs::remove_all(work);
    fs::create_directory_symlink(home, work);
    ASSERT_TRUE(backup.RestoreFullBackup(backup.BackupFolder() + "\\5,6,2026_7,8,9.zip", &message));
    EXPECT_EQ(message, kFullRestoreDone);
    homeUntouched();
    // What was unpacked for the restore is gone with it.
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(work)));
    EXPECT_TRUE(fs::is_empty(work));

    // The program folder itself leads out of the prefix: nothing is written there.
    fs::create_directory_symlink(home, prefix.Dir() / "drive_c" / "Linked");
    machine->SetProgramFolder("C:\\Linked");
    FullRegistryBackup linked(*machine);
    EXPECT_EQ(linked.CreateFullBackup(At(5, 6, 2026, 7, 8, 10), &message), 0);
    EXPECT_EQ(message, kFullBackupFailed);
    EXPECT_FALSE(linked.PrepareRestore(backup.BackupFolder() + "\\5,6,2026_7,8,9.zip"));
    homeUntouched();
}

TEST_F(FullBackupTest, HivesLargerThanTheMachineCouldSaveAreRefused) {
    FullRegistryBackup backup(*machine);
    std::string message;
    ASSERT_EQ(backup.CreateFullBackup(At(6, 7, 2026, 8, 9, 10), &message), 1);
    fs::path saved = Host(backup.BackupFolder() + "\\6,7,2026_8,9,10.zip");
    RegistryAccess registry(*machine);
    ASSERT_TRUE(registry.WriteValue(kHkeyCurrentUser, "Software\\Mine", "Name", "later", 1));
    std::string changed = Snapshot();
    // 80 MiB of zeros where a hive belongs, declared as it is and declared small.
    std::string bomb = backup.BackupFolder() + "\\bomb.zip";
    std::string liar = backup.BackupFolder() + "\\liar.zip";
    {
        ZipReader reader;
        ASSERT_EQ(reader.Open(saved), ZipStatus::kOk);
        ZipWriter writer;
        ASSERT_EQ(writer.Create(Host(bomb)), ZipStatus::kOk);
        for (int i = 0; i < reader.EntryCount(); ++i) {
            std::string bytes;
            ASSERT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk);
            if (reader.Entry(i).name == "hklm_system.dat") bytes.assign(80 << 20, '\0');
            ASSERT_EQ(writer.AddBytes(reader.Entry(i).name, bytes), ZipStatus::kOk);
        }
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }
    fs::copy_file(Host(bomb), Host(bomb).parent_path() / "liar.zip");
    ASSERT_TRUE(testing::DeclareSize(Host(liar), "hklm_system.dat", 4000));
    for (const std::string& archive : {bomb, liar}) {
        SCOPED_TRACE(archive);
        EXPECT_FALSE(backup.RestoreFullBackup(archive, &message));
        EXPECT_EQ(message, kFullRestoreFailed);
        EXPECT_TRUE(fs::is_empty(Host(backup.WorkFolder())));
        EXPECT_EQ(Snapshot(), changed);
    }
}

TEST_F(FullBackupTest, BackupsOfOneSecondAreKeptApartAndListed) {
    FullRegistryBackup backup(*machine);
    std::string message;
    ASSERT_EQ(backup.CreateFullBackup(At(3, 4, 2026, 5, 6, 7), &message), 1);
    ASSERT_EQ(backup.CreateFullBackup(At(3, 4, 2026, 5, 6, 7), &message), 1);
    auto list = ListBackupArchives(*machine, backup.BackupFolder());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].fileName, "3,4,2026_5,6,7_2.zip");
    EXPECT_EQ(list[1].fileName, "3,4,2026_5,6,7.zip");
    EXPECT_EQ(list[0].text, list[1].text);
}

TEST_F(FullBackupTest, AStaleSavedHiveIsReplaced) {
    FullRegistryBackup backup(*machine);
    prefix.File("Program Files/Hivewise/Temp/hklm_system.dat", "stale");
    long error = 0;
    ASSERT_EQ(backup.SaveHiveFile(kHkeyLocalMachine, "System",
                                  backup.WorkFolder() + "\\hklm_system.dat", &error),
              1);
    EXPECT_NE(prefix.Read("drive_c/Program Files/Hivewise/Temp/hklm_system.dat"), "stale");
}

TEST(SavedFileNames, MapToTheirKeys) {
    auto users = KeyOfSavedFile("hkusers_S-1-5-21-1004.dat");
    ASSERT_TRUE(users);
    EXPECT_EQ(users->first, kHkeyUsers);
    EXPECT_EQ(users->second, "S-1-5-21-1004");
    auto software = KeyOfSavedFile("hklm_software.dat");
    ASSERT_TRUE(software);
    EXPECT_EQ(software->first, kHkeyLocalMachine);
    EXPECT_EQ(software->second, "Software");
    EXPECT_EQ(SavedKeyPath(software->first, software->second), u"REGISTRY\\Machine\\Software");
    EXPECT_EQ(SavedKeyPath(users->first, users->second), u"REGISTRY\\User\\S-1-5-21-1004");
    // Only the names the backup writes.
    for (const char* other : {"notes.txt", "HKLM_software.dat", "hklm_SOFTWARE.dat",
                              "hklm_classes.dat", "hkey_current_user\\Software.dat", "hkusers_.dat",
                              "hkusers_a\\b.dat", "hkusers_x.dat.txt"}) {
        EXPECT_FALSE(KeyOfSavedFile(other)) << other;
    }
}

class Win9xBackupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n"
            "\"VersionNumber\"=\"4.10.2222\"\n");
        prefix.UserReg(
            "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] "
            "1700000000\n\"AppData\"=\"C:\\\\WINDOWS\\\\Application Data\"\n");
        prefix.File("windows/system.dat", "system hive");
        prefix.File("windows/user.dat", "user hive");
        prefix.File("windows/classes.dat", "classes hive");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }
    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

TEST_F(Win9xBackupTest, CopiesTheRegistryFilesAndStagesThemBack) {
    FullRegistryBackup backup(*machine);
    std::string message;
    ASSERT_EQ(backup.CreateFullBackup(At(2, 3, 2026, 4, 5, 6), &message), 1) << message;
    ZipReader reader;
    FileSystemAccess files(*machine);
    ASSERT_EQ(reader.Open(*files.ToHostPath(backup.BackupFolder() + "\\2,3,2026_4,5,6.zip")),
              ZipStatus::kOk);
    std::string bytes;
    int user = reader.FindEntry("user.fix", false);
    int wuser = reader.FindEntry("wuser.fix", false);
    ASSERT_GE(user, 0);
    ASSERT_GE(wuser, 0);
    // Without profiles the profile folder is the Windows folder: both copies are one file.
    ASSERT_EQ(reader.ReadEntry(user, &bytes), ZipStatus::kOk);
    EXPECT_EQ(bytes, "user hive");
    ASSERT_EQ(reader.ReadEntry(wuser, &bytes), ZipStatus::kOk);
    EXPECT_EQ(bytes, "user hive");
    reader.Close();

    ASSERT_TRUE(backup.RestoreFullBackup(backup.BackupFolder() + "\\2,3,2026_4,5,6.zip", &message));
    EXPECT_EQ(prefix.Read("drive_c/windows/system.fix"), "system hive");
    // Short forms keep the case of names that are already 8.3.
    std::string ini = AnsiLower(prefix.Read("drive_c/windows/wininit.ini"));
    EXPECT_EQ(ini.rfind("[rename]\r\r\n", 0), 0u);
    EXPECT_NE(ini.find("c:\\windows\\system.dat=c:\\windows\\system.fix\r\r\n"), std::string::npos)
        << ini;
    EXPECT_NE(ini.find("c:\\windows\\user.dat=c:\\windows\\user.fix\r\r\n"), std::string::npos);
    EXPECT_NE(ini.find("c:\\windows\\user.dat=c:\\windows\\wuser.fix\r\r\n"), std::string::npos);
}

}  // namespace
}  // namespace hivewise
