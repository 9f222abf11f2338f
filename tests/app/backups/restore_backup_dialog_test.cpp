#include "app/backups/restore_backup_dialog.h"

#include <random>

#include "app/repair_flow_fixture.h"
#include "app/repair_problems_flow.h"
#include "platform/registry/registry_access.h"
#include "repair/crafted_archive.h"
#include "repair/registry_removal.h"
#include "repair/zip_archive.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::LinkTo;
using testing::RepairFlowTest;

class RestoreTest : public RepairFlowTest {
  protected:
    fs::path BackupDir() {
        return prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "HivewiseBackup";
    }
    // An archive of the given entries in the backup folder.
    void MakeArchive(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& entries,
                     std::string_view password = kFixBackupPassword) {
        fs::create_directories(BackupDir());
        ZipWriter writer;
        ASSERT_EQ(writer.Create(BackupDir() / name, password), ZipStatus::kOk);
        for (const auto& [entry, bytes] : entries)
            ASSERT_EQ(writer.AddBytes(entry, bytes), ZipStatus::kOk);
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }
    // Lists the archive and restores all of its items.
    bool RestoreAll(const std::string& name) {
        RestoreBackupDialog dialog(*machine, prompts);
        dialog.Open();
        for (size_t i = 0; i < dialog.Dates().size(); ++i) {
            if (dialog.Dates()[i].fileName == name) dialog.SelectDate(static_cast<int>(i));
        }
        dialog.SelectAll();
        return !dialog.Rows().empty() && dialog.Restore();
    }
    static std::string ValueRecordText() {
        return ValueRecord("HKEY_CURRENT_USER\\Control Panel\\Sounds", "Restored", "x", nullptr);
    }
};

TEST_F(RestoreTest, ListingOrderAndDates) {
    MakeArchive("12,7,2007_14,3,9.zip", {});
    MakeArchive("12,3,2007_9,0,0.zip", {});
    MakeArchive("12,7,2007_14,3,9_2.zip", {});
    MakeArchive("odd.zip", {});
    fs::create_directories(BackupDir() / "Temp");
    std::vector<BackupArchive> listed = ListFixBackups(*machine);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].fileName, "12,7,2007_14,3,9_2.zip");
    EXPECT_EQ(listed[1].fileName, "12,7,2007_14,3,9.zip");
    EXPECT_EQ(listed[1].text, "Friday, December 07, 2007 Time: 14:03:09");
    EXPECT_EQ(listed[2].text, "Monday, December 03, 2007 Time: 09:00:00");
    EXPECT_EQ(listed[3].fileName, "odd.zip");
    EXPECT_EQ(listed[3].text, "");
    EXPECT_EQ(FindFixBackup(*machine, "odd.zip"), listed[3].path);
    EXPECT_EQ(FindFixBackup(*machine, (BackupDir() / "odd.zip").string()), listed[3].path);
    EXPECT_EQ(FindFixBackup(*machine, "none.zip"), "");

    // An empty archive is listed but holds nothing to restore.
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    dialog.SelectDate(3);
    EXPECT_TRUE(dialog.Rows().empty());
    EXPECT_EQ(prompts.messages.back(), kInvalidBackupText);
}

TEST_F(RestoreTest, RemovingArchives) {
    MakeArchive("1,2,2020_3,4,5.zip", {});
    RemoveBackupDialog dialog(*machine, prompts);
    dialog.Open();
    EXPECT_FALSE(dialog.Remove());
    EXPECT_EQ(prompts.messages.back(), kSelectBackupDateText);
    dialog.SelectDate(0);
    prompts.yes = false;
    EXPECT_FALSE(dialog.Remove());
    EXPECT_TRUE(fs::exists(BackupDir() / "1,2,2020_3,4,5.zip"));
    prompts.yes = true;
    EXPECT_TRUE(dialog.Remove());
    EXPECT_EQ(prompts.questions.back(), kRemoveBackupQuestion);
    EXPECT_EQ(prompts.messages.back(), kBackupDeletedText);
    EXPECT_FALSE(fs::exists(BackupDir() / "1,2,2020_3,4,5.zip"));
}

TEST_F(RestoreTest, FailedRestoresAreReportedItemByItem) {
    // A key export that does not import, a value whose key is gone, a file whose folder
    // is gone; and one value that does go back.
    std::string config = KeyRecord("HKEY_LOCAL_MACHINE\\Software\\Broken", 1) +
                         ValueRecord("HKEY_CURRENT_USER\\No\\Such\\Key", "v", "the data", nullptr) +
                         FileRecord("C:\\no such folder\\x.lnk") + ValueRecordText();
    MakeArchive(
        "1,1,2024_0,0,0.zip",
        {{"Config.ini", config}, {"rkBackUp1.reg", "not a registry file"}, {"x.lnk", "link"}});
    EXPECT_TRUE(RestoreAll("1,1,2024_0,0,0.zip"));
    EXPECT_EQ(
        prompts.messages,
        (std::vector<std::string>{
            "Could not restore HKEY_LOCAL_MACHINE\\Software\\Broken", "Could not restore the data",
            "Could not restore C:\\no such folder\\x.lnk", PartlyRestoredText(1, 3)}));
    // A record without the value's own bytes is written back as text.
    RegistryAccess registry(*machine);
    EXPECT_EQ(registry.ReadStringValue(kHkeyCurrentUser, "Control Panel\\Sounds", "Restored"), "x");
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "No\\Such\\Key"));
}

TEST_F(RestoreTest, UnsafeOrDamagedArchivesRestoreNothing) {
    std::string config = ValueRecordText() + FileRecord("C:\\windows\\evil.lnk");
    struct Case {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
        std::string password = std::string(kFixBackupPassword);
    };
    std::vector<Case> cases = {
        {"1,1,2024_0,0,1.zip", {{"Config.ini", config}, {"evil.lnk", "x"}, {"../escape", "x"}}},
        {"1,1,2024_0,0,2.zip", {{"Config.ini", config}, {"evil.lnk", "x"}}, "wrong password"},
        {"1,1,2024_0,0,3.zip",
         {{"Config.ini", config + "[TYPE:REG_KEY]\r\r\n"}, {"evil.lnk", "x"}}},
        {"1,1,2024_0,0,4.zip", {{"Config.ini", config}}},  // the file's copy is missing
        {"1,1,2024_0,0,5.zip", {{"Config.ini", config}, {"sub/evil.lnk", "x"}}},
        {"1,1,2024_0,0,6.zip", {{"Readme.txt", config}}},
    };
    for (const Case& c : cases) {
        MakeArchive(c.name, c.entries, c.password);
        prompts.messages.clear();
        EXPECT_FALSE(RestoreAll(c.name)) << c.name;
        EXPECT_EQ(prompts.messages.back(), kInvalidBackupText) << c.name;
        EXPECT_FALSE(DriveFile("windows/evil.lnk")) << c.name;
        EXPECT_TRUE(RegistryAccess(*machine)
                        .ReadStringValue(kHkeyCurrentUser, "Control Panel\\Sounds", "Restored")
                        .empty())
            << c.name;
    }
    EXPECT_FALSE(fs::exists(prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "escape"));
    EXPECT_FALSE(fs::exists(BackupDir() / "escape"));
}

// The archive's password is the format's own, so anyone can write one: a record names
// only what a repair could have removed from this machine, or it is refused, item by item,
// and nothing is written for it.
TEST_F(RestoreTest, RecordsNamingWhatNoRepairRemovedAreRefused) {
    testing::TempFolder home;
    home.Write("victim.lnk", "the user's own");
    home.Write("Desktop/victim.lnk", "the user's own");
    fs::path user = prefix.Dir() / "drive_c" / "users" / "u";
    fs::create_directories(user);
    fs::create_directory_symlink(home.Dir() / "Desktop", user / "Desktop");
    fs::create_directory_symlink("/", prefix.Dir() / "dosdevices" / "z:");
    prefix.UserReg(std::string(testing::kRepairUserReg) + "\n[Software\\\\Linked] 1700000000\n" +
                   "\n[Software\\\\Linked\\\\Via] 1700000000\n" +
                   LinkTo(u"\\Registry\\Machine\\Software\\HKCUTools"));
    machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    std::string before = testing::RegistryDump(*machine);

    std::string z = home.OnDriveZ();
    std::vector<std::string> files = {
        z + "\\victim.lnk",
        "\\\\?\\" + z + "\\victim.lnk",
        "\\\\.\\" + z + "\\victim.lnk",
        "\\??\\" + z + "\\victim.lnk",
        "Z:" + (home.Dir() / "victim.lnk").string(),
        z + "\\Desktop\\..\\victim.lnk",
        "C:\\users\\u\\Desktop\\victim.lnk",
        "C:\\windows\\victim.exe",
        "\\\\server\\share\\victim.lnk",
    };
    ExactValue dword{u"v", kRegDword, std::string("\x01\0\0\0", 4)};
    struct KeyCase {
        std::string name;
        std::string export_;
    };
    std::vector<KeyCase> keys = {
        {"HKEY_CURRENT_USER\\Software\\X",
         "[HKEY_LOCAL_MACHINE\\Software\\HKCUTools]\r\n\"evil\"=\"1\"\r\n"},
        {"HKEY_CURRENT_USER\\Software\\X",
         "[HKEY_CURRENT_USER\\Software\\XY]\r\n\"evil\"=\"1\"\r\n"},
        {"HKEY_CURRENT_USER\\Software\\X", "[-HKEY_LOCAL_MACHINE\\Software\\HKCUTools]\r\n"},
        {"HKEY_CURRENT_USER\\Software\\X",
         "[HKEY_CURRENT_USER\\Software\\X]\r\n\r\n[HKEY_CURRENT_USER\\Software\\X\\L]\r\n"
         "\"SymbolicLinkValue\"=hex(6):5c,00\r\n\"evil\"=\"1\"\r\n"},
        {"HKEY_CURRENT_USER\\Software\\Linked",
         "[HKEY_CURRENT_USER\\Software\\Linked\\Via]\r\n\"evil\"=\"1\"\r\n"},
        {"HKEY_CURRENT_CONFIG\\Software\\X",
         "[HKEY_CURRENT_CONFIG\\Software\\X]\r\n\"evil\"=\"1\"\r\n"},
        {"HKLM\\Software\\X", "[HKLM\\Software\\X]\r\n\"evil\"=\"1\"\r\n"},
        {"HKEY_CURRENT_USER\\Software\\Good",
         "[HKEY_CURRENT_USER\\Software\\Good]\r\n\"kept\"=\"1\"\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Good\\Sub]\r\n"},
    };
    std::string config;
    std::vector<std::pair<std::string, std::string>> entries = {{"victim.lnk", "from archive"}};
    for (size_t i = 0; i < keys.size(); ++i) {
        config += KeyRecord(keys[i].name, static_cast<int>(i) + 1);
        entries.push_back(
            {"rkBackUp" + std::to_string(i + 1) + ".reg", "REGEDIT4\r\n\r\n" + keys[i].export_});
    }
    config += ValueRecord("HKEY_CURRENT_CONFIG\\Software", "v", "current config", &dword);
    config += ValueRecord("HKLM\\Software\\HKCUTools", "v", "short root", &dword);
    config += ValueRecord("HKEY_DYN_DATA\\X", "v", "dynamic data", nullptr);
    for (const std::string& file : files)
        config += FileRecord(file, "victim.lnk");
    config += FileRecord("C:\\users\\Public\\Desktop\\victim.lnk", "victim.lnk");
    entries.push_back({"Config.ini", config});
    MakeArchive("1,1,2024_0,0,0.zip", entries);
    EXPECT_TRUE(RestoreAll("1,1,2024_0,0,0.zip"));

    std::vector<std::string> expected;
    for (size_t i = 0; i + 1 < keys.size(); ++i)
        expected.push_back(CouldNotRestoreText(keys[i].name));
    for (const char* data : {"current config", "short root", "dynamic data"})
        expected.push_back(CouldNotRestoreText(data));
    for (const std::string& file : files)
        expected.push_back(CouldNotRestoreText(file));
    int refused = static_cast<int>(expected.size());
    expected.push_back(PartlyRestoredText(2, refused));
    EXPECT_EQ(prompts.messages, expected);

    EXPECT_EQ(home.Read("victim.lnk"), "the user's own");
    EXPECT_EQ(home.Read("Desktop/victim.lnk"), "the user's own");
    EXPECT_FALSE(DriveFile("windows/victim.exe"));
    EXPECT_EQ(prefix.Read("drive_c/users/Public/Desktop/victim.lnk"), "from archive");
    // Only the good key went back; the rest of the registry is as it was.
    RegistryAccess registry(*machine);
    EXPECT_EQ(registry.ReadStringValue(kHkeyCurrentUser, "Software\\Good", "kept"), "1");
    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "Software\\Good\\Sub"));
    ASSERT_EQ(DeleteRegKey(registry, kHkeyCurrentUser, "Software\\Good"), 1);
    EXPECT_EQ(testing::RegistryDump(*machine), before);
}

TEST_F(RestoreTest, EntriesLargerThanARepairWritesAreRefusedUnwritten) {
    const std::string zeros(4 << 20, '\0');
    std::string config = FileRecord("C:\\big.lnk") + ValueRecordText();
    MakeArchive("1,1,2024_0,1,1.zip", {{"Config.ini", config}, {"big.lnk", zeros}});
    MakeArchive("1,1,2024_0,1,2.zip", {{"Config.ini", config}, {"big.lnk", zeros}});
    ASSERT_TRUE(testing::DeclareSize(BackupDir() / "1,1,2024_0,1,2.zip", "big.lnk", 700));
    for (const char* name : {"1,1,2024_0,1,1.zip", "1,1,2024_0,1,2.zip"}) {
        prompts.messages.clear();
        EXPECT_FALSE(RestoreAll(name)) << name;
        EXPECT_EQ(prompts.messages.back(), kInvalidBackupText) << name;
        EXPECT_FALSE(DriveFile("big.lnk")) << name;
        EXPECT_FALSE(fs::exists(BackupDir() / "Temp")) << name;
    }
    // A record list of nothing but line feeds: refused before it is split into lines.
    MakeArchive("1,1,2024_0,1,3.zip", {{"Config.ini", std::string(kConfigEntryLimit + 1, '\n')}});
    prompts.messages.clear();
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    ASSERT_TRUE(dialog.SelectArchive((BackupDir() / "1,1,2024_0,1,3.zip").string()));
    EXPECT_TRUE(dialog.Rows().empty());
    EXPECT_EQ(prompts.messages, std::vector<std::string>{std::string(kInvalidBackupText)});
    // The same within the limits restores.
    MakeArchive("1,1,2024_0,1,4.zip", {{"Config.ini", config}, {"big.lnk", "a shortcut"}});
    EXPECT_TRUE(RestoreAll("1,1,2024_0,1,4.zip"));
    EXPECT_EQ(prefix.Read("drive_c/big.lnk"), "a shortcut");
}

// The folders a restore unpacks into, linked to a folder of the user's outside the prefix.
TEST_F(RestoreTest, ScratchFolderLinksAreNeverFollowed) {
    testing::TempPrefix outside;
    outside.Write("home/precious.txt", "keep me");
    const fs::path home = outside.Dir() / "home";
    auto homeUntouched = [&] {
        EXPECT_EQ(outside.Read("home/precious.txt"), "keep me");
        EXPECT_EQ(std::distance(fs::directory_iterator(home), fs::directory_iterator()), 1);
    };
    std::string config = ValueRecordText() + FileRecord("C:\\restored.lnk");
    MakeArchive("1,1,2024_0,2,1.zip", {{"Config.ini", config}, {"restored.lnk", "lnk"}});
    // Left by an earlier listing: a listing now writes nothing at all.
    fs::create_directories(BackupDir() / "Temp");
    std::ofstream(BackupDir() / "Temp" / "Config.ini") << "left over";
    {
        RestoreBackupDialog dialog(*machine, prompts);
        dialog.Open();
        dialog.SelectDate(0);
        EXPECT_EQ(dialog.Rows().size(), 2u);
    }
    EXPECT_EQ(prefix.Read(fs::relative(BackupDir() / "Temp" / "Config.ini", prefix.Dir())),
              "left over");
    // The restore's own folder clears the leftover and goes when done.
    EXPECT_TRUE(RestoreAll("1,1,2024_0,2,1.zip"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(BackupDir() / "Temp")));

    fs::create_directory_symlink(home, BackupDir() / "Temp");
    fs::remove(prefix.Dir() / "drive_c" / "restored.lnk");
    prompts.messages.clear();
    EXPECT_TRUE(RestoreAll("1,1,2024_0,2,1.zip"));
    EXPECT_EQ(prompts.messages.back(), kEntriesRestoredText);
    EXPECT_TRUE(DriveFile("restored.lnk"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(BackupDir() / "Temp")));
    homeUntouched();

    // The backup folder itself leading out of the prefix: nothing is unpacked there.
    fs::path backups = BackupDir();
    fs::rename(backups, outside.Dir() / "backups");
    fs::create_directory_symlink(outside.Dir() / "backups", backups);
    fs::create_directory_symlink(home, outside.Dir() / "backups" / "Temp");
    fs::remove(prefix.Dir() / "drive_c" / "restored.lnk");
    prompts.messages.clear();
    EXPECT_FALSE(RestoreAll("1,1,2024_0,2,1.zip"));
    EXPECT_EQ(prompts.messages.back(), kInvalidBackupText);
    EXPECT_FALSE(DriveFile("restored.lnk"));
    EXPECT_TRUE(fs::is_symlink(outside.Dir() / "backups" / "Temp"));
    homeUntouched();
}

// Real archives damaged at random: never a crash, and either a whole restore or none.
TEST_F(RestoreTest, DamagedArchivesNeverRestoreInPart) {
    AddFindings();
    RepairControls controls;
    RepairSelectedProblems(*machine, results, prompts, controls);
    std::string afterRepair = testing::RegistryDump(*machine);
    auto archives = Archives();
    ASSERT_EQ(archives.size(), 1u);
    std::string good = prefix.Read(archives[0].lexically_relative(prefix.Dir()));
    fs::remove(archives[0]);
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        std::string bytes = good;
        if (round % 4 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int flips = 1 + round % 3; flips > 0; --flips)
                bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
        }
        std::string name = "1,1,2024_0,0," + std::to_string(round) + ".zip";
        std::ofstream(BackupDir() / name, std::ios::binary) << bytes;
        prompts.messages.clear();
        bool restored = RestoreAll(name);
        if (!restored) {
            EXPECT_EQ(testing::RegistryDump(*machine), afterRepair) << round;
            EXPECT_FALSE(DriveFile("users/Public/Desktop/Word.lnk")) << round;
        } else {
            // A change the format does not notice (a date, say): the undo is whole.
            ASSERT_TRUE(RestoreAll(name));
            return;
        }
        fs::remove(BackupDir() / name);
    }
}

}  // namespace
}  // namespace hivewise
