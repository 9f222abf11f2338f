#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/backups/restore_backup_dialog.h"
#include "app/repair_flow_fixture.h"
#include "app/repair_problems_flow.h"
#include "repair/backup_records.h"
#include "repair/zip_archive.h"
#include "scan/menu_home.h"

namespace hivewise {
namespace {

using testing::kFakeAppExe;
using testing::kStartMenuFolder;
using testing::Replaced;
namespace fs = std::filesystem;

constexpr const char* kBackupFolder = "C:\\Program Files\\Hivewise\\HivewiseBackup\\";

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Prefix A deleted and B's Start-menu shortcut gone: a repair of B's findings.
class MenuEntriesRepairTest : public testing::MenuEntriesTest {
  protected:
    void SetUp() override {
        MenuEntriesTest::SetUp();
        machine = LoadB();
        ASSERT_TRUE(machine);
        fs::remove_all(a.Dir());
        fs::remove(b.Dir() / "drive_c" / kStartMenuFolder / "FakeApp B.lnk");
    }

    RepairOutcome Repair() {
        for (const Problem& p : Scan(*machine).found)
            results.Problems().push_back(std::make_unique<Problem>(p));
        return RepairSelectedProblems(*machine, results, prompts, {});
    }

    bool RestoreAll(const std::string& archive) {
        RestoreBackupDialog dialog(*machine, prompts);
        dialog.Open();
        if (!dialog.SelectArchive(archive)) return false;
        dialog.SelectAll();
        return !dialog.Rows().empty() && dialog.Restore();
    }

    fs::path BackupDir() {
        return b.Dir() / "drive_c" / "Program Files" / "Hivewise" / "HivewiseBackup";
    }
    void MakeArchive(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& entries) {
        fs::create_directories(BackupDir());
        ZipWriter writer;
        ASSERT_EQ(writer.Create(BackupDir() / name, kFixBackupPassword), ZipStatus::kOk);
        for (const auto& [entry, bytes] : entries)
            ASSERT_EQ(writer.AddBytes(entry, bytes), ZipStatus::kOk);
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }

    std::unique_ptr<Machine> machine;
    ResultStore results;
    testing::RecordingPrompts prompts;
};

TEST_F(MenuEntriesRepairTest, RepairRemovesFilesAndRecordsAndRestoreGivesTheHomeBack) {
    auto homeBefore = home.Snapshot();
    std::string registryBefore = testing::RegistryDump(*machine);
    RepairOutcome outcome = Repair();
    ASSERT_FALSE(outcome.archive.empty()) << outcome.message;
    EXPECT_EQ(outcome.notRemoved + outcome.notBackedUp, 0) << outcome.message;

    // Every file of A and B's entry with its menu went; B's desktop entries, its file
    // type, and the icon they share with A stayed, and so did what Wine did not make.
    EXPECT_FALSE(fs::exists(home.Data() / "applications/wine/Programs/FakeApp/FakeApp B.desktop"));
    EXPECT_FALSE(fs::exists(home.Desktop() / "SoloApp.lnk"));
    EXPECT_FALSE(fs::exists(home.Data() / "mime/packages/x-wine-extension-fka.xml"));
    EXPECT_TRUE(fs::exists(home.Desktop() / "FakeApp B.desktop"));
    EXPECT_TRUE(fs::exists(home.Desktop() / "FakeApp.lnk"));
    EXPECT_TRUE(fs::exists(home.Data() / "applications/wine-extension-fkb.desktop"));
    EXPECT_TRUE(fs::exists(home.Data() / "icons/hicolor/16x16/apps/6586_FakeApp.0.png"));
    // Nothing is left for Wine to remove again, nor a record naming a file that is gone.
    RegistryAccess registry(*machine);
    EXPECT_EQ(registry.CountValues(kHkeyCurrentUser, "Software\\Wine\\MenuFiles", false), 0u);
    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "Software\\Wine\\FileOpenAssociations\\.fkb"));

    ASSERT_TRUE(RestoreAll(outcome.archive));
    EXPECT_EQ(prompts.messages.back(), kEntriesRestoredText);
    EXPECT_EQ(home.Snapshot(), homeBefore);
    EXPECT_EQ(ModeOf(home.Desktop() / "SoloApp.desktop"), 0755u);
    EXPECT_EQ(testing::RegistryDump(*machine), registryBefore);
}

TEST_F(MenuEntriesRepairTest, FileTypeGoesWithItsRegistryKey) {
    machine = LoadB(/*unregistered=*/true);
    RepairOutcome outcome = Repair();
    RegistryAccess registry(*machine);
    EXPECT_FALSE(
        registry.KeyExists(kHkeyCurrentUser, "Software\\Wine\\FileOpenAssociations\\.fkb"));
    EXPECT_FALSE(fs::exists(home.Data() / "applications/wine-extension-fkb.desktop"));
    ASSERT_TRUE(RestoreAll(outcome.archive));
    EXPECT_TRUE(registry.KeyExists(kHkeyCurrentUser, "Software\\Wine\\FileOpenAssociations\\.fkb"));
    EXPECT_EQ(registry.ReadStringValue(kHkeyCurrentUser,
                                       "Software\\Wine\\FileOpenAssociations\\.fkb", "DesktopFile"),
              (home.Data() / "applications/wine-extension-fkb.desktop").string());
    EXPECT_TRUE(fs::exists(home.Data() / "applications/wine-extension-fkb.desktop"));
}

TEST_F(MenuEntriesRepairTest, NoFindingReachesBeyondTheMenuBuildersFiles) {
    // A finding that names another file (an edited ignore list, a stale result) and one
    // whose folder became a link out of the home: neither is saved nor removed.
    testing::TempFolder outside;
    outside.Write("FakeApp.desktop", "theirs");
    home.home.Write(".bashrc", "mine");
    fs::rename(home.Data() / "applications/wine/Programs/FakeApp", home.home.Dir() / "moved");
    fs::create_directory_symlink(outside.Dir(), home.Data() / "applications/wine/Programs/FakeApp");
    for (fs::path file : {home.home.Dir() / ".bashrc",
                          home.Data() / "applications/wine/Programs/FakeApp/FakeApp.desktop",
                          home.Data() / "applications/../.bashrc"}) {
        const std::string path = file.string();
        results.Problems().push_back(
            std::make_unique<Problem>(15, ProblemTexts{.location = path, .valueData = path}));
    }
    RepairSelectedProblems(*machine, results, prompts, {});
    EXPECT_EQ(home.home.Read(".bashrc"), "mine");
    EXPECT_EQ(outside.Read("FakeApp.desktop"), "theirs");
}

TEST_F(MenuEntriesRepairTest, CraftedBackupWritesOnlyIntoTheMenuBuildersFolders) {
    testing::TempFolder outside;
    fs::create_directory_symlink(outside.Dir(), home.Data() / "applications/wine/Linked");
    fs::create_symlink(outside.Dir() / "target.desktop", home.Desktop() / "Link.desktop");
    std::string good = (home.Data() / "applications/wine/Programs/New.desktop").string();
    std::vector<std::string> refused = {
        (home.home.Dir() / ".bashrc").string(),
        (home.Data() / "applications/other.desktop").string(),
        (home.Data() / "applications/wine/../../../.profile").string(),
        (home.Data() / "applications/wine/Linked/x.desktop").string(),
        (home.Desktop() / "Link.desktop").string(),
        (home.Desktop() / "sub/deeper.desktop").string(),
        "relative/applications/wine/x.desktop",
    };
    std::string config;
    std::vector<std::pair<std::string, std::string>> entries;
    for (size_t i = 0; i < refused.size(); ++i) {
        std::string entry = "hostfile" + std::to_string(i) + ".dat";
        config += HostFileRecord(refused[i], 0644, entry);
        entries.emplace_back(entry, "planted");
    }
    config += HostFileRecord(good, 04755, "good.dat");
    entries.emplace_back("good.dat", "[Desktop Entry]\n");
    entries.emplace_back(std::string(kConfigEntry), config);
    MakeArchive("1,2,2030_3,4,5.zip", entries);

    EXPECT_FALSE(RestoreAll(kBackupFolder + std::string("1,2,2030_3,4,5.zip")));
    EXPECT_EQ(prompts.messages.back(), kInvalidBackupText);
    // The relative path makes the whole list unsound; without it the rest is judged item
    // by item.
    config.clear();
    entries.clear();
    for (size_t i = 0; i + 1 < refused.size(); ++i) {
        std::string entry = "hostfile" + std::to_string(i) + ".dat";
        config += HostFileRecord(refused[i], 0644, entry);
        entries.emplace_back(entry, "planted");
    }
    config += HostFileRecord(good, 04755, "good.dat");
    entries.emplace_back("good.dat", "[Desktop Entry]\n");
    entries.emplace_back(std::string(kConfigEntry), config);
    MakeArchive("1,2,2030_3,4,6.zip", entries);
    prompts.messages.clear();
    ASSERT_TRUE(RestoreAll(kBackupFolder + std::string("1,2,2030_3,4,6.zip")));
    for (size_t i = 0; i + 1 < refused.size(); ++i)
        EXPECT_NE(std::find(prompts.messages.begin(), prompts.messages.end(),
                            CouldNotRestoreText(refused[i])),
                  prompts.messages.end())
            << refused[i];
    EXPECT_FALSE(fs::exists(home.home.Dir() / ".bashrc"));
    EXPECT_FALSE(fs::exists(home.home.Dir() / ".profile"));
    EXPECT_FALSE(fs::exists(home.Data() / "applications/other.desktop"));
    EXPECT_TRUE(fs::is_empty(outside.Dir()));
    EXPECT_FALSE(fs::exists(home.Desktop() / "sub"));
    // The one file in Wine's folder comes back, without the set-user-ID bit.
    EXPECT_EQ(home.home.Read(fs::path(good).lexically_relative(home.home.Dir())),
              "[Desktop Entry]\n");
    EXPECT_EQ(ModeOf(good), 0755u);
}

TEST(HostFileRecords, ReadBackAndJudgedWhole) {
    std::string record = HostFileRecord("/home/u/Desktop/A B.desktop", 0755, "hostfile.dat");
    EXPECT_EQ(record,
              "[TYPE:HOST_FILE]\r\r\n[HOST_PATH:/home/u/Desktop/A B.desktop]\r\r\n[MODE:755]\r\r\n"
              "[ENTRY:hostfile.dat]\r\r\n");
    EXPECT_TRUE(ConfigIsSound(record + FileRecord("C:\\x.lnk")));
    auto items = ReadConfigItems(record + FileRecord("C:\\x.lnk"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, kBackupHostFile);
    EXPECT_EQ(items[0].second, "/home/u/Desktop/A B.desktop");
    EXPECT_EQ(items[0].mode, 0755u);
    EXPECT_EQ(items[0].entry, "hostfile.dat");
    EXPECT_EQ(ItemTypeText(items[0]), "HostFile");
    EXPECT_EQ(items[1].kind, kBackupFile);

    for (const std::string& bad :
         {HostFileRecord("home/u/x.desktop", 0644, "a.dat"),
          HostFileRecord("/home/u/x.desktop", 0644, "../a.dat"),
          Replaced(record, "[MODE:755]", "[MODE:789]"), Replaced(record, "[MODE:755]", "[MODE:]"),
          Replaced(record, "[ENTRY:hostfile.dat]\r\r\n", ""), record + "[DATA:1,00,00]\r\r\n"}) {
        EXPECT_FALSE(ConfigIsSound(bad)) << bad;
    }
}

}  // namespace
}  // namespace hivewise
