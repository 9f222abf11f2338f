#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

class CommandLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Test] 1700000000\n\"Name\"=\"Value\"\n");
        prefix.UserReg("\n[Software] 1700000000\n");
        system = prefix.Read("system.reg");
        user = prefix.Read("user.reg");
    }
    CliRun Run(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args, input);
    }
    bool Untouched() const {
        return prefix.Read("system.reg") == system && prefix.Read("user.reg") == user &&
               !fs::exists(prefix.Dir() / "drive_c");
    }

    CliPrefix prefix;
    std::string system, user;
};

TEST_F(CommandLineTest, HelpOfTheProgramAndOfEveryCommandGoesToStdout) {
    const std::vector<std::string> commands = {
        "",
        "scan",
        "repair",
        "backups",
        "backups list",
        "backups show",
        "backups restore",
        "backups remove",
        "fullbackup",
        "fullbackup create",
        "fullbackup list",
        "fullbackup restore",
        "machines",
        "update",
        "startup",
        "startup list",
        "startup remove",
        "bho parked",
        "programs restore",
    };
    for (const std::string& command : commands) {
        std::vector<std::string> args;
        for (size_t start = 0; start < command.size();) {
            size_t space = command.find(' ', start);
            if (space == std::string::npos) space = command.size();
            args.push_back(command.substr(start, space - start));
            start = space + 1;
        }
        for (const char* help : {"--help", "-h"}) {
            std::vector<std::string> asked = args;
            asked.push_back(help);
            CliRun run = Run(asked);
            EXPECT_EQ(run.status, 0) << command << ' ' << help << ": " << run.err;
            EXPECT_EQ(run.err, "") << command;
            std::string usage = "Usage: hivewise-cli" + (command.empty() ? "" : " " + command);
            EXPECT_NE(run.out.find(usage + " ["), std::string::npos) << command << ":\n" << run.out;
        }
    }
    // The program's help names every command with what it does.
    std::string help = Run({"--help"}).out;
    for (const char* command : {"reg ", "scan ", "repair ", "backups ", "fullbackup ", "machines ",
                                "update ", "startup ", "bho ", "programs "}) {
        EXPECT_NE(help.find(std::string("\n  ") + command), std::string::npos) << command;
    }
    EXPECT_NE(help.find("Ctrl-C aborts the scan"), std::string::npos);
    // reg has its own help, for itself and for each operation.
    for (std::vector<std::string> args : {std::vector<std::string>{"reg", "--help"},
                                          {"reg", "/?"},
                                          {"reg", "query", "--help"},
                                          {"reg", "add", "/?"},
                                          {"reg", "delete", "--help"},
                                          {"reg", "export", "/?"},
                                          {"reg", "import", "--help"}}) {
        CliRun run = Run(args);
        EXPECT_EQ(run.status, 0) << args[1] << ' ' << args.back() << ": " << run.err;
        EXPECT_EQ(run.out.rfind("Usage: hivewise-cli ", 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
    CliRun version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("hivewise-cli ", 0), 0u);
    EXPECT_TRUE(Untouched());
}

TEST_F(CommandLineTest, AWrongCommandLineExitsTwoAndChangesNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, ""},
        {{"--bogus"}, ""},
        {{"frobnicate"}, ""},
        {{"--prefix="}, ""},
        {{"scan", "--sections"}, "scan"},
        {{"repair", "--sections", "4", "--bogus", "--yes"}, "repair"},
        {{"repair", "--sections", "16", "--yes"}, "repair"},
        {{"backups"}, "backups"},
        {{"backups", "remove", "--yes"}, "backups remove"},
        {{"backups", "restore", "a.zip"}, "backups restore"},
        {{"backups", "restore", "a.zip", "--all", "--items", "1"}, "backups restore"},
        {{"fullbackup", "restore", "a.zip", "b.zip", "-y"}, "fullbackup restore"},
        {{"fullbackup", "destroy"}, "fullbackup"},
        {{"machines", "--yes"}, "machines"},
        {{"update"}, "update"},
        {{"update", "--check", "--from="}, "update"},
        {{"startup", "remove", "--all"}, "startup remove"},
    };
    for (const auto& [args, command] : cases) {
        CliRun run = Run(args);
        std::string line;
        for (const std::string& arg : args)
            line += arg + ' ';
        EXPECT_TRUE(UsageError(run, command)) << line;
    }
    EXPECT_TRUE(Untouched());
}

TEST_F(CommandLineTest, SharedOptionsReadTheSameAfterTheCommand) {
    // --prefix after the command, --json with either command that prints JSON.
    CliRun scan =
        CliPrefix::Run({"scan", "--sections", "4", "--json", "--prefix", prefix.Dir().string()});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.out.rfind("{\"aborted\": false", 0), 0u) << scan.out;
    CliRun machines = Run({"machines", "--json"});
    EXPECT_EQ(machines.status, 0) << machines.err;
    EXPECT_EQ(machines.out.front(), '{');
    // The last of a repeated option counts.
    CliRun repeated = CliPrefix::Run({"--prefix", "/no/such/prefix", "reg", "query", "HKLM"});
    EXPECT_TRUE(FailedWithOneLine(repeated));
    repeated = CliPrefix::Run({"--prefix", "/no/such/prefix", "--prefix", prefix.Dir().string(),
                               "reg", "query", "HKLM\\Software\\Test"});
    EXPECT_EQ(repeated.status, 0) << repeated.err;
}

TEST_F(CommandLineTest, RegTakesItsWordsUntouched) {
    // Words that look like the program's options are reg's names and data.
    CliRun run = prefix.Reg(
        {"add", "HKLM\\Software\\Test", "/v", "--json", "/t", "REG_SZ", "/d", "-y", "/f"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = prefix.Reg({"add", "HKLM\\Software\\Test", "/v", "scan", "/d", "--prefix", "/f"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = prefix.Reg({"query", "HKLM\\Software\\Test"});
    EXPECT_EQ(run.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\n    Name    REG_SZ    Value\n"
              "    --json    REG_SZ    -y\n    scan    REG_SZ    --prefix\n\n");
    // Its switches are case-insensitive and its own syntax errors stay its own.
    run = prefix.Reg({"QUERY", "hklm\\software\\test", "/V", "Name"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Name    REG_SZ    Value"), std::string::npos);
    run = prefix.Reg({"query", "HKLM\\Software\\Test", "/v"});
    EXPECT_TRUE(FailedWithOneLine(run));
    EXPECT_NE(run.err.find("Invalid syntax"), std::string::npos);
}

}  // namespace
}  // namespace hivewise::testing
