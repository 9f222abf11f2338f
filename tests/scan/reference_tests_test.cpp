#include "scan/reference_tests.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

// C: fixed, A: floppy, D: CD-ROM, N: network drive; a few programs and classes.
class ReferenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        prefix.SystemReg(R"(
[Software\\Classes\\App.File] 1700000000
@="App file"

[Software\\Classes\\App.File.1] 1700000000

[Software\\Classes\\App.Doc] 1700000000

[Software\\Classes\\App.Doc\\CurVer] 1700000000
@="App.Doc.2"

[Software\\Classes\\App.Doc.2\\CLSID] 1700000000
@="{11111111-2222-3333-4444-555555555555}"

[Software\\Classes\\Loop.Doc\\CurVer] 1700000000
@="loop.doc"

[Software\\Classes\\Chain.A\\CurVer] 1700000000
@="App.Doc"

[Software\\Classes\\Bad.Doc\\CLSID] 1700000000
@="not a class"

[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000000}] 1700000000

[Software\\Classes\\Word.Document] 1700000000

[Software\\Wine\\Drives] 1700000000
"a:"="floppy"
"d:"="cdrom"
"n:"="network"
)");
        prefix.UserReg("");
        for (const char* name : {"floppy", "cdrom", "net"})
            fs::create_directory(prefix.Dir() / name);
        fs::create_directory_symlink("../floppy", prefix.Dir() / "dosdevices" / "a:");
        fs::create_directory_symlink("../cdrom", prefix.Dir() / "dosdevices" / "d:");
        fs::create_directory_symlink("../net", prefix.Dir() / "dosdevices" / "n:");
        prefix.File("windows/notepad.exe", "MZ");
        prefix.File("windows/system32/drivers/present.sys", "MZ");
        prefix.File("Program Files/App/app.exe", "MZ");
        prefix.File("Program Files/App/my app.exe", "MZ");
        prefix.File("tools/tool.exe", "MZ");
        prefix.File("windows/ab.exe", "MZ");
        prefix.File("windows/ab");
        fs::create_directories(prefix.Dir() / "drive_c" / "Dir");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        machine->SetEnv("PATH", "C:\\tools");
        registry = std::make_unique<RegistryAccess>(*machine);
        files = std::make_unique<FileSystemAccess>(*machine);
        context = std::make_unique<ReferenceContext>(ReferenceContext{*registry, *files});
    }
    bool File(const std::string& text) { return FileReferenceExists(*context, text); }
    bool CommandLine(const std::string& text) { return CommandLineExists(*context, text); }
    bool Class(const std::string& text) { return ClassReferenceValid(*context, text); }

    testing::TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> registry;
    std::unique_ptr<FileSystemAccess> files;
    std::unique_ptr<ReferenceContext> context;
};

TEST_F(ReferenceTest, TooShortTextsAreMissing) {
    EXPECT_FALSE(File(""));
    EXPECT_FALSE(File("C:"));
    // Even when a file of that name is on the search path.
    EXPECT_FALSE(File("ab"));
    machine->SetEnv("Short", "ab");
    EXPECT_FALSE(File("%Short%"));  // judged after expansion
    EXPECT_TRUE(File("%Short%.exe"));
}

TEST_F(ReferenceTest, DrivesThatAreNoFixedDiskCountAsPresent) {
    EXPECT_TRUE(File("A:\\setup.exe"));
    EXPECT_TRUE(File("D:\\app.exe"));  // CD-ROM
    EXPECT_TRUE(File("n:\\share\\app.exe"));
    EXPECT_TRUE(File("X:\\app.exe"));  // no such drive
    EXPECT_FALSE(File("C:\\NoSuchFolder\\app.exe"));
}

TEST_F(ReferenceTest, AddressesUncPathsAndHostProgramsArePresent) {
    EXPECT_TRUE(File("http://example.com/setup.exe"));
    EXPECT_TRUE(File("\\\\server\\share\\file.exe"));
    EXPECT_TRUE(File("C:\\gone\\RunDll32.EXE gone.dll,Entry"));
    EXPECT_TRUE(File("msiexec /x {11111111-2222-3333-4444-555555555555}"));
    EXPECT_TRUE(File("C:\\gone\\REGSVR32.exe /s C:\\gone\\x.dll"));
}

TEST_F(ReferenceTest, CommaMarksAResourceReference) {
    EXPECT_TRUE(File("shell32.dll,4"));
    EXPECT_TRUE(File("C:\\missing\\icon.dll,0"));
}

TEST_F(ReferenceTest, EnvironmentIsExpandedBeforeTheFileIsLookedFor) {
    EXPECT_TRUE(File("%SystemRoot%\\system32\\drivers\\present.sys"));
    // The folder is there, the file is not.
    EXPECT_FALSE(File("%SystemRoot%\\system32\\drivers\\x.sys"));
}

TEST_F(ReferenceTest, CommandLinesWithQuotesAndArguments) {
    EXPECT_TRUE(File("\"C:\\Program Files\\App\\app.exe\" /s -x"));
    EXPECT_TRUE(File("C:\\Program Files\\App\\app.exe /s"));
    EXPECT_FALSE(File("\"C:\\Program Files\\App\\gone.exe\" /s"));
    // A colon after the drive part starts an argument.
    EXPECT_TRUE(File("C:\\tools\\tool.exe:stream"));
    EXPECT_TRUE(CommandLine("\"C:\\Program Files\\App\\app.exe\"|more"));
    // No prefix exists, but the whole text names a file with a blank in its name.
    EXPECT_TRUE(CommandLine("C:\\Program Files\\App\\my app.exe"));
    EXPECT_FALSE(CommandLine("C:\\Program Files\\App\\my other.exe"));
}

// A candidate that only adds blanks to one tried before names the same file: the
// answer stays that of the program part.
TEST_F(ReferenceTest, CandidatesThatOnlyAddBlanks) {
    EXPECT_TRUE(CommandLine("\"C:\\Program Files\\App\\app.exe\"   /s"));
    EXPECT_FALSE(CommandLine("\"C:\\Program Files\\App\\gone.exe\"   /s"));
    EXPECT_TRUE(CommandLine("\"c:\\program files\\app\\APP.EXE\"   /s"));
    EXPECT_TRUE(CommandLine("C:\\Program Files\\App\\..   x"));
}

TEST_F(ReferenceTest, SearchOnThePath) {
    EXPECT_TRUE(File("notepad.exe"));
    EXPECT_TRUE(File("TOOL.EXE"));  // a folder of PATH
    EXPECT_FALSE(File("nothere.exe"));
}

TEST_F(ReferenceTest, TrailingBackslashesAndFilesUsedAsFolders) {
    EXPECT_TRUE(File("C:\\Dir\\"));
    EXPECT_FALSE(File("C:\\Gone\\"));
    // A backslash and one more character after an existing folder.
    EXPECT_TRUE(File("C:\\Dir\\x"));
    EXPECT_TRUE(File("C:\\Windows\\notepad.exe\\extra"));
}

TEST_F(ReferenceTest, OverlongCommandLineKeepsItsProgram) {
    std::string text = "C:\\Program Files\\App\\app.exe " + std::string(300, 'a');
    EXPECT_TRUE(File(text));
    EXPECT_FALSE(File("C:\\Program Files\\App\\gone.exe " + std::string(300, 'a')));
}

TEST_F(ReferenceTest, ClassKeyWithOrWithoutBraces) {
    EXPECT_TRUE(ClassKeyExists(*context, "00000000-0000-0000-0000-000000000000"));
    EXPECT_TRUE(ClassKeyExists(*context, "{00000000-0000-0000-0000-000000000000}"));
    EXPECT_FALSE(ClassKeyExists(*context, "00000000-0000-0000-0000-000000000001"));
    EXPECT_FALSE(ClassKeyExists(*context, ""));
}

TEST_F(ReferenceTest, ClassIdOfAProgrammaticIdentifier) {
    std::string id;
    EXPECT_EQ(ClassIdFromProgId(*registry, "App.Doc.2", &id), kErrorSuccess);
    EXPECT_EQ(id, "{11111111-2222-3333-4444-555555555555}");
    id.clear();
    EXPECT_EQ(ClassIdFromProgId(*registry, "app.doc", &id), kErrorSuccess);  // through CurVer
    EXPECT_EQ(id, "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(ClassIdFromProgId(*registry, "Loop.Doc"), kErrorFileNotFound);
    EXPECT_EQ(ClassIdFromProgId(*registry, "Chain.A"), kErrorFileNotFound);  // one level only
    EXPECT_EQ(ClassIdFromProgId(*registry, "No.Such"), kErrorFileNotFound);
    EXPECT_EQ(ClassIdFromProgId(*registry, "Bad.Doc"), kErrorInvalidData);
}

TEST_F(ReferenceTest, ClassReferencesAndVersionSuffixes) {
    EXPECT_FALSE(Class(""));
    EXPECT_TRUE(Class("App.Doc"));
    EXPECT_TRUE(Class("Word.Document.8"));
    EXPECT_FALSE(Class("No.Such.Thing.3"));
    // ".12" loses the 2 only after the pass for ".1": App.File.1 is what is looked up.
    EXPECT_TRUE(Class("App.File.12"));
    registry->DeleteKeyTree(kHkeyClassesRoot, "App.File.1");
    EXPECT_FALSE(Class("App.File.12"));
    EXPECT_TRUE(Class("C:\\windows\\notepad.exe"));
    EXPECT_FALSE(Class("C:\\gone\\x.exe"));
}

}  // namespace
}  // namespace hivewise

namespace hivewise {
namespace {

// A scan's cache gives the answers the file system gives, asked once or many times, and
// keeps the questions about one text apart (a folder is no file, a file no folder).
TEST_F(ReferenceTest, RememberedAnswersAreTheFreshOnes) {
    ReferenceCache cache;
    ReferenceContext cached{*registry, *files, &cache};
    const char* texts[] = {"C:\\Windows\\notepad.exe",
                           "C:\\Program Files\\App\\my app.exe -x",
                           "\"C:\\Program Files\\App\\app.exe\" \"%1\"",
                           "C:\\Program Files\\App\\gone.exe",
                           "C:\\Program Files\\Gone\\app.exe /s",
                           "C:\\Dir\\",
                           "C:\\Dir",
                           "C:\\Gone\\",
                           "C:\\Windows\\notepad.exe\\extra",
                           "tool.exe",
                           "nothere.exe",
                           "D:\\app.exe",
                           "%Short%.exe"};
    machine->SetEnv("Short", "ab");
    for (int round = 0; round < 2; ++round) {
        for (const char* text : texts) {
            EXPECT_EQ(FileReferenceExists(cached, text), File(text)) << text << " " << round;
            EXPECT_EQ(FolderExists(cached, text), files->IsDirectory(text)) << text << " " << round;
        }
    }
    // Folder first, then the same text as a file reference: each has its own answer.
    ReferenceCache other;
    ReferenceContext second{*registry, *files, &other};
    EXPECT_TRUE(FolderExists(second, "C:\\Program Files\\App"));
    EXPECT_FALSE(FileReferenceExists(second, "C:\\Program Files\\App\\none.exe"));
    EXPECT_FALSE(FolderExists(second, "C:\\Program Files\\App\\app.exe"));
    EXPECT_TRUE(FileReferenceExists(second, "C:\\Program Files\\App\\app.exe"));
}

}  // namespace
}  // namespace hivewise
