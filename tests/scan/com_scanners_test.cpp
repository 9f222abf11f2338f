#include "scan/scanners/com_scanners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/sample_machine.h"
#include "platform/temp_prefix.h"
#include "scan/scanners/association_scanner.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::ExpectFinding;
using testing::kDirectoryInvalidText;
using testing::kFileMissingText;
using testing::kInvalidAppIdText;
using testing::RunOptions;
using testing::RunScanner;
using testing::RunWithContext;
using testing::ScanRun;

constexpr const char* kRegistered = "{D0000000-0000-0000-0000-000000000001}";
constexpr const char* kUnregistered = "{99999999-0000-0000-0000-000000000009}";

// The Wine text of a link key's target: "\Registry\Machine\Software\Classes\<path>".
std::string LinkTo(const std::string& classesPath) {
    std::string target = "\\Registry\\Machine\\Software\\Classes\\" + classesPath;
    std::string hex = "hex(6):";
    static const char* digits = "0123456789abcdef";
    for (size_t i = 0; i < target.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(target[i]);
        hex += std::string(i ? "," : "") + digits[c >> 4] + digits[c & 15] + ",00";
    }
    return "#link\n\"SymbolicLinkValue\"=" + hex + "\n";
}

// Drive C: fixed, D: a CD-ROM; a few present files; classes under Software\Classes.
class ClassesScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(prefix.Dir() / "cdrom");
        fs::create_directory_symlink("../cdrom", prefix.Dir() / "dosdevices" / "d:");
        prefix.File("Program Files/App/app.exe", "MZ");
        prefix.File("Program Files/App/app.tlb");
        prefix.File("windows/system32/present.dll", "MZ");
        prefix.File("windows/system32/present.tlb");
        prefix.UserReg("");
    }
    // `keys` are sections relative to Software\Classes, written with single backslashes.
    std::unique_ptr<Machine> Load(const std::string& keys) {
        prefix.SystemReg(R"(
[Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"ProgramFilesDir"="C:\\Program Files"

[Software\\Wine\\Drives] 1700000000
"d:"="cdrom"

[Software\\Classes\\CLSID\\)" +
                         std::string(kRegistered) +
                         R"(] 1700000000
@="Registered"
)" + testing::ClassesSections(keys));
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        return machine;
    }

    testing::TempPrefix prefix;
};

const std::string kClasses = "HKEY_CLASSES_ROOT\\CLSID\\";

TEST_F(ClassesScannerTest, ClassServersReportEachMissingServerKind) {
    const std::string longName(256, 'c');
    auto machine = Load(R"(
[CLSID\{A0000000-0000-0000-0000-000000000001}\InprocServer32]
@="%SystemRoot%\\System32\\Gone.dll"
"ThreadingModel"="Both"

[CLSID\{A0000000-0000-0000-0000-000000000001}\LocalServer32]
@="\"C:\\Gone\\Srv.exe\" /Automation"

[CLSID\{A0000000-0000-0000-0000-000000000001}\LocalServer]
@="C:\\Gone\\old.exe"

[CLSID\{B0000000-0000-0000-0000-000000000002}\InprocServer32]
@=""

[CLSID\{C0000000-0000-0000-0000-000000000003}\InprocServer32]
@="D:\\setup\\x.dll"

[CLSID\{C0000000-0000-0000-0000-000000000003}\InprocHandler32]
@="present.dll"

[CLSID\{C0000000-0000-0000-0000-000000000003}\LocalServer32]
@="rundll32.exe gone.dll,Entry"

[CLSID\{C0000000-0000-0000-0000-000000000003}\InprocServer]
@="%PROGRAMFILES%\\App\\app.exe"

[CLSID\{E0000000-0000-0000-0000-000000000005}\InprocServer32]
@="C:\\)" + std::string(255, 'x') +
                        R"("

[CLSID\{F0000000-0000-0000-0000-000000000006}\ProgID]
@="Only.ProgId"

[CLSID\)" + longName + R"(\InprocServer32]
@="C:\\Gone\\long.dll"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanClassServers);
    ASSERT_EQ(r.found.size(), 3u);
    const std::string a = kClasses + "{A0000000-0000-0000-0000-000000000001}\\";
    // Shown as stored, with the Windows folder put in with its own case.
    ExpectFinding(r.found[0], 1, "C:\\windows\\System32\\Gone.dll", a + "InprocServer32",
                  "(Default)", "C:\\windows\\System32\\Gone.dll", kFileMissingText);
    ExpectFinding(r.found[1], 1, "\"C:\\Gone\\Srv.exe\" /Automation", a + "LocalServer32",
                  "(Default)", "\"C:\\Gone\\Srv.exe\" /Automation", kFileMissingText);
    // An empty server text is missing.
    ExpectFinding(r.found[2], 1, "",
                  kClasses + "{B0000000-0000-0000-0000-000000000002}\\InprocServer32", "(Default)",
                  "", kFileMissingText);
    // One step per class enumerated (the registered one and the class without servers
    // included); the name beyond 255 characters takes none. One pump per server read.
    EXPECT_EQ(r.steps, 6);
    EXPECT_EQ(r.pumps, 7);
    EXPECT_EQ(r.statusLine, kClasses + "{C0000000-0000-0000-0000-000000000003}\\LocalServer32");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

// Thousands of servers: past the first few thousand their files are checked on a second
// thread, and the findings are still those, in the order, of checking each server where
// the walk reads it; clearing the flag stops them there just the same.
TEST_F(ClassesScannerTest, ManyClassServersReportInOrderAndStopWhenCleared) {
    std::string keys;
    std::vector<std::string> expected;
    for (int k = 0; k < 4500; ++k) {
        char id[64];
        std::snprintf(id, sizeof id, "{A%07d-0000-0000-0000-000000000000}", k);
        const std::string inproc = std::string("CLSID\\") + id + "\\InprocServer32";
        const std::string local = std::string("CLSID\\") + id + "\\LocalServer32";
        switch (k % 3) {
            case 0:  // present, through a variable
                keys += "\n[" + inproc + "]\n@=\"%ProgramFiles%\\\\App\\\\app.exe\"\n";
                break;
            case 1:  // one of a few missing files many classes name
                keys +=
                    "\n[" + inproc + "]\n@=\"C:\\\\Gone\\\\s" + std::to_string(k % 40) + ".dll\"\n";
                expected.push_back("C:\\Gone\\s" + std::to_string(k % 40) + ".dll | " + kClasses +
                                   id + "\\InprocServer32");
                break;
            default:  // a command line of its own
                keys += "\n[" + inproc + "]\n@=\"present.dll\"\n";
                keys += "\n[" + local + "]\n@=\"\\\"C:\\\\Gone\\\\l" + std::to_string(k) +
                        ".exe\\\" /Automation\"\n";
                expected.push_back("\"C:\\Gone\\l" + std::to_string(k) + ".exe\" /Automation | " +
                                   kClasses + id + "\\LocalServer32");
        }
    }
    auto machine = Load(keys);
    ASSERT_TRUE(machine);
    auto described = [](const ScanRun& run) {
        std::vector<std::string> out;
        for (const Problem& p : run.found) {
            EXPECT_EQ(p.ItemText(), p.ValueData());
            EXPECT_EQ(p.ValueName(), "(Default)");
            out.push_back(std::string(p.ItemText()) + " | " + std::string(p.Location()));
        }
        return out;
    };
    ScanRun whole = RunScanner(*machine, ScanClassServers);
    ASSERT_EQ(expected.size(), 3000u);
    EXPECT_EQ(described(whole), expected);
    EXPECT_EQ(whole.steps, 4501);  // the classes and the registered one
    EXPECT_TRUE(whole.messages.empty());
    // Once among the servers checked on the second thread, once among those checked at once.
    for (size_t after : {size_t{2900}, size_t{100}}) {
        ScanRun cut = RunScanner(*machine, ScanClassServers, {.abortAfterFindings = after});
        EXPECT_EQ(described(cut),
                  std::vector<std::string>(expected.begin(), expected.begin() + after));
    }
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ClassesScannerTest, ClassServersWithoutClassKeyShowTheFailure) {
    auto machine = Load("");
    ASSERT_TRUE(machine);
    RegistryAccess registry(*machine);
    ASSERT_EQ(registry.DeleteKeyTree(kHkeyClassesRoot, "CLSID"), kErrorSuccess);
    ScanRun r = RunScanner(*machine, ScanClassServers);
    EXPECT_TRUE(r.found.empty());
    EXPECT_EQ(r.steps, 0);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0], "RegOpenKeyEx FAILED");
    // The other scanners of the classes root stay silent without their keys.
    EXPECT_TRUE(RunScanner(*machine, ScanTypeLibraries).messages.empty());
}

TEST_F(ClassesScannerTest, ProgIdsReportClassTextsThatResolveToNothing) {
    const std::string braceless = std::string(kRegistered).substr(1, 36);
    auto machine = Load(R"(
[App.Good\CLSID]
@=")" + std::string(kRegistered) +
                        R"("

[App.NoBraces\CLSID]
@=")" + braceless + R"("

[App.Alias\CLSID]
@="App.Good"

[App.Versioned\CLSID]
@="App.Good.7"

[App.Wrong\CLSID]
@="App.Good.12"

[Empty.Class\CLSID]
@=""

[Gone.Thing.1\CLSID]
@=")" + std::string(kUnregistered) +
                        R"("

[No.Default\CLSID]
"Other"="x"

[Plain]
@="nothing"

[)" + std::string(256, 'p') +
                        R"(\CLSID]
@="{99999999-0000-0000-0000-000000000008}"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanProgIds);
    ASSERT_EQ(r.found.size(), 3u);
    // The version trim cuts App.Good.12 only to App.Good.1, which names nothing.
    ExpectFinding(r.found[0], 2, "App.Good.12", "HKEY_CLASSES_ROOT\\App.Wrong\\CLSID", "(Default)",
                  "App.Good.12", kInvalidAppIdText);
    ExpectFinding(r.found[1], 2, "", "HKEY_CLASSES_ROOT\\Empty.Class\\CLSID", "(Default)", "",
                  kInvalidAppIdText);
    ExpectFinding(r.found[2], 2, kUnregistered, "HKEY_CLASSES_ROOT\\Gone.Thing.1\\CLSID",
                  "(Default)", kUnregistered, kInvalidAppIdText);
    // Every key of the root steps (CLSID and the name beyond 255 characters included);
    // only the class texts read pump.
    EXPECT_EQ(r.steps, 11);
    EXPECT_EQ(r.pumps, 7);
    EXPECT_EQ(r.statusLine, "HKEY_CLASSES_ROOT\\Gone.Thing.1\\CLSID");
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ClassesScannerTest, TypeLibrariesJudgeFilesAndHelpFolders) {
    prefix.File("Program Files/App/Help/readme.txt");
    auto machine = Load(R"(
[TypeLib\{10000000-0000-0000-0000-000000000001}\1.0\0\win32]
@="C:\\Gone\\gone.tlb"

[TypeLib\{10000000-0000-0000-0000-000000000001}\1.0\0\win16]
@="%SystemRoot%\\system32\\present.tlb"

[TypeLib\{10000000-0000-0000-0000-000000000001}\1.0\FLAGS]
@="0"

[TypeLib\{10000000-0000-0000-0000-000000000001}\1.0\HELPDIR]
@="C:\\Gone\\Help\\"

[TypeLib\{20000000-0000-0000-0000-000000000002}\2.0\409\WIN32]
@="%SystemRoot%\\system32\\gone.tlb"

[TypeLib\{20000000-0000-0000-0000-000000000002}\2.0\HELPDIR]
@="C:\\Gone2"

[TypeLib\{30000000-0000-0000-0000-000000000003}\1.0\0\win32]
@=""

[TypeLib\{30000000-0000-0000-0000-000000000003}\1.0\HELPDIR]
@="\"C:\\Program Files\\App\\Help\""

[TypeLib\{40000000-0000-0000-0000-000000000004}\1.0\0\win32]
"NoDefault"="C:\\Gone\\x.tlb"

[TypeLib\{40000000-0000-0000-0000-000000000004}\1.0\HELPDIR]
@=""

[TypeLib\{50000000-0000-0000-0000-000000000005}\1.0\0\win64]
@="C:\\Gone\\only64.tlb"

[TypeLib\{50000000-0000-0000-0000-000000000005}\1.0\HELPDIR]
@="%ProgramFiles%\\App\\Help\\"

[TypeLib\{60000000-0000-0000-0000-000000000006}\1.0\0\win64]
@="C:\\Program Files\\App\\app.tlb"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanTypeLibraries);
    const std::string lib = "HKEY_CLASSES_ROOT\\TypeLib\\";
    const std::string first = lib + "{10000000-0000-0000-0000-000000000001}\\1.0\\";
    const std::string second = lib + "{20000000-0000-0000-0000-000000000002}\\2.0\\";
    ASSERT_EQ(r.found.size(), 6u);
    ExpectFinding(r.found[0], 2, "C:\\Gone\\gone.tlb", first + "0\\win32", "(Default)",
                  "C:\\Gone\\gone.tlb", kFileMissingText);
    // A missing folder written with its trailing backslash: both tests fail on it, and the
    // value is reported once.
    ExpectFinding(r.found[1], 2, "C:\\Gone\\Help", first + "HELPDIR", "(Default)", "C:\\Gone\\Help",
                  kFileMissingText);
    // Capitals are examined the same way; the path is reported expanded.
    ExpectFinding(r.found[2], 2, "C:\\windows\\system32\\gone.tlb", second + "409\\WIN32",
                  "(Default)", "C:\\windows\\system32\\gone.tlb", kFileMissingText);
    ExpectFinding(r.found[3], 2, "C:\\Gone2", second + "HELPDIR", "(Default)", "C:\\Gone2",
                  kDirectoryInvalidText);
    // An empty library path is missing; a win32 key without a default value is not judged.
    ExpectFinding(r.found[4], 2, "", lib + "{30000000-0000-0000-0000-000000000003}\\1.0\\0\\win32",
                  "(Default)", "", kFileMissingText);
    // A 64-bit library is judged as the others; the second one's file is there.
    ExpectFinding(r.found[5], 2, "C:\\Gone\\only64.tlb",
                  lib + "{50000000-0000-0000-0000-000000000005}\\1.0\\0\\win64", "(Default)",
                  "C:\\Gone\\only64.tlb", kFileMissingText);
    // One step per library. Pumps: the seven library-file keys, the missing folder with a
    // backslash twice, the other judged folders once; empty and present-with-backslash
    // folders show nothing.
    EXPECT_EQ(r.steps, 6);
    EXPECT_EQ(r.pumps, 11);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ClassesScannerTest, TypeLibraryWalkStaysBoundedInLinkMazesAndDeepChains) {
    const std::string maze = "TypeLib\\{60000000-0000-0000-0000-000000000006}\\1.0";
    std::string deep = "TypeLib\\{70000000-0000-0000-0000-000000000007}";
    for (int i = 0; i < 600; ++i)
        deep += "\\k";
    auto machine = Load("[" + maze + "\\0\\win32]\n@=\"C:\\\\Gone\\\\maze.tlb\"\n\n[" + maze +
                        "\\a]\n" + LinkTo(maze) + "\n[" + maze + "\\b]\n" + LinkTo(maze) + "\n[" +
                        deep + "\\win32]\n@=\"C:\\\\Gone\\\\deep.tlb\"\n");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanTypeLibraries);
    EXPECT_EQ(r.steps, 2);
    // The maze is walked to its key budget and reported through some of its paths; the
    // chain is cut before its bottom.
    ASSERT_FALSE(r.found.empty());
    EXPECT_GT(r.found.size(), 1u);  // reached through the links as well
    EXPECT_LT(r.found.size(), 4096u);
    for (const Problem& p : r.found)
        EXPECT_EQ(p.ValueData(), "C:\\Gone\\maze.tlb");
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ClassesScannerTest, ClearedFlagStopsBetweenItemsAndInsideTheWalk) {
    auto machine = Load(R"(
[CLSID\{A0000000-0000-0000-0000-000000000001}\InprocServer32]
@="C:\\Gone\\a.dll"

[CLSID\{A0000000-0000-0000-0000-000000000002}\InprocServer32]
@="C:\\Gone\\b.dll"

[A.One\CLSID]
@="{99999999-0000-0000-0000-000000000001}"

[B.Two\CLSID]
@="{99999999-0000-0000-0000-000000000002}"

[TypeLib\{10000000-0000-0000-0000-000000000001}\1.0\0\win32]
@="C:\\Gone\\a.tlb"

[TypeLib\{10000000-0000-0000-0000-000000000001}\1.0\9\win32]
@="C:\\Gone\\b.tlb"

[TypeLib\{20000000-0000-0000-0000-000000000002}\1.0\0\win32]
@="C:\\Gone\\c.tlb"
)");
    ASSERT_TRUE(machine);
    for (Scanner scanner : {ScanClassServers, ScanProgIds}) {
        EXPECT_EQ(RunScanner(*machine, scanner).found.size(), 2u);
        ScanRun aborted = RunScanner(*machine, scanner, {.abortAfterFindings = 1});
        EXPECT_EQ(aborted.found.size(), 1u);
        EXPECT_EQ(aborted.steps, 1);
        ScanRun never = RunScanner(*machine, scanner, {.initialFlag = 0});
        EXPECT_TRUE(never.found.empty());
        EXPECT_EQ(never.steps, 0);
    }
    EXPECT_EQ(RunScanner(*machine, ScanTypeLibraries).found.size(), 3u);
    // Cleared at the first library file: the walk of that library ends there (its second
    // locale is not judged), the library still takes its step, and the next is not begun.
    ScanRun aborted = RunScanner(*machine, ScanTypeLibraries, {.abortAfterFindings = 1});
    EXPECT_EQ(aborted.found.size(), 1u);
    EXPECT_EQ(aborted.steps, 1);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

fs::path SampleTemplate() {
    return fs::path(HIVEWISE_SOURCE_DIR) / "data" / "sample-machine";
}

TEST(ClassesSampleMachine, FindsExactlyTheStaleEntries) {
    testing::TempPrefix scratch;
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(SampleTemplate(), scratch.Dir() / "m", &error)) << error;
    auto loaded = Machine::Load(scratch.Dir() / "m", {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;

    std::vector<std::string> found;
    for (Scanner scanner :
         {ScanClassServers, ScanProgIds, ScanTypeLibraries, ScanFileAssociations}) {
        for (const Problem& p : RunScanner(*loaded.machine, scanner).found) {
            found.push_back(std::to_string(p.sectionId) + " " + std::string(p.Location()) + " | " +
                            std::string(p.ValueName()) + " | " +
                            std::string(p.Description().substr(0, 10)));
        }
    }
    const std::string classes = "HKEY_CLASSES_ROOT\\CLSID\\";
    const std::string libs = "HKEY_CLASSES_ROOT\\TypeLib\\";
    const std::string file = " | (Default) | The file (";
    std::vector<std::string> expected = {
        "1 " + classes + "{7A11E5D0-0C1B-4D2E-9F3A-4B5C6D7E8F01}\\InprocServer32" + file,
        "1 " + classes + "{7A11E5D0-0C1B-4D2E-9F3A-4B5C6D7E8F01}\\LocalServer32" + file,
        "1 " + classes + "{A3D5F7B9-2C4E-4F60-8A1B-3C5D7E9F0B01}\\InprocServer32" + file,
        "1 " + classes + "{B0D6E8F0-6A7B-4C8D-9E0F-1A2B3C4D5E01}\\InprocServer32" + file,
        "2 HKEY_CLASSES_ROOT\\Tailspin.RaceGhost.1\\CLSID | (Default) | The Applic",
        "2 HKEY_CLASSES_ROOT\\Woodgrove.BudgetFile\\CLSID | (Default) | The Applic",
        "2 " + libs + "{7A11E5D0-0C1B-4D2E-9F3A-4B5C6D7E8F10}\\1.0\\0\\win32" + file,
        "2 " + libs + "{7A11E5D0-0C1B-4D2E-9F3A-4B5C6D7E8F10}\\1.0\\HELPDIR" + file,
        "2 " + libs + "{A3D5F7B9-2C4E-4F60-8A1B-3C5D7E9F0B10}\\2.1\\409\\win32" + file,
        "11 HKEY_CLASSES_ROOT\\.psn | (Default) | The Applic",
        "11 HKEY_CLASSES_ROOT\\.tsr | (Default) | The Applic",
        "11 HKEY_CLASSES_ROOT\\.wgb | PersistentHandler | The Applic",
        "11 HKEY_CLASSES_ROOT\\.awt | ShellEx | The Applic",
    };
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace hivewise
