#include "scan/scanners/file_list_scanners.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/machine/sample_machine.h"
#include "platform/temp_prefix.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMissingText = "The file (%s) does not exist at the specified location";
constexpr const char* kAppPaths =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr const char* kHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
constexpr const char* kSharedDlls =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char* kFonts =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr const char* kUninstall =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

using ScanResult = testing::ScanRun;

using testing::RunScanner;

void ExpectFinding(const Problem& p, int section, const std::string& item,
                   const std::string& location, const std::string& valueName,
                   const std::string& valueData) {
    testing::ExpectFinding(p, section, item, location, valueName, valueData, kMissingText);
}

// Drive C: fixed, D: a CD-ROM; Program Files and a few present files.
class FileListScannerTest : public testing::DrivesTest {
  protected:
    void SetUp() override {
        DrivesTest::SetUp();
        prefix.File("Program Files/App/app.exe", "MZ");
        prefix.File("Program Files/App/app.hlp");
        prefix.File("Program Files/App/uninst.exe", "MZ");
        prefix.File("Program Files/App/own.ttf");
        prefix.File("windows/Fonts/present.ttf");
        prefix.File("windows/system32/present.dll", "MZ");
        prefix.File("windows/present.exe", "MZ");
    }
};

TEST_F(FileListScannerTest, AppPathsReportsMissingProgramsOnly) {
    const std::string tooLong(255, 'x');  // 256 bytes with the terminator: beyond 255
    const std::string longName(256, 'n');
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\a-gone.exe] 1700000000
@="%ProgramFiles%\\Gone\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\b-present.exe] 1700000000
@="\"%programfiles%\\App\\app.exe\" /s"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\c-cdrom.exe] 1700000000
@="D:\\setup\\setup.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\d-empty.exe] 1700000000
@=""

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\e-nodefault.exe] 1700000000
"Path"="C:\\Nowhere"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\f-toolong.exe] 1700000000
@="C:\\)" + tooLong + R"("

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\g-upper.exe] 1700000000
@="%SYSTEMROOT%\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\h-root.exe] 1700000000
@="%SystemRoot%\\present.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\)" +
                        longName + R"(] 1700000000
@="C:\\gone.exe"
)");
    ASSERT_TRUE(machine);
    ScanResult r = RunScanner(*machine, ScanAppPaths);
    ASSERT_EQ(r.found.size(), 3u);
    ExpectFinding(r.found[0], 4, "C:\\Program Files\\Gone\\gone.exe",
                  std::string(kAppPaths) + "a-gone.exe", "(Default)",
                  "C:\\Program Files\\Gone\\gone.exe");
    // An empty program text is judged missing.
    ExpectFinding(r.found[1], 4, "", std::string(kAppPaths) + "d-empty.exe", "(Default)", "");
    // Only the two usual spellings are replaced; the test's expansion judges the rest.
    ExpectFinding(r.found[2], 4, "%SYSTEMROOT%\\gone.exe", std::string(kAppPaths) + "g-upper.exe",
                  "(Default)", "%SYSTEMROOT%\\gone.exe");
    // Every index steps the bar; only the entries read show a status line and pump.
    EXPECT_EQ(r.steps, 9);
    EXPECT_EQ(r.pumps, 6);
    EXPECT_EQ(r.statusLine, std::string(kAppPaths) + "h-root.exe");
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(FileListScannerTest, HelpFilesCombineFolderAndName) {
    prefix.File("Program Files/App/slash.hlp");
    const std::string longName(256, 'h');
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\Help] 1700000000
"gone.hlp"="C:\\Program Files\\App"
"app.hlp"="C:\\Program Files\\App"
"slash.hlp"="C:\\Program Files\\App\\"
"goneslash.hlp"="C:\\Program Files\\App\\"
"cd.hlp"="D:\\Help"
"long.hlp"="C:\\)" + std::string(258, 'f') +
                        R"("
")" + longName + R"("="C:\\Program Files\\App"
"lost.hlp"="C:\\Program Files\\Lost"
"lostslash.hlp"="C:\\Program Files\\Lost\\"
)");
    ASSERT_TRUE(machine);
    ScanResult r = RunScanner(*machine, ScanHelpFiles);
    ASSERT_EQ(r.found.size(), 4u);
    ExpectFinding(r.found[0], 7, "C:\\Program Files\\App\\gone.hlp", kHelp, "gone.hlp",
                  "C:\\Program Files\\App\\gone.hlp");
    // A folder written with a trailing backslash is the same folder.
    ExpectFinding(r.found[1], 7, "C:\\Program Files\\App\\goneslash.hlp", kHelp, "goneslash.hlp",
                  "C:\\Program Files\\App\\goneslash.hlp");
    ExpectFinding(r.found[2], 7, "C:\\Program Files\\Lost\\lost.hlp", kHelp, "lost.hlp",
                  "C:\\Program Files\\Lost\\lost.hlp");
    ExpectFinding(r.found[3], 7, "C:\\Program Files\\Lost\\lostslash.hlp", kHelp, "lostslash.hlp",
                  "C:\\Program Files\\Lost\\lostslash.hlp");
    EXPECT_EQ(r.steps, 9);
    EXPECT_EQ(r.pumps, 7);
    EXPECT_EQ(r.statusLine, std::string(kHelp) + "\\lostslash.hlp");
}

TEST_F(FileListScannerTest, SharedDllsJudgeTheValueName) {
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs] 1700000000
"C:\\windows\\system32\\gone.dll"=dword:00000001
"C:\\windows\\system32\\present.dll"=dword:00000003
"x.dll,1"=dword:00000001
"D:\\shared\\cd.dll"=dword:00000001
"C:\\windows\\system32\\)" +
                        std::string(240, 'd') + R"(.dll"=dword:00000001
)");
    ASSERT_TRUE(machine);
    ScanResult r = RunScanner(*machine, ScanSharedDlls);
    ASSERT_EQ(r.found.size(), 1u);
    ExpectFinding(r.found[0], 6, "C:\\windows\\system32\\gone.dll", kSharedDlls,
                  "C:\\windows\\system32\\gone.dll", "C:\\windows\\system32\\gone.dll");
    // The name of 264 characters does not fit the name buffer: skipped, stepped.
    EXPECT_EQ(r.steps, 5);
    EXPECT_EQ(r.pumps, 4);
}

TEST_F(FileListScannerTest, FontsLookInTheFontsFolder) {
    auto machine = Load(R"reg(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts] 1700000000
"Present (TrueType)"="present.ttf"
"Gone (TrueType)"="gone.ttf"
"Own (TrueType)"="C:\\Program Files\\App\\own.ttf"
"Empty"=""
"Unreadable"="C:\\)reg" +
                        std::string(258, 'u') + R"reg("
"Upper (TrueType)"="PRESENT.TTF"
)reg");
    ASSERT_TRUE(machine);
    ScanResult r = RunScanner(*machine, ScanFonts);
    ASSERT_EQ(r.found.size(), 1u);
    ExpectFinding(r.found[0], 5, "C:\\windows\\Fonts\\gone.ttf", kFonts, "Gone (TrueType)",
                  "C:\\windows\\Fonts\\gone.ttf");
    EXPECT_EQ(r.steps, 6);
    EXPECT_EQ(r.pumps, 5);
    // The status line names the font's file, not its display name.
    EXPECT_EQ(r.statusLine, std::string(kFonts) + "\\PRESENT.TTF");
}

TEST_F(FileListScannerTest, UninstallEntriesSkipSystemComponentsAndInstallerCommands) {
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A Gone] 1700000000
"UninstallString"="\"C:\\Program Files\\Gone\\Uninst.exe\" /S"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\B Present] 1700000000
"UninstallString"="\"C:\\Program Files\\App\\uninst.exe\" /S"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\C System] 1700000000
"SystemComponent"=dword:00000001
"UninstallString"="C:\\Gone\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\D NotSystem] 1700000000
"SystemComponent"=dword:00000002
"UninstallString"="C:\\Gone\\gone.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\E Msi] 1700000000
"UninstallString"="MsiExec.exe /X{F4B1C2D3-2222-4E5F-A6B7-C8D9E0F1A2B3}"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\F Empty] 1700000000
"UninstallString"=""

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\G NoCommand] 1700000000
"DisplayName"="G"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\H Root] 1700000000
"UninstallString"="%SYSTEMROOT%\\X.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\I Text] 1700000000
"SystemComponent"="1"
"UninstallString"="%ProgramFiles%\\App\\uninst.exe"
)");
    ASSERT_TRUE(machine);
    ScanResult r = RunScanner(*machine, ScanUninstallEntries);
    ASSERT_EQ(r.found.size(), 3u);
    ExpectFinding(r.found[0], 3, "\"C:\\Program Files\\Gone\\Uninst.exe\" /S",
                  std::string(kUninstall) + "A Gone", "UninstallString",
                  "\"C:\\Program Files\\Gone\\Uninst.exe\" /S");
    ExpectFinding(r.found[1], 3, "C:\\Gone\\gone.exe", std::string(kUninstall) + "D NotSystem",
                  "UninstallString", "C:\\Gone\\gone.exe");
    // Lower-cased before the replacement; the Windows folder keeps its own case.
    ExpectFinding(r.found[2], 3, "%SYSTEMROOT%\\X.exe", std::string(kUninstall) + "H Root",
                  "UninstallString", "C:\\windows\\X.exe");
    // The system component and the empty command take no step; nine entries, seven steps.
    EXPECT_EQ(r.steps, 7);
    EXPECT_EQ(r.pumps, 6);
    EXPECT_EQ(r.statusLine, std::string(kUninstall) + "I Text");
    // Entries passed over early have their keys closed as well.
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

// Long lists have their files checked on a second thread after the first few hundred: the
// findings keep the walk's order and each its own item text, value name and data, and
// clearing the flag on either side of that point stops them there.
TEST_F(FileListScannerTest, LongListsReportInOrderWithEachFindingsOwnTexts) {
    std::string uninstall;
    std::string shared = "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDLLs]\n";
    std::vector<std::string> expectUninstall;
    std::vector<std::string> expectShared;
    for (int i = 0; i < 1500; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "E%04d", i);
        const std::string n = std::to_string(i);
        uninstall += std::string("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\") +
                     "Uninstall\\\\" + name + "]\n";
        if (i % 2 == 0) {
            // The command as stored is the item; the one with the folder put in, the data.
            uninstall += "\"UninstallString\"=\"%ProgramFiles%\\\\Gone" + n + "\\\\u.exe /S\"\n";
            expectUninstall.push_back("%ProgramFiles%\\Gone" + n + "\\u.exe /S | " + kUninstall +
                                      name + " | UninstallString | " + "C:\\Program Files\\Gone" +
                                      n + "\\u.exe /S");
            shared += "\"C:\\\\windows\\\\system32\\\\gone" + n + ".dll\"=dword:00000001\n";
            const std::string dll = "C:\\windows\\system32\\gone" + n + ".dll";
            expectShared.push_back(dll + " | " + kSharedDlls + " | " + dll + " | " + dll);
        } else {
            uninstall += "\"UninstallString\"=\"%ProgramFiles%\\\\App\\\\uninst.exe\"\n";
            prefix.File("windows/system32/present" + n + ".dll", "MZ");
            shared += "\"C:\\\\windows\\\\system32\\\\present" + n + ".dll\"=dword:00000001\n";
        }
    }
    auto machine = Load(uninstall + shared);
    ASSERT_TRUE(machine);
    auto described = [](const ScanResult& run) {
        std::vector<std::string> out;
        for (const Problem& p : run.found) {
            out.push_back(std::string(p.ItemText()) + " | " + std::string(p.Location()) + " | " +
                          std::string(p.ValueName()) + " | " + std::string(p.ValueData()));
        }
        return out;
    };
    const std::vector<std::pair<Scanner, const std::vector<std::string>*>> lists = {
        {ScanUninstallEntries, &expectUninstall}, {ScanSharedDlls, &expectShared}};
    for (const auto& [scanner, expected] : lists) {
        ScanResult whole = RunScanner(*machine, scanner);
        EXPECT_EQ(described(whole), *expected);
        EXPECT_TRUE(whole.messages.empty());
        for (size_t after : {size_t{700}, size_t{100}}) {
            ScanResult cut = RunScanner(*machine, scanner, {.abortAfterFindings = after});
            EXPECT_EQ(described(cut),
                      std::vector<std::string>(expected->begin(), expected->begin() + after));
        }
    }
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(FileListScannerTest, MissingOrEmptyKeysDoNothing) {
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\Help] 1700000000

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall] 1700000000
"UninstallString"="C:\\gone.exe"
)");
    ASSERT_TRUE(machine);
    for (Scanner scanner :
         {ScanAppPaths, ScanHelpFiles, ScanSharedDlls, ScanFonts, ScanUninstallEntries}) {
        ScanResult r = RunScanner(*machine, scanner);
        EXPECT_TRUE(r.found.empty());
        EXPECT_EQ(r.steps, 0);
        EXPECT_EQ(r.pumps, 0);
    }
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

// Two missing references per section; the continue flag is tested before every item.
class FileListAbortTest : public FileListScannerTest {
  protected:
    std::unique_ptr<Machine> LoadTwoPerSection() {
        return Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\a.exe] 1700000000
@="C:\\Gone\\a.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\b.exe] 1700000000
@="C:\\Gone\\b.exe"

[Software\\Microsoft\\Windows\\Help] 1700000000
"a.hlp"="C:\\Gone"
"b.hlp"="C:\\Gone"

[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs] 1700000000
"C:\\Gone\\a.dll"=dword:00000001
"C:\\Gone\\b.dll"=dword:00000001

[Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts] 1700000000
"A"="a.ttf"
"B"="b.ttf"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A] 1700000000
"UninstallString"="C:\\Gone\\a.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\B] 1700000000
"UninstallString"="C:\\Gone\\b.exe"
)");
    }
};

TEST_F(FileListAbortTest, ClearedFlagStopsBeforeTheNextItem) {
    auto machine = LoadTwoPerSection();
    ASSERT_TRUE(machine);
    for (Scanner scanner :
         {ScanAppPaths, ScanHelpFiles, ScanSharedDlls, ScanFonts, ScanUninstallEntries}) {
        EXPECT_EQ(RunScanner(*machine, scanner).found.size(), 2u);
        ScanResult aborted = RunScanner(*machine, scanner, /*abortOnFirst=*/true);
        EXPECT_EQ(aborted.found.size(), 1u);
        EXPECT_EQ(aborted.steps, 1);
        ScanResult never = RunScanner(*machine, scanner, false, /*initialFlag=*/0);
        EXPECT_TRUE(never.found.empty());
        EXPECT_EQ(never.steps, 0);
    }
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

fs::path SampleTemplate() {
    return fs::path(HIVEWISE_SOURCE_DIR) / "data" / "sample-machine";
}

TEST(FileListSampleMachine, FindsExactlyTheStaleEntries) {
    std::string pattern = (fs::temp_directory_path() / "hivewise-scan-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(SampleTemplate(), dir / "m", &error)) << error;
    auto loaded = Machine::Load(dir / "m", {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;

    std::vector<std::string> found;
    for (Scanner scanner :
         {ScanUninstallEntries, ScanAppPaths, ScanFonts, ScanSharedDlls, ScanHelpFiles}) {
        for (const Problem& p : RunScanner(*loaded.machine, scanner).found) {
            found.push_back(std::to_string(p.sectionId) + " " + std::string(p.Location()) + " | " +
                            std::string(p.ValueName()));
        }
    }
    const std::string machineKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows";
    std::vector<std::string> expected = {
        "3 " + std::string(kUninstall) + "Tailspin Racer | UninstallString",
        "3 " + std::string(kUninstall) + "Woodgrove Budget Helper | UninstallString",
        "3 " + std::string(kUninstall) + "Adventure Works Trail Planner | UninstallString",
        "4 " + std::string(kAppPaths) + "racer.exe | (Default)",
        "4 " + std::string(kAppPaths) + "trailplan.exe | (Default)",
        "4 " + std::string(kAppPaths) + "photosnap.exe | (Default)",
        "5 " + std::string(kFonts) + " | Tailspin Stencil (TrueType)",
        "5 " + std::string(kFonts) + " | Woodgrove Ledger (TrueType)",
        "6 " + std::string(kSharedDlls) +
            " | C:\\Program Files\\Common Files\\Tailspin\\tsaudio.dll",
        "6 " + std::string(kSharedDlls) + " | C:\\WINDOWS\\system32\\wgbudget.dll",
        "6 " + std::string(kSharedDlls) +
            " | C:\\Program Files\\Adventure Works\\Trail Planner\\trailmap.ocx",
        "7 " + std::string(kHelp) + " | racer.hlp",
        "7 " + std::string(kHelp) + " | budget.hlp",
    };
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);

    loaded.machine.reset();
    fs::remove_all(dir, *std::make_unique<std::error_code>());
}

}  // namespace
}  // namespace hivewise
