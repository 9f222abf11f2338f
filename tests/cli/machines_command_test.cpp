#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "platform/fake_home.h"

namespace hivewise::testing {
namespace {

class MachinesCommandTest : public ::testing::Test {
  protected:
    MachinesCommandTest()
        : homeEnv("HOME", home.Dir().c_str()),
          dataEnv("XDG_DATA_HOME", (home.Dir() / "xdg").c_str()),
          wineEnv("WINEPREFIX", nullptr) {}

    FakeHome home;
    ScopedEnv homeEnv, dataEnv, wineEnv;
};

TEST_F(MachinesCommandTest, ListsEveryLaunchersMachineWithItsName) {
    LayOutFourMachines(home);
    CliRun run = CliPrefix::Run({"machines"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string steam = (home.Dir() / ".local/share/Steam/steamapps/compatdata").string();
    EXPECT_EQ(run.out,
              "Cyberpunk 2077\tsteam\t" + steam + "/1091500/pfx\n" +  //
                  "Half-Life 2\tsteam\t" + steam + "/220/pfx\n" +     //
                  "Office 2010\tbottles\t" + home.Dir().string() +
                  "/.local/share/bottles/bottles/Office\n" +  //
                  "The Witcher 3\tlutris\t" + home.Dir().string() + "/Games/witcher\n" +
                  "sample machine\tsample\t" + home.Dir().string() +
                  "/xdg/hivewise/sample-machine\n");

    run = CliPrefix::Run({"machines", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("{\n      \"name\": \"Half-Life 2\",\n      \"kind\": \"steam\",\n"
                           "      \"path\": \"" +
                           steam +
                           "/220/pfx\",\n      \"windows\": \"Microsoft Windows 7 (6.1.7601)\",\n"
                           "      \"registryBytes\": "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"wineRunning\": false\n    }"), std::string::npos);
    EXPECT_EQ(run.out.rfind("{\n  \"machines\": [\n", 0), 0u);
    EXPECT_EQ(run.out.substr(run.out.size() - 6), "  ]\n}\n");

    EXPECT_TRUE(UsageError(CliPrefix::Run({"machines", "--bogus"}), "machines"));
}

TEST_F(MachinesCommandTest, PrefixTakesAnUnambiguousName) {
    LayOutFourMachines(home);
    home.Write(".local/share/bottles/bottles/Office/system.reg",
               TempPrefix::Header("REGISTRY\\\\Machine", "win64") +
                   "\n[Software\\\\Marker] 1699999999\n\"Where\"=\"bottle\"\n");
    CliRun run =
        CliPrefix::Run({"--prefix", "office 2010", "reg", "query", "HKLM\\Software\\Marker"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("bottle"), std::string::npos);

    // Two machines of one name: the user is told which, nothing is opened.
    home.Prefix(".PlayOnLinux/wineprefix/Office 2010");
    run = CliPrefix::Run({"--prefix", "Office 2010", "reg", "query", "HKLM"});
    EXPECT_TRUE(FailedWithOneLine(run));
    EXPECT_NE(run.err.find(".PlayOnLinux/wineprefix/Office 2010"), std::string::npos);

    // A name nobody has is taken as a folder, as before.
    run = CliPrefix::Run({"--prefix", "No Such Game", "reg", "query", "HKLM"});
    EXPECT_TRUE(FailedWithOneLine(run));
    EXPECT_NE(run.err.find("No Such Game"), std::string::npos);
}

}  // namespace
}  // namespace hivewise::testing
