#include "repair/restore_backup.h"

#include <random>

#include "platform/registry/registry_access.h"
#include "repair/repair_problems.h"
#include "repair/zip_archive.h"
#include "repair_fixture.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::RepairTest;

class RestoreTest : public RepairTest {
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
