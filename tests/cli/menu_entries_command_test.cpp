#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "cli/cli_fixture.h"
#include "cli/exit_status.h"
#include "platform/temp_prefix.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

// A home whose menu holds an entry of a prefix that was deleted and one of this prefix;
// the section as a user runs it: scan, repair, restore.
TEST(MenuEntriesCommand, ScanRepairRestoreOfSectionFifteen) {
    CliPrefix prefix;
    fs::create_directories(prefix.Dir() / "drive_c/windows/temp");
    fs::create_directories(prefix.Dir() / "drive_c/Program Files/App");
    fs::create_directories(prefix.Dir() / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices/c:");
    std::ofstream(prefix.Dir() / "drive_c/Program Files/App/App.exe") << "MZ";
    prefix.SystemReg("\n[Software] 1700000000\n");
    prefix.UserReg(
        "\n[Environment] 1700000000\n\"TEMP\"=\"C:\\\\windows\\\\temp\"\n"
        "\"TMP\"=\"C:\\\\windows\\\\temp\"\n\n[Software] 1700000000\n");
    TempFolder home("hivewise-home");
    ScopedEnv homeEnv("HOME", home.Dir().c_str());
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    ScopedEnv wine("WINEPREFIX", nullptr);
    const std::string entry = "[Desktop Entry]\nName=Gone\nExec=env WINEPREFIX=\"" +
                              (home.Dir() / "deleted").string() +
                              "\" wine-stable C:\\\\\\\\gone.exe\nType=Application\n";
    const std::string kept = "[Desktop Entry]\nName=App\nExec=env WINEPREFIX=\"" +
                             prefix.Dir().string() +
                             "\" wine C:\\\\\\\\Program\\\\ Files\\\\\\\\App\\\\\\\\App.exe\n";
    home.Write("Desktop/Gone.desktop", entry);
    home.Write("Desktop/App.desktop", kept);
    fs::permissions(home.Dir() / "Desktop/Gone.desktop", fs::perms(0750));

    auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string()});
        return CliPrefix::Run(args);
    };
    CliRun scan = cli({"scan", "--sections", "15"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("Linux Menu Entries : 1 Problem(s)"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("Menu Entry : Gone"), std::string::npos);

    CliRun repair = cli({"repair", "--sections", "15", "--yes"});
    EXPECT_EQ(repair.status, cli::kExitDone) << repair.err << repair.out;
    EXPECT_FALSE(fs::exists(home.Dir() / "Desktop/Gone.desktop"));
    EXPECT_EQ(home.Read("Desktop/App.desktop"), kept);

    std::string listed = cli({"backups", "list"}).out;
    CliRun restore = cli({"backups", "restore", listed.substr(0, listed.find('\t')), "--all"});
    EXPECT_EQ(restore.status, cli::kExitDone) << restore.err;
    EXPECT_EQ(home.Read("Desktop/Gone.desktop"), entry);
    struct stat st {};
    ::stat((home.Dir() / "Desktop/Gone.desktop").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
}

}  // namespace
}  // namespace hivewise::testing
