#include "cli/scan_command.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "cli/cli_fixture.h"
#include "platform/machine/sample_machine.h"
#include "platform/registry/registry_access.h"
#include "scan/result_store.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAppPaths = R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe] 1700000000
@="C:\\Program Files\\Gone\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\here.exe] 1700000000
@="C:\\here.exe"
)";

// A prefix with one missing and one present application path, and no settings yet.
class ScanCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix.Dir() / "drive_c" / "windows" / "system32");
        fs::create_directories(prefix.Dir() / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix.Dir() / "dosdevices" / "c:");
        prefix.Write("drive_c/here.exe", "MZ");
        prefix.SystemReg(kAppPaths);
        prefix.UserReg("\n[Software] 1700000000\n");
    }
    CliRun Scan(std::vector<std::string> args) {
        args.insert(args.begin(), {"--prefix", prefix.Dir().string(), "scan"});
        return CliPrefix::Run(args);
    }
    std::string Setting(const std::string& name) {
        auto loaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
        if (!loaded.machine) return "<no machine>";
        RegistryAccess registry(*loaded.machine);
        std::string text;
        return registry.ReadSetting(name, &text) ? text : "<missing>";
    }

    CliPrefix prefix;
};

TEST_F(ScanCommandTest, JsonListsSectionsAndFindingsAndPersistsTheScan) {
    CliRun run = Scan({"--sections", "4", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"aborted\": false, \"total\": 1, \"sections\": [{\"id\": 4, \"name\": "
              "\"Application Paths\", \"problems\": 1}], \"findings\": [\n"
              "  {\"sectionId\": 4, \"itemText\": \"C:\\\\Program Files\\\\Gone\\\\gone.exe\", "
              "\"location\": "
              "\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App "
              "Paths\\\\gone.exe\", \"valueName\": \"(Default)\", \"valueData\": "
              "\"C:\\\\Program Files\\\\Gone\\\\gone.exe\", \"target\": "
              "\"C:\\\\Program Files\\\\Gone\\\\gone.exe\", \"description\": \"The file (%s) does "
              "not exist at the specified location\", \"isChecked\": true, \"sequence\": 0}\n"
              "]}\n");

    // First-run defaults, then the scan's ticks and summary.
    EXPECT_EQ(Setting("Version"), "6.2");
    EXPECT_EQ(Setting("Application Paths"), "1");
    EXPECT_EQ(Setting("Windows Fonts"), "0");
    EXPECT_EQ(Setting("Items Found"), "1");
    EXPECT_NE(Setting("Last Scan").find(" Time: "), std::string::npos);

    // The log stands in the program's folder of the machine, header and block.
    fs::path logs = prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "logs";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(logs))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(files[0], std::ios::binary);
    std::string log((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(log.rfind("Hivewise Version = 6.2\r\r\n", 0), 0u);
    EXPECT_NE(log.find("\r\r\nValue : C:\\Program Files\\Gone\\gone.exe\r\r\n"), std::string::npos);
}

TEST_F(ScanCommandTest, TextShowsSectionsThenFindingsAsTheDetailsRows) {
    ASSERT_EQ(Scan({"--sections", "4"}).status, 0);
    // Without --sections the ticks of the settings decide, as in the window.
    CliRun run = Scan({});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Application Paths : 1 Problem(s)\n"
              "Description : Errors in this section refer to paths to applications within your "
              "computer.  These may cause errors when you attempt to access certain "
              "applications.\n"
              "\n"
              "RegKey : HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe \n"
              "ValueName : (Default)\n"
              "Value : C:\\Program Files\\Gone\\gone.exe\n"
              "The file (C:\\Program Files\\Gone\\gone.exe) does not exist at the specified "
              "location\n"
              "\n"
              "Scan Completed. Problems Found : 1\n");
}

// Ctrl-C during a scan ends it before the next section, and the aborted scan is still
// recorded. The driver keeps the window's half-second "Registry Integrity" row, a moment
// in which the signal surely falls.
TEST_F(ScanCommandTest, InterruptAbortsTheScan) {
    auto loaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;
    ResultStore results;
    ScanDriver driver(*loaded.machine, results);
    cli::SectionTicks ticks{};
    ticks[0] = ticks[4] = true;
    fs::path logs = prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "logs";
    std::thread press([&] {
        // The log is opened once the handler is in place and the scan is starting.
        std::error_code ec;
        for (int i = 0; i < 2000 && (!fs::is_directory(logs, ec) || fs::is_empty(logs, ec)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(::getpid(), SIGINT);
    });
    cli::ScanMachine(*loaded.machine, ticks, driver);
    press.join();
    EXPECT_TRUE(driver.Aborted());
    EXPECT_TRUE(cli::InterruptGuard::Interrupted());
    EXPECT_EQ(results.Total(), 0);
    ASSERT_TRUE(loaded.machine->Flush().ok);
    EXPECT_EQ(Setting("Items Found"), "0");
}

TEST_F(ScanCommandTest, BadSectionListIsRefused) {
    for (const char* list : {"16", "4,x", "", "4,,5", "-1"}) {
        CliRun run = Scan({"--sections", list});
        EXPECT_TRUE(UsageError(run, "scan")) << list;
    }
    EXPECT_TRUE(UsageError(Scan({"--bogus"}), "scan"));
    EXPECT_EQ(Setting("Items Found"), "<missing>");
}

TEST(ScanCommandSample, TheSampleMachineHasFindings) {
    CliPrefix home;
    ScopedEnv homeEnv("HOME", home.Dir().c_str());
    ScopedEnv dataEnv("XDG_DATA_HOME", (home.Dir() / "data").c_str());
    ScopedEnv prefixEnv("WINEPREFIX", nullptr);
    fs::path source = fs::path(HIVEWISE_SOURCE_DIR) / "data";
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(source / "sample-machine",
                                    home.Dir() / "data" / "hivewise" / "sample-machine", &error))
        << error;

    CliRun run = CliPrefix::Run({"scan", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"aborted\": false, \"total\": ", 0), 0u) << run.out;
    EXPECT_EQ(run.out.find("\"total\": 0,"), std::string::npos) << run.out;
    for (int id = 3; id <= 7; ++id) {
        EXPECT_NE(run.out.find("{\"sectionId\": " + std::to_string(id) + ","), std::string::npos)
            << id;
    }
    EXPECT_TRUE(fs::is_directory(home.Dir() / "data/hivewise/sample-machine/drive_c/Program "
                                              "Files/Hivewise/logs"));
}

}  // namespace
}  // namespace hivewise::testing
