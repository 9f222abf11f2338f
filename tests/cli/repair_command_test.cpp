#include "cli/repair_command.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <sstream>

#include "cli/cli_fixture.h"
#include "cli/exit_status.h"
#include "platform/registry/registry_access.h"

namespace hivewise::testing {
namespace {

using namespace hivewise::cli;

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
    // Without --yes the question is asked on the terminal; no answer is Cancel.
    CliRun run = Cli({"repair", "--sections", "4,6"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("2 item(s) will be removed."), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("will be removed"), std::string::npos) << run.out;
    EXPECT_EQ(prefix.Read("system.reg"), before);
    run = Cli({"repair", "--sections", "4,6"}, "y\n");
    ASSERT_EQ(run.status, kExitDone) << run.out << run.err;
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

    EXPECT_EQ(Cli({"backups", "restore", archive}).status, kExitUsage);
    EXPECT_EQ(Cli({"backups", "restore", archive, "--items", "3"}).status, kExitUsage);
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
    EXPECT_NE(run.err.find("Auto Backup before Deletion is currently disabled."),
              std::string::npos);
    EXPECT_TRUE(KeyExists(kAppPath));
    run = Cli({"repair", "--sections", "4", "--yes"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(KeyExists(kAppPath));
    EXPECT_EQ(Cli({"backups", "list"}).out, "");
    EXPECT_EQ(Cli({"repair", "--sections", "99"}).status, kExitUsage);
}

TEST_F(RepairCommandTest, FailedItemsAreNamedAndTheStatusSaysDoneInPart) {
    ASSERT_EQ(Cli({"repair", "--sections", "4,6", "--yes"}).status, kExitDone);
    std::string archive = Cli({"backups", "list"}).out;
    archive = archive.substr(0, archive.find('\t'));
    // The shared-DLL value's key is gone since: that item cannot go back, the key can.
    ASSERT_EQ(Cli({"reg", "delete", "HKLM\\" + std::string(kShared), "/f"}).status, 0);
    CliRun run = Cli({"backups", "restore", archive, "--all"});
    EXPECT_EQ(run.status, kExitPartial) << run.out << run.err;
    EXPECT_EQ(run.out.find("Entries Restored Successfully"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 of 2 entries restored; 1 could not be restored."), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("Could not restore"), std::string::npos) << run.err;
    EXPECT_TRUE(KeyExists(kAppPath));
    EXPECT_EQ(Cli({"backups", "restore", archive, "--items", "2"}).status, kExitFailed);
}

TEST_F(RepairCommandTest, ShortYesAnswersWhereverYesDoes) {
    ASSERT_EQ(Cli({"repair", "--sections", "4,6", "-y"}).status, kExitDone);
    EXPECT_FALSE(KeyExists(kAppPath));
    std::string archive = Cli({"backups", "list"}).out;
    archive = archive.substr(0, archive.find('\t'));
    CliRun run = Cli({"backups", "restore", archive, "--all", "-y"});
    EXPECT_EQ(run.status, kExitDone) << run.err;
    EXPECT_TRUE(KeyExists(kAppPath));
    run = Cli({"backups", "remove", archive, "-y"});
    EXPECT_EQ(run.status, kExitDone) << run.err;
    EXPECT_NE(run.out.find("Backup Deleted Successfully"), std::string::npos) << run.out;
    EXPECT_EQ(Cli({"backups", "list"}).out, "");
}

// Reads like a terminal on which the user pressed Ctrl-C before answering "y".
class InterruptedInput : public std::streambuf {
  protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (served_) return traits_type::eof();
        served_ = true;
        ::raise(SIGINT);
        setg(answer_, answer_, answer_ + 2);
        return traits_type::to_int_type(*gptr());
    }

  private:
    char answer_[3] = "y\n";
    bool served_ = false;
};

TEST_F(RepairCommandTest, CtrlCBeforeTheFirstItemStopsTheRepair) {
    std::string before = prefix.Read("system.reg");
    InterruptedInput buffer;
    std::istream in(&buffer);
    std::ostringstream out, err;
    std::vector<std::string> words{"hivewise-cli", "--prefix",   prefix.Dir().string(),
                                   "repair",       "--sections", "4,6"};
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    int status = RunCli(static_cast<int>(argv.size()), argv.data(), in, out, err);
    EXPECT_EQ(status, kExitFailed) << out.str() << err.str();
    EXPECT_NE(out.str().find("System Repair Aborted"), std::string::npos) << out.str();
    EXPECT_EQ(prefix.Read("system.reg"), before);
    EXPECT_TRUE(KeyExists(kAppPath));
    EXPECT_EQ(Cli({"backups", "list"}).out, "");
}

}  // namespace
}  // namespace hivewise::testing
