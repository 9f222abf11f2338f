// With Wine's server running for the prefix (here: its lock held where Debian's build
// keeps it), every command that would write refuses with one line and writes nothing;
// what only reads still works.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "cli/exit_status.h"
#include "cli/json_check.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/wine_server_check.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

class WineRunningTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix.Dir() / "drive_c" / "windows" / "system32");
        fs::create_directories(prefix.Dir() / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices" / "c:");
        prefix.SystemReg("\n[Software\\\\Test] 1700000000\n\"Name\"=\"Value\"\n");
        prefix.UserReg("\n[Software] 1700000000\n");
        // Debian's layout without /run/user/UID: a folder of random name in the
        // temporary folder, its name stored in the prefix.
        std::string name = "wine-hw" + std::to_string(::getpid());
        prefix.Write("wineserver", name);
        const char* tmp = std::getenv("TMPDIR");
        serverDir = fs::path(tmp && *tmp ? tmp : "/tmp") / name;
        fs::path lock = serverDir / *WineServerFolderName(prefix.Dir()) / "lock";
        fs::create_directories(lock.parent_path());
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        server = ::fork();
        if (server == 0) {
            int fd = ::open(lock.c_str(), O_CREAT | O_WRONLY, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            char c = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
            (void)!::write(ready[1], &c, 1);
            ::pause();
            ::_exit(0);
        }
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
        ASSERT_EQ(c, '1');
        system = prefix.Read("system.reg");
        user = prefix.Read("user.reg");
    }
    void TearDown() override {
        ::kill(server, SIGKILL);
        ::waitpid(server, nullptr, 0);
        std::error_code ec;
        fs::remove_all(serverDir, ec);
    }
    bool Untouched() {
        return prefix.Read("system.reg") == system && prefix.Read("user.reg") == user &&
               !fs::exists(prefix.Dir() / "userdef.reg");
    }
    // Refused with exactly the line that says Wine runs and how to end it, and the
    // status every command gives for that.
    void ExpectRefused(const CliRun& run) {
        EXPECT_TRUE(FailedWithOneLine(run, 4));
        EXPECT_EQ(run.err, WineRunningMessage(prefix.Dir()) + "\n");
        EXPECT_EQ(run.out, "");
    }

    CliPrefix prefix;
    fs::path serverDir;
    pid_t server = -1;
    std::string system, user;
};

TEST_F(WineRunningTest, WritingCommandsRefuseAndWriteNothing) {
    ExpectRefused(prefix.Reg({"add", "HKCU\\Software\\New", "/v", "X", "/d", "1", "/f"}));
    // The same data again would change nothing, and still Wine owns the registry.
    ExpectRefused(prefix.Reg({"add", "HKLM\\Software\\Test", "/v", "Name", "/d", "Value", "/f"}));
    ExpectRefused(prefix.Reg({"delete", "HKLM\\Software\\Test", "/f"}));
    prefix.Write("import.reg",
                 "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imported]\n\"a\"=\"b\"\n");
    ExpectRefused(prefix.Reg({"import", (prefix.Dir() / "import.reg").string()}));
    EXPECT_TRUE(Untouched());
    EXPECT_FALSE(fs::exists(prefix.Dir() / "drive_c" / "Program Files" / "Hivewise"));
}

TEST_F(WineRunningTest, RepairAndBackupsSayWineRunsByTheirStatus) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"repair", "--sections", "4", "--yes"},
          {"backups", "restore", "1,2,2030_3,4,5.zip", "--all"},
          {"backups", "remove", "1,2,2030_3,4,5.zip", "--yes"}}) {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        CliRun run = CliPrefix::Run(args);
        EXPECT_EQ(run.status, cli::kExitWineRunning) << args[2] << ": " << run.err;
        EXPECT_EQ(run.err, WineRunningMessage(prefix.Dir()) + "\n");
    }
    EXPECT_TRUE(Untouched());
}

// Status 4 from every command that writes, and with --json the error object says so.
TEST_F(WineRunningTest, EveryWritingCommandExitsFourWithJsonToo) {
    for (std::vector<std::string> args : {std::vector<std::string>{"fullbackup", "create"},
                                          {"fullbackup", "restore", "1,2,2030_3,4,5.zip", "--yes"},
                                          {"startup", "remove", "Name"},
                                          {"startup", "restore", "--all"},
                                          {"repair", "--sections", "4", "--yes", "--json"},
                                          {"fullbackup", "create", "--json"}}) {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        CliRun run = CliPrefix::Run(args);
        EXPECT_EQ(run.status, cli::kExitWineRunning) << args[2] << ": " << run.err;
        EXPECT_EQ(run.err, WineRunningMessage(prefix.Dir()) + "\n");
        std::optional<JsonValue> json = JsonReader::Parse(run.out);
        if (args.back() == "--json") {
            ASSERT_TRUE(json && json->Has("error")) << run.out;
            EXPECT_EQ((*json)["error"]["status"].number, cli::kExitWineRunning);
            EXPECT_EQ((*json)["error"]["message"].text, WineRunningMessage(prefix.Dir()));
        } else {
            EXPECT_EQ(run.out, "");
        }
    }
    // A scan reads and says nothing was saved; its JSON is the scan's, its status 0.
    CliRun scan =
        CliPrefix::Run({"--prefix", prefix.Dir().string(), "scan", "--sections", "4", "--json"});
    EXPECT_EQ(scan.status, cli::kExitDone);
    std::optional<JsonValue> json = JsonReader::Parse(scan.out);
    EXPECT_TRUE(json && json->Has("findings")) << scan.out;
    EXPECT_TRUE(Untouched());
}

TEST_F(WineRunningTest, ReadingCommandsStillWork) {
    CliRun query = prefix.Reg({"query", "HKLM\\Software\\Test", "/v", "Name"});
    EXPECT_EQ(query.status, 0) << query.err;
    EXPECT_NE(query.out.find("Value"), std::string::npos);
    fs::path exported = prefix.Dir() / "out.reg";
    CliRun run = prefix.Reg({"export", "HKLM\\Software\\Test", exported.string(), "/y"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(exported));

    // A scan reads everything and says that its settings and log were not saved.
    CliRun scan = CliPrefix::Run({"--prefix", prefix.Dir().string(), "scan", "--sections", "4"});
    EXPECT_EQ(scan.status, 0);
    EXPECT_EQ(scan.err, "The scan's settings and log were not saved. " +
                            WineRunningMessage(prefix.Dir()) + "\n");
    EXPECT_TRUE(Untouched());
    EXPECT_FALSE(fs::exists(prefix.Dir() / "drive_c" / "Program Files" / "Hivewise"));
}

}  // namespace
}  // namespace hivewise::testing
