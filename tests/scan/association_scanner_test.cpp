#include "scan/scanners/association_scanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
    // characters takes one; only the eleven other extensions examined show their key.
    EXPECT_EQ(r.steps, 15);
    EXPECT_EQ(r.pumps, 11);
    EXPECT_EQ(r.statusLine, "HKEY_CLASSES_ROOT\\.ver");
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

}  // namespace
}  // namespace hivewise
