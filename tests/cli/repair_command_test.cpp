#include "cli/repair_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "platform/registry/registry_access.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStale = R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe] 1700000000
@="C:\\Program Files\\Gone\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs] 1700000000
"C:\\Gone\\shared.dll"=dword:00000007
)";
constexpr const char* kAppPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe";
constexpr const char* kShared = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

class RepairCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix.Dir() / "drive_c" / "windows" / "system32");
        fs::create_directories(prefix.Dir() / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices" / "c:");
        prefix.SystemReg(kStale);
        prefix.UserReg("\n[Software] 1700000000\n");
    }
    CliRun Cli(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args, input);
    }
    bool KeyExists(const std::string& path) {
        auto loaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
        return loaded.machine && RegistryAccess(*loaded.machine).KeyExists(kHkeyLocalMachine, path);
    }
    bool SharedDllListed() {
        auto loaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
        if (!loaded.machine) return false;
        RegistryAccess registry(*loaded.machine);
        return registry.CountValues(kHkeyLocalMachine, kShared, false) == 1;
    }

    CliPrefix prefix;
};

TEST_F(RepairCommandTest, RepairListShowRestoreRemove) {
    std::string before = prefix.Read("system.reg");
    CliRun run = Cli({"repair", "--sections", "4,6"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Selected Problems Fixed\n"), std::string::npos) << run.out;
    EXPECT_FALSE(KeyExists(kAppPath));
    EXPECT_FALSE(SharedDllListed());

    run = Cli({"backups", "list"});
    ASSERT_EQ(run.status, 0) << run.err;
    size_t tab = run.out.find('\t');
    ASSERT_NE(tab, std::string::npos) << run.out;
    std::string archive = run.out.substr(0, tab);
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);  // one archive, one line
    EXPECT_NE(run.out.find(" Time: "), std::string::npos);

    run = Cli({"backups", "show", archive});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1\tRegKey\tHKEY_LOCAL_MACHINE\\" + std::string(kAppPath) +
                           "\n2\tRegValue\tHKEY_LOCAL_MACHINE\\" + kShared + "\n");

    run = Cli({"backups", "restore", archive, "--items", "2"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "Entries Restored Successfully\n");
    EXPECT_TRUE(SharedDllListed());
    EXPECT_FALSE(KeyExists(kAppPath));
    fs::path full =
        prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "HivewiseBackup" / archive;
    run = Cli({"backups", "restore", full.string(), "--all"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(KeyExists(kAppPath));
    // The value went back whole: a second restore of it changes nothing.
    std::string after = prefix.Read("system.reg");
    EXPECT_NE(after.find("\"C:\\\\Gone\\\\shared.dll\"=dword:00000007"), std::string::npos);

    EXPECT_TRUE(FailedWithOneLine(Cli({"backups", "restore", archive})));
    EXPECT_TRUE(FailedWithOneLine(Cli({"backups", "restore", archive, "--items", "3"})));
    EXPECT_TRUE(FailedWithOneLine(Cli({"backups", "show", "none.zip"})));

    // Without --yes the question is asked; no answer is No.
    run = Cli({"backups", "remove", archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(full));
    run = Cli({"backups", "remove", archive}, "y\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Backup Deleted Successfully"), std::string::npos);
    EXPECT_FALSE(fs::exists(full));
    EXPECT_EQ(Cli({"backups", "list"}).out, "");
}

TEST_F(RepairCommandTest, WithoutAutomaticBackupTheQuestionDecides) {
    ASSERT_EQ(Cli({"scan", "--sections", "4"}).status, 0);
    ASSERT_EQ(Cli({"reg", "add", "HKCU\\SOFTWARE\\Hivewise", "/v", "NoAutoBackup", "/d", "1", "/f"})
                  .status,
              0);
    CliRun run = Cli({"repair", "--sections", "4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Auto Backup before Deletion is currently disabled."),
              std::string::npos);
    EXPECT_TRUE(KeyExists(kAppPath));
    run = Cli({"repair", "--sections", "4", "--yes"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(KeyExists(kAppPath));
    EXPECT_EQ(Cli({"backups", "list"}).out, "");
    EXPECT_TRUE(FailedWithOneLine(Cli({"repair", "--sections", "99"})));
}

}  // namespace
}  // namespace hivewise::testing
