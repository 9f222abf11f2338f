#include "cli/fullbackup_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "repair/zip_archive.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

class FullBackupCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix.Dir() / "drive_c" / "windows" / "system32");
        fs::create_directories(prefix.Dir() / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices" / "c:");
        prefix.SystemReg("\n[Software\\\\Vendor] 1700000000\n\"Path\"=\"C:\\\\app.exe\"\n");
        prefix.UserReg("\n[Software\\\\Mine] 1700000000\n\"Name\"=\"value\"\n");
    }
    CliRun Cli(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args, input);
    }
    fs::path BackupFolder() const {
        return prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "RegBackup";
    }
    std::string RegistryFiles() const {
        return prefix.Read("system.reg") + '\0' + prefix.Read("user.reg");
    }

    CliPrefix prefix;
};

TEST_F(FullBackupCommandTest, ADamagedBackupFailsAndLeavesTheRegistryFiles) {
    ASSERT_EQ(Cli({"fullbackup", "create"}).status, 0);
    fs::path archive = fs::directory_iterator(BackupFolder())->path();
    CliRun changed = Cli({"reg", "add", "HKCU\\Software\\Mine", "/v", "Name", "/d", "later", "/f"});
    ASSERT_EQ(changed.status, 0) << changed.err;

    // The user's hive cut within its last line, packed again.
    fs::path damaged = BackupFolder() / "1,2,2020_3,4,5.zip";
    {
        ZipReader reader;
        ASSERT_EQ(reader.Open(archive), ZipStatus::kOk);
        ZipWriter writer;
        ASSERT_EQ(writer.Create(damaged), ZipStatus::kOk);
        for (int i = 0; i < reader.EntryCount(); ++i) {
            std::string bytes;
            ASSERT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk);
            if (reader.Entry(i).name.rfind("hkusers_S-", 0) == 0) bytes.resize(bytes.size() - 4);
            ASSERT_EQ(writer.AddBytes(reader.Entry(i).name, bytes), ZipStatus::kOk);
        }
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }
    std::string before = RegistryFiles();
    CliRun run = Cli({"fullbackup", "restore", damaged.filename().string(), "--yes"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Restore failed"), std::string::npos) << run.err;
    EXPECT_EQ(RegistryFiles(), before);

    // Answering no restores nothing either; the whole backup then restores.
    run = Cli({"fullbackup", "restore", archive.filename().string()}, "n\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(RegistryFiles(), before);
    run = Cli({"fullbackup", "restore", archive.filename().string(), "-y"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(RegistryFiles(), before);
    EXPECT_NE(prefix.Read("user.reg").find("\"Name\"=\"value\""), std::string::npos);
}

}  // namespace
}  // namespace hivewise::testing
