#include "cli/cli_fixture.h"

namespace hivewise::testing {
namespace {

constexpr const char* kSystem = R"(
[Software\\Classes\\CLSID\\{X}\\InprocServer32] 1700000000
@="C:\\Tool\\helper.dll"

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\{X}] 1700000000
@="Helper"
"NoExplorer"=dword:00000001

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Tool"="C:\\Tool\\tool.exe /min"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool] 1700000000
"DisplayName"="Tool 1.0"
"UninstallString"="C:\\Tool\\uninst.exe"
"EstimatedSize"=dword:00000400

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool\\Parts] 1700000000
"Blob"=hex:00,ff
)";

constexpr const char* kUser = R"(
[Software\\Hivewise] 1700000000

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Tool"=str(2):"%ProgramFiles%\\tool.exe"
)";

class ToolsCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(kSystem);
        prefix.UserReg(kUser);
    }
    CliRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args);
    }
    CliPrefix prefix;
};

TEST_F(ToolsCommandTest, ListsEachManagersEntries) {
    CliRun run = Run({"startup", "list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Tool\tC:\\Tool\\tool.exe /min\tHKLM\nTool\t%ProgramFiles%\\tool.exe\tHKCU\n");
    run = Run({"bho", "list"});
    EXPECT_EQ(run.out,
              "Helper\tC:\\Tool\\helper.dll\tHKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
              "Explorer\\Browser Helper Objects\\{X}\n");
    run = Run({"programs", "list"});
    EXPECT_EQ(run.out,
              "Tool 1.0\tC:\\Tool\\uninst.exe\tHKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
              "Uninstall\\Tool\n");
}

TEST_F(ToolsCommandTest, RemoveParksAndRestoreBringsBackTheSameFiles) {
    const std::string before = prefix.Read("system.reg");
    std::string system;
    for (const char* tool : {"startup", "bho", "programs"}) {
        std::string name = std::string(tool) == "bho"        ? "Helper"
                           : std::string(tool) == "programs" ? "Tool 1.0"
                                                             : "tool";
        CliRun run = Run({tool, "remove", name});
        EXPECT_EQ(run.status, 0) << tool << ": " << run.err;
        EXPECT_EQ(run.out, "Item(s) Removed\n");
        EXPECT_EQ(Run({tool, "list"}).out, "") << tool;
    }
    system = prefix.Read("system.reg");
    EXPECT_EQ(system.find("Uninstall\\\\Tool]"), std::string::npos);
    EXPECT_EQ(system.find("Browser Helper Objects\\\\{X}]"), std::string::npos);
    EXPECT_EQ(system.find("\"Tool\"="), std::string::npos);
    system = before;
    CliRun parked = Run({"startup", "parked"});
    EXPECT_EQ(parked.out,
              "Tool\t%ProgramFiles%\\tool.exe\tHKCU\nTool\tC:\\Tool\\tool.exe /min\tHKLM\n");
    EXPECT_EQ(Run({"bho", "parked"}).out.substr(0, 26), "Helper\tC:\\Tool\\helper.dll\t");

    // A name nothing carries changes nothing.
    CliRun unknown = Run({"programs", "restore", "Nothing"});
    EXPECT_TRUE(FailedWithOneLine(unknown));
    EXPECT_EQ(Run({"programs", "parked"}).out.substr(0, 9), "Tool 1.0\t");

    for (const char* tool : {"startup", "bho", "programs"}) {
        CliRun run = Run({tool, "restore", "--all"});
        EXPECT_EQ(run.status, 0) << tool << ": " << run.err;
        EXPECT_EQ(run.out, "Selected Item(s) Restored\n");
        EXPECT_EQ(Run({tool, "parked"}).out, "") << tool;
    }
    EXPECT_EQ(Run({"startup", "list"}).out,
              "Tool\tC:\\Tool\\tool.exe /min\tHKLM\nTool\t%ProgramFiles%\\tool.exe\tHKCU\n");
    // Every key comes back with its values as they were; only the modification times move.
    auto sections = [](std::string text) {
        std::string out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("#time=", 0) == 0) continue;
            if (!line.empty() && line[0] == '[') line = line.substr(0, line.find(']') + 1);
            out += line + "\n";
        }
        return out;
    };
    EXPECT_EQ(sections(prefix.Read("system.reg")), sections(system));
    CliRun query = Run({"reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"});
    EXPECT_NE(query.out.find("REG_EXPAND_SZ"), std::string::npos) << query.out;
}

TEST_F(ToolsCommandTest, RejectsBadSyntax) {
    EXPECT_TRUE(UsageError(Run({"startup"}), "startup"));
    EXPECT_TRUE(UsageError(Run({"startup", "remove"}), "startup remove"));
    EXPECT_TRUE(UsageError(Run({"startup", "remove", "--all"}), "startup remove"));
    EXPECT_TRUE(UsageError(Run({"bho", "list", "extra"}), "bho list"));
    EXPECT_TRUE(UsageError(Run({"programs", "restore", "--all", "x"}), "programs restore"));
    EXPECT_TRUE(UsageError(Run({"programs", "restore"}), "programs restore"));
    EXPECT_TRUE(FailedWithOneLine(Run({"startup", "remove", "Missing"})));
    EXPECT_EQ(Run({"startup", "--help"}).status, 0);
    // Entry names are names, even when they read like a command of the program.
    EXPECT_TRUE(FailedWithOneLine(Run({"startup", "remove", "Tool", "scan"})));
    EXPECT_NE(prefix.Read("system.reg").find("\"Tool\"="), std::string::npos);
}

}  // namespace
}  // namespace hivewise::testing
