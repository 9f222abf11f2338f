#include "repair/fix_backup.h"

#include "platform/files/file_system_access.h"
#include "repair/backup_records.h"
#include "repair/untrusted_archive.h"
#include "repair/zip_archive.h"
#include "repair_fixture.h"

namespace hivewise {
namespace {

using FixBackupTest = testing::RepairTest;

// A record list of several megabytes, deflated in pieces while exports are saved between
// its records, reads back whole and in order, beside every export.
TEST_F(FixBackupTest, ALongRecordListAndManyExportsReadBackWhole) {
    FileSystemAccess files(*machine);
    ASSERT_TRUE(files.CreateDirectoryPath("C:\\windows\\temp\\w"));
    FixBackup backup(*machine);
    ASSERT_TRUE(backup.BeginBackup("C:\\windows\\temp\\w"));
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\HKCUTools";
    std::string expected;
    for (int i = 1; i <= 400; ++i) {
        std::string record =
            ValueRecord(key, "Tool" + std::to_string(i),
                        std::string(9000, static_cast<char>('a' + i % 26)), nullptr);
        ASSERT_TRUE(backup.AppendConfigRecord(record));
        expected += record;
        ASSERT_EQ(backup.BackupRegKey(key, i), 1);
        expected += KeyRecord(key, i);
    }
    ASSERT_GT(expected.size(), size_t{3} << 20);
    FixBackup::FinishResult finished = backup.FinishBackup();
    ASSERT_TRUE(finished.ok);
    ASSERT_FALSE(finished.empty);

    std::string config;
    ASSERT_TRUE(backup.ReadConfig(backup.ArchivePath(), &config));
    EXPECT_EQ(config, expected);
    std::unique_ptr<UntrustedArchive> whole = backup.OpenWhole();
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->EntryCount(), 401);
    std::string first, last;
    ASSERT_EQ(whole->Read(whole->FindEntry("rkBackUp1.reg", false), &first), ZipStatus::kOk);
    ASSERT_EQ(whole->Read(whole->FindEntry("rkBackUp400.reg", false), &last), ZipStatus::kOk);
    EXPECT_EQ(first, last);
    EXPECT_NE(first.find(std::string("T\0o\0o\0l\0", 8)), std::string::npos);  // UTF-16
}

// Each entry of a backup is held to the limit of its kind, whatever the case of its name.
TEST_F(FixBackupTest, EntryLimitsByKind) {
    const EntryLimit limitOf = FixBackupEntryLimit(*machine);
    const uint64_t config = ConfigLimit(*machine);
    const uint64_t keyExport = RegistrySizedLimit(machine->PrefixDir());
    ASSERT_NE(config, kFileCopyLimit);
    ASSERT_NE(keyExport, kFileCopyLimit);
    for (std::string_view name : {"Config.ini", "CONFIG.INI", "config.ini"})
        EXPECT_EQ(limitOf(name), config) << name;
    for (std::string_view name : {"rkBackUp1.reg", "RKBACKUP12.REG", "rkbackup.reg"})
        EXPECT_EQ(limitOf(name), keyExport) << name;
    for (std::string_view name : {"rkbackup", "rkBackUp1.reg.lnk", "x.reg", "Config.ini.lnk",
                                  "Tool.lnk", "r\xc3\xa9kBackUp1.reg", ""}) {
        EXPECT_EQ(limitOf(name), kFileCopyLimit) << name;
    }
}

}  // namespace
}  // namespace hivewise
