#include <gtest/gtest.h>

#include <filesystem>

#include "fullbackup/backup_archive.h"
#include "fullbackup/full_backup_dialog.h"
#include "fullbackup/full_registry_backup.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/temp_prefix.h"
#include "repair/crafted_archive.h"
#include "repair/zip_archive.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return true; }
    std::vector<std::string> messages;
};

std::tm At(int month, int day, int year, int hour, int minute, int second) {
    std::tm when{};
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_year = year - 1900;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return when;
}

class FullBackupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Vendor\\\\App] 1700000000\n\"Path\"=\"C:\\\\app\\\\app.exe\"\n"
            "\"Bytes\"=hex:00,01,02,ff\n\"Count\"=dword:0000002a\n"
            "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
            "\n[System\\\\ControlSet001\\\\Services\\\\Svc] "
            "1700000000\n\"Start\"=dword:00000003\n");
        prefix.UserReg("\n[Software\\\\Mine] 1700000000\n\"Name\"=\"value\"\n");
        prefix.Write("userdef.reg",
                     TempPrefix::Header("REGISTRY\\\\User\\\\.Default", "win32") +
                         "\n[Control Panel\\\\Desktop] 1700000000\n\"Wallpaper\"=\"\"\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }

    // What a registry editor would export of every saved key.
    std::string Snapshot() {
        std::string all;
        for (const char* key : {"HKEY_LOCAL_MACHINE\\Software", "HKEY_LOCAL_MACHINE\\System",
                                "HKEY_USERS\\.Default", "HKEY_USERS\\S-1-5-21-0-0-0-1000"}) {
            all += ExportRegFile(*machine, key, RegFileFormat::Unicode5).value_or("<missing>");
        }
        return all;
    }

    fs::path Host(const std::string& windowsPath) {
        return *FileSystemAccess(*machine).ToHostPath(windowsPath, true);
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

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

TEST_F(FullBackupTest, DamagedBackupsChangeNothing) {
    FullRegistryBackup backup(*machine);
    std::string message;
    ASSERT_EQ(backup.CreateFullBackup(At(1, 2, 2026, 3, 4, 5), &message), 1);
    std::string archive = backup.BackupFolder() + "\\1,2,2026_3,4,5.zip";
    RegistryAccess registry(*machine);
    ASSERT_TRUE(registry.WriteValue(kHkeyCurrentUser, "Software\\Mine", "Name", "later", 1));
    std::string changed = Snapshot();

    // The archive cut short.
    fs::path host = Host(archive);
    std::string cut = backup.BackupFolder() + "\\cut.zip";
    fs::copy_file(host, Host(cut));
    fs::resize_file(Host(cut), fs::file_size(host) / 2);
    EXPECT_FALSE(backup.RestoreFullBackup(cut, &message));
    EXPECT_EQ(message, kFullRestoreFailed);

    // One saved hive cut short, the others whole: none is restored.
    std::string broken = backup.BackupFolder() + "\\broken.zip";
    {
        ZipReader reader;
        ASSERT_EQ(reader.Open(host), ZipStatus::kOk);
        ZipWriter writer;
        ASSERT_EQ(writer.Create(Host(broken)), ZipStatus::kOk);
        for (int i = 0; i < reader.EntryCount(); ++i) {
            std::string bytes;
            ASSERT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk);
            if (reader.Entry(i).name == "hklm_system.dat")
                bytes = "WINE REGISTRY Version 2\n[Unterminated";
            ASSERT_EQ(writer.AddBytes(reader.Entry(i).name, bytes), ZipStatus::kOk);
        }
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }
    EXPECT_FALSE(backup.RestoreFullBackup(broken, &message));
    EXPECT_EQ(message, kFullRestoreFailed);

    // An archive without any saved hive.
    std::string empty = backup.BackupFolder() + "\\empty.zip";
    {
        ZipWriter writer;
        ASSERT_EQ(writer.Create(Host(empty)), ZipStatus::kOk);
        ASSERT_EQ(writer.AddBytes("readme.txt", "nothing here"), ZipStatus::kOk);
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }
    EXPECT_FALSE(backup.RestoreFullBackup(empty, &message));
    EXPECT_FALSE(backup.RestoreFullBackup(backup.BackupFolder() + "\\missing.zip", &message));

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
    EXPECT_EQ(software->second, "software");
    EXPECT_FALSE(KeyOfSavedFile("notes.txt"));
    // The prefixes are case-sensitive, the root names are not.
    EXPECT_FALSE(KeyOfSavedFile("HKLM_software.dat"));
    EXPECT_TRUE(KeyOfSavedFile("hkey_current_user\\Software.dat"));
}

TEST_F(FullBackupTest, DialogAsksForAChoiceAndADate) {
    RecordingPrompts prompts;
    FullBackupDialog dialog(*machine, prompts);
    EXPECT_EQ(dialog.NextButtonText(), "Next");
    EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], kSelectOption);

    dialog.Choose(FullBackupDialog::Option::Restore);
    EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
    EXPECT_EQ(dialog.CurrentStep(), FullBackupDialog::Step::SelectDate);
    EXPECT_EQ(dialog.NextButtonText(), "Finish");
    EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
    EXPECT_EQ(prompts.messages.back(), kSelectBackupDateText);
}

TEST_F(FullBackupTest, ProgressBarWrapsAndTheOutcomeIsShownOnce) {
    RecordingPrompts prompts;
    BackupProgressDialog progress(*machine, prompts);
    progress.Open(At(5, 6, 2026, 7, 8, 9));
    int ticks = 0;
    while (!progress.Tick())
        ++ticks;
    EXPECT_EQ(progress.Position(), BackupProgressDialog::kBarRange);
    EXPECT_TRUE(progress.Succeeded());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], kFullBackupDone);

    BackupProgressDialog idle(*machine, prompts);
    for (int i = 0; i < 51; ++i)
        idle.Tick();
    EXPECT_EQ(idle.Position(), 0);
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
