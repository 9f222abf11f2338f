#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <sys/wait.h>

#include "cli/cli_fixture.h"
#include "cli/machine_choice.h"

namespace hivewise::testing {
namespace {

TEST(MachineChoiceTest, PrefixOptionThenWineprefixThenHomeWine) {
    CliPrefix home;
    ScopedEnv homeEnv("HOME", home.Dir().c_str());
    ScopedEnv wineEnv("WINEPREFIX", "/somewhere/else");
    // The chosen folder wins even when it is no prefix: the user hears why, no fallback.
    EXPECT_NE(cli::ChooseMachineFolder(std::string("/given")).error.find("/given"),
              std::string::npos);
    EXPECT_NE(cli::ChooseMachineFolder(std::nullopt).error.find("/somewhere/else"),
              std::string::npos);

    ScopedEnv emptyWine("WINEPREFIX", "");
    ScopedEnv dataEnv("XDG_DATA_HOME", (home.Dir() / "data").c_str());
    // ~/.wine counts only when it holds a registry; otherwise the sample machine is used.
    std::filesystem::create_directories(home.Dir() / ".wine");
    cli::MachineFolderChoice sample = cli::ChooseMachineFolder(std::nullopt);
    EXPECT_TRUE(sample.isSample) << sample.error;
    EXPECT_EQ(sample.folder, home.Dir() / "data" / "hivewise" / "sample-machine");
    EXPECT_EQ(CliPrefix::Run({"reg", "query", "HKLM"}).status, 0);

    // A folder that is not a prefix is an error, not an empty machine.
    CliRun run = CliPrefix::Run({"--prefix", home.Dir().string(), "reg", "query", "HKLM"});
    EXPECT_TRUE(FailedWithOneLine(run));

    home.Write(".wine/system.reg", kSystemHeader);
    EXPECT_EQ(cli::ChooseMachineFolder(std::nullopt).folder, home.Dir() / ".wine");
    EXPECT_EQ(CliPrefix::Run({"reg", "query", "HKLM"}).status, 0);
}

std::string Capture(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    int raw = ::pclose(pipe);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

TEST(CliBinaryTest, EditsAndQueriesAPrefixEndToEnd) {
    CliPrefix prefix;
    prefix.SystemReg(
        "\n[Software\\\\Test] 1700000000\n#time=1da1b2c3d4e5f60\n\"Name\"=\"Value\"\n");
    std::string base =
        std::string("'") + HIVEWISE_CLI_PATH + "' --prefix '" + prefix.Dir().string() + "' reg ";
    int status = -1;
    std::string added = Capture(base +
                                    "add 'HKLM\\Software\\Test' /v Größe /t REG_DWORD /d 0x10 "
                                    "</dev/null 2>&1",
                                &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(added, "The operation completed successfully.\n");
    std::string shown = Capture(base + "query 'HKLM\\Software\\Test' </dev/null 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(shown,
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\n    Name    REG_SZ    Value\n"
              "    Größe    REG_DWORD    0x10\n\n");
    // No answer on standard input: nothing is deleted.
    Capture(base + "delete 'HKLM\\Software\\Test' </dev/null 2>/dev/null", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(Capture(base + "query 'HKLM\\Software\\Test' /v Name </dev/null 2>&1", &status),
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\n    Name    REG_SZ    Value\n\n");
}

}  // namespace
}  // namespace hivewise::testing
