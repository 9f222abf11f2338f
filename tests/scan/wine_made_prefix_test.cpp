#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_prefix.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "scan/scan_section.h"
#include "scan/scanners/association_scanner.h"
#include "scan/scanners/com_scanners.h"
#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/startup_scanners.h"
#include "scanner_harness.h"

// A prefix made by the installed Wine, and a program registered in it through Wine's own
// registry editor: what Wine and an installed program register is never reported, and
// every command, icon, library, help folder and sound of a program whose folder was
// deleted by hand is.
namespace hivewise {
namespace {

namespace fs = std::filesystem;

bool HaveWine() {
    return std::system("command -v wineboot >/dev/null 2>&1") == 0;
}

// Runs a Wine command in the prefix with a scratch home, then waits for Wine's server to
// write the registry and end.
bool RunWine(const testing::TempFolder& home, const fs::path& prefix, const std::string& command) {
    const std::string env =
        "HOME='" + home.Dir().string() + "' WINEPREFIX='" + prefix.string() + "' WINEDEBUG=-all ";
    return std::system((env + "timeout 600 " + command + " >/dev/null 2>&1; " + env +
                        "timeout 120 wineserver -w")
                           .c_str()) == 0;
}

// What a setup writes, as Wine's regedit imports it; the program lives in
// C:\Program Files\Hw Stale (a folder name with a blank).
constexpr const char* kProgramKeys = R"(REGEDIT4

[HKEY_CLASSES_ROOT\.hwst]
@="HwStale.Doc"

[HKEY_CLASSES_ROOT\HwStale.Doc\shell\open\command]
@="\"C:\\Program Files\\Hw Stale\\hwstale.exe\" \"%1\""

[HKEY_CLASSES_ROOT\HwStale.Doc\shell\print\command]
@="C:\\Program Files\\Hw Stale\\hwstale.exe /p \"%1\""

[HKEY_CLASSES_ROOT\HwStale.Doc\shell\view\command]
@="rundll32.exe \"C:\\Program Files\\Hw Stale\\hwview.dll\",View %1"

[HKEY_CLASSES_ROOT\HwStale.Doc\DefaultIcon]
@="C:\\Program Files\\Hw Stale\\hwstale.exe,0"

[HKEY_CLASSES_ROOT\Applications\hwstale.exe\shell\open\command]
@="\"C:\\Program Files\\Hw Stale\\hwstale.exe\" \"%1\""

[HKEY_CURRENT_USER\Software\Classes\HwStale.UserDoc\shell\open\command]
@="\"C:\\Program Files\\Hw Stale\\hwstale.exe\" \"%1\""

[HKEY_CURRENT_USER\Software\Classes\HwStale.UserDoc\DefaultIcon]
@="\"C:\\Program Files\\Hw Stale\\hwstale.exe\",0"

[HKEY_CLASSES_ROOT\TypeLib\{5A1E0D00-1111-4222-8333-944455556666}\1.0\0\win64]
@="C:\\Program Files\\Hw Stale\\hwstale.tlb"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"hwstale.hlp"="C:\\Program Files\\Hw Stale\\"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\HwStale\Done\.Current]
@="C:\\Program Files\\Hw Stale\\hwstale.wav"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\HwStale\Done\.Default]
@="C:\\Program Files\\Hw Stale\\hwstale.wav"
)";

class WineMadePrefixTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!HaveWine()) return;
        home = new testing::TempFolder("hivewise-wine-home");
        prefix = new testing::TempFolder("hivewise-wine-prefix");
        made = RunWine(*home, prefix->Dir(), "wineboot -i") &&
               fs::exists(prefix->Dir() / "system.reg");
    }
    static void TearDownTestSuite() {
        delete prefix;
        delete home;
        prefix = nullptr;
        home = nullptr;
    }
    void SetUp() override {
        if (!HaveWine()) GTEST_SKIP() << "Wine is not installed: no prefix made by Wine to scan";
        ASSERT_TRUE(made) << "wineboot -i did not make a prefix";
    }

    // "location | file" of every finding of the sections these rules serve.
    static std::vector<std::string> Scan() {
        auto loaded = Machine::Load(prefix->Dir(), {.lockPrefix = false});
        EXPECT_TRUE(loaded.machine) << loaded.error;
        std::vector<std::string> found;
        if (!loaded.machine) return found;
        for (Scanner scanner :
             {ScanTypeLibraries, ScanHelpFiles, ScanFileAssociations, ScanSounds}) {
            for (const Problem& p : testing::RunScanner(*loaded.machine, scanner).found) {
                found.push_back(std::string(p.Location()) + " | " + std::string(p.ValueData()));
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    static testing::TempFolder* home;
    static testing::TempFolder* prefix;
    static bool made;
};

testing::TempFolder* WineMadePrefixTest::home = nullptr;
testing::TempFolder* WineMadePrefixTest::prefix = nullptr;
bool WineMadePrefixTest::made = false;

class Collect : public ProblemSink {
  public:
    void ProblemFound(std::unique_ptr<Problem> problem) override {
        found.push_back(std::to_string(problem->sectionId) + " " +
                        std::string(problem->Location()) + " | " +
                        std::string(problem->ValueName()));
    }
    std::vector<std::string> found;
};

// "section location | value name" of every finding of a scan of every section, in the
// order the scan driver visits them.
std::vector<std::string> ScanEverySection(const fs::path& prefix) {
    auto loaded = Machine::Load(prefix, {.lockPrefix = false, .readOnly = true});
    EXPECT_TRUE(loaded.machine) << loaded.error;
    if (!loaded.machine) return {};
    std::atomic<int> flag{1};
    Collect sink;
    ScanStatus status;
    ScanContext context(*loaded.machine, flag, sink, status);
    const ScannerTable table = BuiltInScanners();
    for (int id : SectionsInScanOrder()) {
        for (Scanner scanner : table[static_cast<size_t>(id)])
            scanner(context);
    }
    return sink.found;
}

// Runs first: the prefix as wineboot left it, then values written by Wine's own reg.
TEST_F(WineMadePrefixTest, WinesOwnEntriesShortNamesShellFoldersAndOneFindingPerValue) {
    EXPECT_EQ(ScanEverySection(prefix->Dir()), std::vector<std::string>{});

    // Wine's uninstallers remove an empty Fonts folder; its shell-folder definitions stay
    // Wine's to use.
    fs::remove(prefix->Dir() / "drive_c/windows/Fonts");
    // An installer that stores its folder by Wine's short name, as NSIS does; a user value
    // and a Run value naming files that are gone.
    prefix->Write("drive_c/Program Files/Hw Short Test/app.exe", "MZ");
    prefix->Write("drive_c/hwvalues.bat",
                  "@for %%I in (\"C:\\Program Files\\Hw Short Test\\app.exe\") do @reg add "
                  "HKLM\\Software\\HwShort /v ShortExe /d \"%%~sI\" /f\r\n"
                  "@reg add HKCU\\Software\\HwOnce /v Doc /d C:\\Gone\\doc.txt /f\r\n"
                  "@reg add HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run /v HwRun "
                  "/d C:\\Gone\\run.exe /f\r\n");
    ASSERT_TRUE(RunWine(*home, prefix->Dir(), "wine cmd /c 'C:\\hwvalues.bat'"));
    {
        std::ifstream hive(prefix->Dir() / "system.reg");
        std::string text((std::istreambuf_iterator<char>(hive)), {});
        ASSERT_NE(text.find("\"ShortExe\"=\"C:\\\\PROG~FBU\\\\HW_S~"), std::string::npos);
    }
    const std::vector<std::string> once = {
        "8 HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run | HwRun",
        "13 HKEY_CURRENT_USER\\Software\\HwOnce | Doc",
    };
    EXPECT_EQ(ScanEverySection(prefix->Dir()), once);

    fs::remove_all(prefix->Dir() / "drive_c/Program Files/Hw Short Test");
    std::vector<std::string> withShort = once;
    withShort.insert(withShort.begin() + 1, "13 HKEY_LOCAL_MACHINE\\Software\\HwShort | ShortExe");
    EXPECT_EQ(ScanEverySection(prefix->Dir()), withShort);
}

TEST_F(WineMadePrefixTest, FreshPrefixThenInstalledThenDeletedProgram) {
    // Wine registers commands such as "C:\windows\system32\winebrowser.exe" "%1",
    // %SystemRoot% paths, rundll32 libraries without extension and icons by bare name.
    EXPECT_EQ(Scan(), std::vector<std::string>{});

    const fs::path folder = prefix->Dir() / "drive_c" / "Program Files" / "Hw Stale";
    for (const char* file :
         {"hwstale.exe", "hwview.dll", "hwstale.tlb", "hwstale.hlp", "hwstale.wav"}) {
        prefix->Write(folder / file, "MZ");
    }
    prefix->Write("drive_c/hwstale.reg", kProgramKeys);
    ASSERT_TRUE(RunWine(*home, prefix->Dir(), "wine regedit /S 'C:\\hwstale.reg'"));
    EXPECT_EQ(Scan(), std::vector<std::string>{});

    fs::remove_all(folder);
    const std::string dir = "C:\\Program Files\\Hw Stale\\";
    const std::string classes = "HKEY_CLASSES_ROOT\\";
    const std::string sounds = "HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\HwStale\\Done\\";
    std::vector<std::string> expected = {
        classes + "Applications\\hwstale.exe\\shell\\open\\command | " + dir + "hwstale.exe",
        classes + "HwStale.Doc\\DefaultIcon | " + dir + "hwstale.exe",
        classes + "HwStale.Doc\\shell\\open\\command | " + dir + "hwstale.exe",
        classes + "HwStale.Doc\\shell\\print\\command | " + dir + "hwstale.exe",
        classes + "HwStale.Doc\\shell\\view\\command | " + dir + "hwview.dll",
        classes + "TypeLib\\{5A1E0D00-1111-4222-8333-944455556666}\\1.0\\0\\win64 | " + dir +
            "hwstale.tlb",
        "HKEY_CURRENT_USER\\Software\\Classes\\HwStale.UserDoc\\DefaultIcon | " + dir +
            "hwstale.exe",
        "HKEY_CURRENT_USER\\Software\\Classes\\HwStale.UserDoc\\shell\\open\\command | " + dir +
            "hwstale.exe",
        sounds + ".Current\\" + dir + "hwstale.wav | " + dir + "hwstale.wav",
        sounds + ".Default\\" + dir + "hwstale.wav | " + dir + "hwstale.wav",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help | " + dir + "hwstale.hlp",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Scan(), expected);
}

}  // namespace
}  // namespace hivewise
