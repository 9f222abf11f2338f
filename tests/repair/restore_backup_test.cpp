#include "repair/restore_backup.h"

#include "platform/files/file_system_access.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_access.h"
#include "repair/backup_records.h"
#include "repair/repair_problems.h"
#include "repair/zip_archive.h"
#include "repair_fixture.h"

// Putting a fix backup's items back, as the engine does it: failures are heard as they
// happen and returned; nothing is asked.
namespace hivewise {
namespace {

class RestoreItemsTest : public testing::RepairTest {
  protected:
    // Repairs every finding of AddFindings and returns the archive written.
    std::string RepairAll() {
        AddFindings();
        for (auto& problem : results.Problems())
            problem->isChecked = true;
        RepairOutcome outcome =
            RepairCheckedProblems(*machine, results, PlanRepair(*machine, results), {});
        EXPECT_FALSE(outcome.archive.empty()) << outcome.message;
        return outcome.archive;
    }
    std::vector<BackupItem> Items(const std::string& archive) {
        FixBackup backup(*machine);
        std::string text;
        EXPECT_TRUE(backup.ReadConfig(archive, &text));
        EXPECT_TRUE(ConfigIsSound(text));
        return ReadConfigItems(text);
    }
};

TEST_F(RestoreItemsTest, FailuresAreHeardInOrderAndCounted) {
    std::string archive = RepairAll();
    std::vector<BackupItem> items = Items(archive);
    ASSERT_FALSE(items.empty());
    // The value's key is gone since: that item cannot go back.
    ASSERT_EQ(RegistryAccess(*machine).DeleteKeyTree(
                  kHkeyCurrentUser, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"),
              kErrorSuccess);
    std::vector<std::string> heard;
    RestoreResult result = RestoreBackupItems(
        *machine, archive, items, [&](const std::string& failure) { heard.push_back(failure); });
    EXPECT_FALSE(result.refused);
    EXPECT_FALSE(result.invalid);
    EXPECT_GE(result.failed, 1);
    EXPECT_EQ(heard, result.failures);
    EXPECT_EQ(result.restored + result.failed, static_cast<int>(items.size()));
    EXPECT_TRUE(RegistryAccess(*machine).KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
}

TEST_F(RestoreItemsTest, NothingIsTriedWhereItCouldNotBeSavedOrReadWhole) {
    std::string archive = RepairAll();
    std::vector<BackupItem> items = Items(archive);
    ASSERT_TRUE(machine->Flush().ok);

    RestoreResult missing = RestoreBackupItems(*machine, archive + ".none", items);
    EXPECT_TRUE(missing.invalid);
    EXPECT_EQ(missing.restored, 0);

    machine.reset();
    machine = prefix.Load({.lockPrefix = false, .readOnly = true});
    ASSERT_TRUE(machine);
    std::vector<std::string> heard;
    RestoreResult refused = RestoreBackupItems(
        *machine, archive, items, [&](const std::string& failure) { heard.push_back(failure); });
    EXPECT_TRUE(refused.refused);
    EXPECT_EQ(refused.refusal, machine->SaveRefusal());
    EXPECT_EQ(refused.restored + refused.failed, 0);
    EXPECT_TRUE(heard.empty());
    EXPECT_FALSE(RegistryAccess(*machine).KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
}

// The machine's facts (here its environment) follow the keys put back before the
// shortcuts, which may name them, are copied.
TEST_F(RestoreItemsTest, RestoredKeysReachTheMachinesFacts) {
    const std::string environment =
        "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
    ASSERT_TRUE(ImportRegFile(*machine, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + environment +
                                            "]\r\n\"HWSAVED\"=\"back\"\r\n")
                    .allApplied);
    RegistryAccess registry(*machine);
    FixBackup backup(*machine);
    FileSystemAccess files(*machine);
    ASSERT_TRUE(files.CreateDirectoryPath("C:\\windows\\temp\\w"));
    ASSERT_TRUE(backup.BeginBackup("C:\\windows\\temp\\w"));
    ASSERT_EQ(backup.BackupRegKey("HKEY_LOCAL_MACHINE\\" + environment, 1), 1);
    ASSERT_TRUE(backup.FinishBackup().ok);
    ASSERT_EQ(registry.DeleteKeyTree(kHkeyLocalMachine, environment), kErrorSuccess);
    machine->RefreshDerivedFacts();
    ASSERT_FALSE(machine->GetEnv("HWSAVED"));

    RestoreResult result =
        RestoreBackupItems(*machine, backup.ArchivePath(), Items(backup.ArchivePath()));
    EXPECT_EQ(result.restored, 1);
    EXPECT_EQ(machine->GetEnv("HWSAVED"), "back");
}

// Every entry is read through first, even one no record names: an archive that does not
// read whole puts nothing back, and leaves nothing unpacked.
TEST_F(RestoreItemsTest, AnEntryThatDoesNotReadWholeStopsTheWholeRestore) {
    std::string archive = RepairAll();
    std::vector<BackupItem> items = Items(archive);
    auto host = FileSystemAccess(*machine).ToHostPath(archive);
    ASSERT_TRUE(host);
    std::vector<std::pair<std::string, std::string>> entries;
    {
        ZipReader reader;
        ASSERT_EQ(reader.Open(*host, kFixBackupPassword), ZipStatus::kOk);
        for (int i = 0; i < reader.EntryCount(); ++i) {
            std::string bytes;
            ASSERT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk);
            entries.emplace_back(reader.Entry(i).name, bytes);
        }
    }
    // Larger than any file copy a repair saves.
    entries.emplace_back("stray.lnk", std::string(kFileCopyLimit + 1, 's'));
    ZipWriter writer;
    ASSERT_EQ(writer.Create(*host, kFixBackupPassword), ZipStatus::kOk);
    for (const auto& [name, bytes] : entries)
        ASSERT_EQ(writer.AddBytes(name, bytes), ZipStatus::kOk);
    ASSERT_EQ(writer.Close(), ZipStatus::kOk);

    RestoreResult result = RestoreBackupItems(*machine, archive, items);
    EXPECT_TRUE(result.invalid);
    EXPECT_EQ(result.restored + result.failed, 0);
    EXPECT_FALSE(RegistryAccess(*machine).KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
    EXPECT_FALSE(std::filesystem::exists(host->parent_path() / "Temp"));
}

}  // namespace
}  // namespace hivewise
