// The folders the commands unpack and assemble files in, each a link to a folder of the
// user's outside the prefix: every command works, and the user's folder stays as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "platform/files/file_system_access.h"
#include "repair/fix_backup.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

class ScratchLinksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix.Dir() / "drive_c" / "windows" / "system32");
        fs::create_directories(prefix.Dir() / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices" / "c:");
        prefix.SystemReg(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe] 1700000000
@="C:\\Program Files\\Gone\\gone.exe"
)");
        prefix.UserReg("\n[Software] 1700000000\n");
        home = outside.Dir() / "home";
        fs::create_directories(home);
        std::ofstream(home / "precious.txt", std::ios::binary) << kPrecious;
        auto loaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
        ASSERT_TRUE(loaded.machine) << loaded.error;
        Machine& machine = *loaded.machine;
        FileSystemAccess files(machine);
        std::string program = machine.ProgramFolder();
        for (const std::string& folder :
             {WriteWorkFolder(machine), RestoreWorkFolder(machine), program + "\\Temp"}) {
            std::string parent = folder.substr(0, folder.rfind('\\'));
            ASSERT_TRUE(files.CreateDirectoryPath(parent)) << parent;
            scratch.push_back(*files.ToHostPath(folder, true));
        }
    }
    CliRun Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args);
    }
    // Every scratch folder made a link to the user's folder again.
    void LinkScratchFolders() {
        for (const fs::path& folder : scratch) {
            std::error_code ec;
            fs::remove_all(folder, ec);
            fs::create_directory_symlink(home, folder);
        }
    }
    void ExpectHomeUntouched(const std::string& step) {
        std::ifstream in(home / "precious.txt", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kPrecious) << step;
        EXPECT_EQ(std::distance(fs::directory_iterator(home), fs::directory_iterator()), 1) << step;
    }

    static constexpr const char* kPrecious = "the user's own file\r\n\x01\xff";
    CliPrefix prefix, outside;
    fs::path home;
    std::vector<fs::path> scratch;
};

TEST_F(ScratchLinksTest, EveryCommandLeavesTheLinkedFolderAsItWas) {
    LinkScratchFolders();
    CliRun run = Cli({"repair", "--sections", "4", "--yes"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ExpectHomeUntouched("repair");
    run = Cli({"backups", "list"});
    std::string archive = run.out.substr(0, run.out.find('\t'));
    ASSERT_FALSE(archive.empty()) << run.out << run.err;

    LinkScratchFolders();
    run = Cli({"backups", "show", archive});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("RegKey"), std::string::npos) << run.out;
    ExpectHomeUntouched("backups show");

    run = Cli({"backups", "restore", archive, "--all"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    ExpectHomeUntouched("backups restore");

    LinkScratchFolders();
    run = Cli({"fullbackup", "create"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    ExpectHomeUntouched("fullbackup create");
    run = Cli({"fullbackup", "list"});
    std::string full = run.out.substr(0, run.out.find('\t'));
    ASSERT_FALSE(full.empty()) << run.out << run.err;

    LinkScratchFolders();
    run = Cli({"fullbackup", "restore", full, "--yes"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    ExpectHomeUntouched("fullbackup restore");
    // What the restore unpacked is gone with it.
    EXPECT_TRUE(fs::is_empty(scratch[2]));
}

}  // namespace
}  // namespace hivewise::testing
