#include "scan/scanners/association_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_prefix.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

using testing::ExpectFinding;
using testing::kInvalidAppIdText;
using testing::RunOptions;
using testing::RunScanner;
using testing::RunWithContext;
using testing::ScanRun;

constexpr const char* kRegistered = "{D0000000-0000-0000-0000-000000000001}";

class AssociationScannerTest : public ::testing::Test {
  protected:
    std::unique_ptr<Machine> Load(const std::string& keys) {
        prefix.UserReg("");
        prefix.SystemReg(testing::ClassesSections(keys));
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        return machine;
    }
    testing::TempPrefix prefix;
};

TEST_F(AssociationScannerTest, ReportsExtensionsThatLeadNowhere) {
    prefix.File("windows/system32/notepad.exe", "MZ");
    prefix.File("windows/system32/shell32.dll", "MZ");
    auto machine = Load(R"(
[*]
@="all files"

[.ctype]
@="Gone.Type"
"Content Type"="text/plain"

[.empty]

[.file]
@="notepad.exe"

[.gone]
@="Gone.Type"

[.goneshellex\ShellEx]

[.goneshellex]
@="Gone.Type"

[.good]
@="App.Doc"

[.handler\PersistentHandler]
@=")" + std::string(kRegistered) +
                        R"("

[.handlergone\PersistentHandler]
@="{99999999-0000-0000-0000-000000000009}"

[.icon\DefaultIcon]
@="shell32.dll,3"

[.new\App.Doc\ShellNew]
"NullFile"=""

[.ptype]
@="Gone.Type"
"PerceivedType"="text"

[.shell\shell\open\command]
@="notepad.exe %1"

[.ver]
@="App.Doc.3"

[App.Doc\shell\open\command]
@="notepad.exe %1"

[CLSID\)" + std::string(kRegistered) +
                        R"(]
@="Handler"

[.)" + std::string(255, 'x') +
                        R"(]
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanFileAssociations);
    ASSERT_EQ(r.found.size(), 3u);
    ExpectFinding(r.found[0], 11, ".empty", "HKEY_CLASSES_ROOT\\.empty", "ShellEx", "",
                  kInvalidAppIdText);
    ExpectFinding(r.found[1], 11, ".gone", "HKEY_CLASSES_ROOT\\.gone", "(Default)", "Gone.Type",
                  kInvalidAppIdText);
    ExpectFinding(r.found[2], 11, ".handlergone", "HKEY_CLASSES_ROOT\\.handlergone",
                  "PersistentHandler", "{99999999-0000-0000-0000-000000000009}", kInvalidAppIdText);
    // Seventeen keys: the content and perceived types take no step, the name beyond 255
    // characters takes one; the eleven other extensions examined show their key, and so
    // do the two commands and the icon judged, App.Doc's last.
    EXPECT_EQ(r.steps, 15);
    EXPECT_EQ(r.pumps, 14);
    EXPECT_EQ(r.statusLine, "HKEY_CLASSES_ROOT\\App.Doc\\shell\\open\\command");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(AssociationScannerTest, ClearedFlagStopsTheScanAndTheShellNewSearch) {
    auto machine = Load(R"(
[.a]
@="Gone.A"

[.b]
@="Gone.B"

[.c\x]

[.c\y\ShellNew]
)");
    ASSERT_TRUE(machine);
    EXPECT_EQ(RunScanner(*machine, ScanFileAssociations).found.size(), 2u);
    ScanRun aborted = RunScanner(*machine, ScanFileAssociations, {.abortAfterFindings = 1});
    EXPECT_EQ(aborted.found.size(), 1u);
    EXPECT_EQ(aborted.steps, 1);
    EXPECT_TRUE(RunScanner(*machine, ScanFileAssociations, {.initialFlag = 0}).found.empty());

    auto shellNewBelow = [&](int flag, std::string_view key) {
        bool answer = false;
        RunWithContext(*machine, {.initialFlag = flag}, [&](ScanContext& context) {
            answer = HasShellNewBelow(context, kHkeyClassesRoot, key);
        });
        return answer;
    };
    // The second sub-key holds it; a cleared flag ends the search before any.
    EXPECT_TRUE(shellNewBelow(1, ".c"));
    EXPECT_FALSE(shellNewBelow(0, ".c"));
    EXPECT_FALSE(shellNewBelow(1, ".a"));
    EXPECT_FALSE(shellNewBelow(1, ".missing"));
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

// Installed programs and system files, an App Paths entry, and a CD-ROM drive D:.
class ClassCommandsTest : public testing::DrivesTest {
  protected:
    void SetUp() override {
        DrivesTest::SetUp();
        for (const char* file : {"windows/system32/notepad.exe", "windows/system32/rundll32.exe",
                                 "windows/system32/shell32.dll", "windows/system32/setupapi.dll",
                                 "windows/system32/winebrowser.exe", "Program Files/App/app.exe",
                                 "Program Files/App/app.ico", "Program Files/Other Dir/tool.exe",
                                 "Program Files/Windows NT/Accessories/wordpad.exe"}) {
            prefix.File(file, "MZ");
        }
        prefix.File("Program Files/App/Folder.exe/readme.txt");
    }
};

TEST_F(ClassCommandsTest, ReportsCommandsAndIconsNamingGoneFiles) {
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wordpad.exe] 1700000000
@="\"%ProgramFiles%\\Windows NT\\Accessories\\wordpad.exe\""

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gonepad.exe] 1700000000
@="C:\\Program Files\\Gone\\gonepad.exe"
)" + testing::ClassesSections(R"(
[App.Doc\shell\open\command]
@="C:\\Program Files\\App\\app.exe %1"

[App.Doc\shell\edit\command]
@=str(2):"\"%ProgramFiles%\\App\\app.exe\" /e \"%1\""

[App.Doc\shell\bare\command]
@="C:\\Program Files\\App\\app /x"

[App.Doc\shell\tool\command]
@="C:\\Program Files\\Other Dir\\tool.exe -x \"%1\""

[App.Doc\shell\install\command]
@="rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 %1"

[App.Doc\shell\browse\command]
@="winebrowser.exe -nohome"

[App.Doc\shell\write\command]
@="wordpad \"%1\""

[App.Doc\shell\empty\command]
@=""

[App.Doc\shell\delegate\command]
"DelegateExecute"="{00000000-0000-0000-0000-000000000001}"

[App.Doc\shell\cd\command]
@="D:\\setup\\run.exe %1"

[App.Doc\shell\folder\command]
@="C:\\Program Files\\App\\Folder.exe\\readme.txt"

[App.Doc\DefaultIcon]
@="\"C:\\Program Files\\App\\app.ico\""

[exefile\shell\open\command]
@="\"%1\" %*"

[Doc.Icon\DefaultIcon]
@="%1"

[Sys.Icon\DefaultIcon]
@="shell32.dll,-3"

[Applications\app.exe\shell\open\command]
@="\"C:\\Program Files\\App\\app.exe\" \"%1\""

[Applications\gone.exe\shell\open\command]
@="\"C:\\Gone\\gone.exe\" \"%1\""

[Gone.Doc\shell\open\command]
@="\"C:\\Program Files\\Gone\\gone.exe\" \"%1\""

[Gone.Doc\shell\print\command]
@="C:\\Program Files\\Gone\\gone.exe /p %1"

[Gone.Doc\shell\preview\command]
@="%SystemRoot%\\system32\\rundll32.exe \"C:\\Program Files\\Gone\\viewer.dll\",Show %1"

[Gone.Doc\shell\find\command]
@="gonefind.exe %1"

[Gone.Doc\shell\pad\command]
@="gonepad.exe %1"

[Gone.Doc\DefaultIcon]
@="C:\\Program Files\\Gone\\gone.exe,1"

[Gone.Icon\DefaultIcon]
@="C:\\Gone\\icons.dll,-101"
)"),
                        R"(
[Software\\Classes\\User.Doc\\shell\\open\\command] 1700000000
@="\"C:\\Gone\\user.exe\" %1"

[Software\\Classes\\Applications\\app.exe\\DefaultIcon] 1700000000
@="C:\\Program Files\\App\\app.exe,0"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanFileAssociations);
    std::vector<std::string> found;
    for (const Problem& p : r.found) {
        EXPECT_EQ(p.sectionId, 11);
        EXPECT_EQ(p.ValueName(), "(Default)");
        EXPECT_EQ(p.Description(), kInvalidAppIdText);
        found.push_back(std::string(p.ItemText()) + " | " + std::string(p.Location()) + " | " +
                        std::string(p.ValueData()));
    }
    std::sort(found.begin(), found.end());
    const std::string root = "HKEY_CLASSES_ROOT\\";
    std::vector<std::string> expected = {
        "Applications\\gone.exe | " + root +
            "Applications\\gone.exe\\shell\\open\\command | C:\\Gone\\gone.exe",
        "Gone.Doc | " + root + "Gone.Doc\\DefaultIcon | C:\\Program Files\\Gone\\gone.exe",
        "Gone.Doc | " + root + "Gone.Doc\\shell\\find\\command | gonefind.exe",
        "Gone.Doc | " + root + "Gone.Doc\\shell\\open\\command | C:\\Program Files\\Gone\\gone.exe",
        // An App Paths entry whose program is gone does not find the name.
        "Gone.Doc | " + root + "Gone.Doc\\shell\\pad\\command | gonepad.exe",
        // rundll32 is there; the library it loads is not.
        "Gone.Doc | " + root +
            "Gone.Doc\\shell\\preview\\command | C:\\Program Files\\Gone\\viewer.dll",
        "Gone.Doc | " + root +
            "Gone.Doc\\shell\\print\\command | C:\\Program Files\\Gone\\gone.exe",
        "Gone.Icon | " + root + "Gone.Icon\\DefaultIcon | C:\\Gone\\icons.dll",
        "User.Doc | HKEY_CURRENT_USER\\Software\\Classes\\User.Doc\\shell\\open\\command | "
        "C:\\Gone\\user.exe",
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ClassCommandsTest, ClearedFlagStopsTheUserClassesToo) {
    auto machine = Load(testing::ClassesSections(R"(
[Gone.A\shell\open\command]
@="C:\\Gone\\a.exe"
)"),
                        R"(
[Software\\Classes\\Gone.B\\shell\\open\\command] 1700000000
@="C:\\Gone\\b.exe"
)");
    ASSERT_TRUE(machine);
    EXPECT_EQ(RunScanner(*machine, ScanFileAssociations).found.size(), 2u);
    EXPECT_EQ(RunScanner(*machine, ScanFileAssociations, {.abortAfterFindings = 1}).found.size(),
              1u);
}

}  // namespace
}  // namespace hivewise
