#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files_fixture.h"
#include "platform/machine/text.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using FileSystemAccessTest = testing::FilesTest;

std::vector<std::string> Names(const std::optional<std::vector<FindEntry>>& entries) {
    std::vector<std::string> names;
    if (entries) {
        for (const auto& e : *entries)
            names.push_back(e.name);
    }
    return names;
}

TEST_F(FileSystemAccessTest, AttributesAsWindowsReportsThem) {
    prefix.File("data/.profile");
    prefix.File("data/locked.txt");
    fs::permissions(C("data/locked.txt"), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(files->GetFileAttributes("C:\\DATA"), kFileAttributeDirectory);
    EXPECT_EQ(files->GetFileAttributes("C:\\windows\\system32\\kernel32.dll"),
              kFileAttributeArchive);
    EXPECT_EQ(files->GetFileAttributes("C:\\data\\.profile"),
              kFileAttributeArchive | kFileAttributeHidden);
    EXPECT_EQ(files->GetFileAttributes("C:\\data\\locked.txt"),
              kFileAttributeArchive | kFileAttributeReadOnly);
    EXPECT_EQ(files->GetFileAttributes("C:\\data\\none.txt"), kInvalidFileAttributes);
    EXPECT_TRUE(files->IsDirectory("c:\\"));
    EXPECT_FALSE(files->IsDirectory("C:\\windows\\system32\\kernel32.dll"));
    EXPECT_TRUE(files->PathFileExists("hivewise.exe"));  // the current folder
    // Past MAX_PATH nothing exists, as on Windows.
    EXPECT_FALSE(files->PathFileExists("C:\\windows\\" + std::string(250, 'x') + "\\..\\.."));
}

TEST_F(FileSystemAccessTest, FindListsInFolderOrderWithDotEntriesBelowTheRoot) {
    prefix.File("data/README");
    prefix.File("data/b.TXT");
    prefix.File("data/a.txt");
    prefix.File("data/Sub Folder/x");
    EXPECT_EQ(Names(files->FindFiles("C:\\data\\*.*")),
              (std::vector<std::string>{".", "..", "a.txt", "b.TXT", "README", "Sub Folder"}));
    EXPECT_EQ(Names(files->FindFiles("c:\\DATA\\*.txt")),
              (std::vector<std::string>{"a.txt", "b.TXT"}));
    auto root = Names(files->FindFiles("C:\\*"));
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "data"), 1);

    auto plain = files->FindFiles("C:\\data\\SUBFOL~1");
    ASSERT_TRUE(plain);
    ASSERT_EQ(plain->size(), 1u);
    EXPECT_EQ((*plain)[0].name, "Sub Folder");
    EXPECT_EQ((*plain)[0].shortName, "SUBFOL~1");
    EXPECT_EQ((*plain)[0].attributes, kFileAttributeDirectory);

    EXPECT_TRUE(files->FindFiles("C:\\data\\*.exe")->empty());
    EXPECT_FALSE(files->FindFiles("C:\\nowhere\\*.*"));
}

// Host names outside ASCII are found and listed by their ANSI forms ('?' for characters
// the code page lacks), with the short names made of those.
TEST_F(FileSystemAccessTest, FindGivesNamesOutsideAsciiTheirAnsiAndShortForms) {
    prefix.File("data/Caf\xC3\xA9 Menu.txt");          // é in UTF-8
    prefix.File("data/\xD0\x9F\xD1\x80\xD0\xB8.txt");  // Cyrillic
    auto one = files->FindFiles("C:\\DATA\\CAF\xC9 MENU.TXT");
    ASSERT_TRUE(one);
    ASSERT_EQ(one->size(), 1u);
    EXPECT_EQ((*one)[0].name, "Caf\xE9 Menu.txt");
    EXPECT_EQ((*one)[0].shortName, "CAF\xC9ME~1.TXT");
    auto cyrillic = files->FindFiles("C:\\data\\___~1.txt");
    ASSERT_TRUE(cyrillic);
    ASSERT_EQ(cyrillic->size(), 1u);
    EXPECT_EQ((*cyrillic)[0].name, "???.txt");
    EXPECT_EQ((*cyrillic)[0].shortName, "___~1.TXT");

    auto all = files->FindFiles("C:\\data\\*.txt");
    ASSERT_EQ(Names(all), (std::vector<std::string>{"Caf\xE9 Menu.txt", "???.txt"}));
    EXPECT_EQ((*all)[0].shortName, "CAF\xC9ME~1.TXT");
}

TEST_F(FileSystemAccessTest, CreateDirectoryPathMakesEachMissingFolder) {
    fs::create_directory(C("a"));
    EXPECT_TRUE(files->CreateDirectoryPath("C:\\A\\b\\c"));
    EXPECT_TRUE(fs::is_directory(C("a/b/c")));
    EXPECT_FALSE(fs::exists(C("A")));  // the existing folder was found, not made again
    EXPECT_TRUE(files->CreateDirectoryPath("C:\\a\\b\\c"));
    prefix.File("blocker");
    EXPECT_FALSE(files->CreateDirectoryPath("C:\\blocker\\x"));
}

TEST_F(FileSystemAccessTest, ClearDirectoryKeepsOrRemovesTheSubfolders) {
    for (const char* f : {"t/one.txt", "t/s1/two", "t/s1/s2/three.dat", "t/s3/.dotfile"}) {
        prefix.File(f);
    }
    EXPECT_TRUE(files->ClearDirectory("C:\\t", true));
    EXPECT_TRUE(fs::is_directory(C("t/s1/s2")));
    EXPECT_TRUE(fs::is_directory(C("t/s3")));
    for (const auto& e : fs::recursive_directory_iterator(C("t"))) {
        EXPECT_TRUE(e.is_directory()) << e.path();
    }

    prefix.File("t/s1/again.txt");
    EXPECT_TRUE(files->ClearDirectory("C:\\T", false));
    EXPECT_TRUE(fs::is_directory(C("t")));
    EXPECT_TRUE(fs::is_empty(C("t")));

    EXPECT_FALSE(files->ClearDirectory("C:\\windows\\system32\\kernel32.dll", false));
    EXPECT_FALSE(files->ClearDirectory("C:\\missing", false));
}

TEST_F(FileSystemAccessTest, ClearDirectoryNeverEntersALinkedFolder) {
    prefix.File("home/precious.txt");
    prefix.File("t/file.txt");
    fs::create_directory_symlink(C("home"), C("t/linked"));
    EXPECT_TRUE(files->ClearDirectory("C:\\t", false));
    EXPECT_TRUE(fs::is_empty(C("t")));
    EXPECT_TRUE(fs::exists(C("home/precious.txt")));
}

// The one rule for what the program may walk, delete or write: the host path with its
// links resolved, component by component inside the prefix's folder.
TEST_F(FileSystemAccessTest, InsideThePrefixOnlyWithLinksResolved) {
    testing::TempFolder home;
    home.Write("Desktop/old.lnk", "x");
    prefix.File("data/kept.lnk", "x");
    fs::create_directories(C("users/u"));
    fs::create_directory_symlink(home.Dir() / "Desktop", C("users/u/Desktop"));
    fs::create_directory_symlink("../../data", C("users/u/Data"));
    fs::create_symlink(home.Dir() / "Desktop" / "old.lnk", C("data/out.lnk"));
    fs::create_directories(prefix.Dir().string() + "2");
    fs::path sibling = prefix.Dir().string() + "2";

    EXPECT_TRUE(files->HostPathInPrefix(prefix.Dir()));
    EXPECT_TRUE(files->HostPathInPrefix(C("data/kept.lnk")));
    EXPECT_TRUE(files->HostPathInPrefix(C("users/u/Data/kept.lnk")));
    EXPECT_TRUE(files->HostPathInPrefix(C("data/not yet.lnk")));
    EXPECT_FALSE(files->HostPathInPrefix(C("users/u/Desktop/old.lnk")));
    EXPECT_FALSE(files->HostPathInPrefix(C("users/u/Desktop/not yet.lnk")));
    EXPECT_FALSE(files->HostPathInPrefix(C("data/out.lnk")));
    EXPECT_FALSE(files->HostPathInPrefix(C("../..")));
    EXPECT_FALSE(files->HostPathInPrefix(sibling / "x"));
    EXPECT_FALSE(files->HostPathInPrefix("/"));
    fs::remove(sibling);

    EXPECT_TRUE(files->InPrefix("C:\\data\\kept.lnk"));
    EXPECT_TRUE(files->InPrefix("c:\\USERS\\u\\data\\KEPT.LNK"));
    EXPECT_TRUE(files->InPrefix("C:\\data\\new.lnk", /*mayNotExist=*/true));
    EXPECT_FALSE(files->InPrefix("C:\\data\\new.lnk"));
    EXPECT_FALSE(files->InPrefix("C:\\nowhere\\new.lnk", true));
    EXPECT_FALSE(files->InPrefix("C:\\users\\u\\Desktop\\old.lnk"));
    EXPECT_FALSE(files->InPrefix("C:\\data\\out.lnk"));
    std::string z = home.OnDriveZ("Desktop");
    // Drive Z: does reach the file: it is the rule that refuses it.
    ASSERT_TRUE(files->ToHostPath(z + "\\old.lnk"));
    for (const std::string& path :
         {z + "\\old.lnk", "\\\\?\\" + z + "\\old.lnk", "\\\\.\\" + z + "\\old.lnk",
          "\\??\\" + z + "\\old.lnk", "Z:" + (home.Dir() / "Desktop" / "old.lnk").string(),
          z + "\\new.lnk", "C:\\..\\..\\" + z.substr(3) + "\\old.lnk"}) {
        EXPECT_FALSE(files->InPrefix(path, true)) << path;
    }
}

TEST_F(FileSystemAccessTest, ClearDirectoryRemovesLinksAsLinksAtEveryLevel) {
    testing::TempPrefix outside;
    fs::path home = outside.Dir() / "home";
    outside.Write("home/precious.txt", "keep me");
    outside.Write("home/sub/deep.txt", "keep me too");
    fs::create_directories(C("t/s1"));
    fs::create_directory_symlink(home, C("t/s1/to-folder"));
    fs::create_symlink(home / "precious.txt", C("t/to-file"));
    fs::create_symlink(home / "gone", C("t/dangling"));
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        fs::create_directory_symlink(home, C("t/linked"));
        EXPECT_TRUE(files->ClearDirectory("C:\\t", keep));
        EXPECT_FALSE(fs::exists(fs::symlink_status(C("t/linked"))));
    }
    EXPECT_TRUE(fs::is_empty(C("t")));
    // A folder that is itself a link is not cleared: that would empty what it points to.
    fs::create_directory_symlink(home, C("t2"));
    EXPECT_FALSE(files->ClearDirectory("C:\\t2", false));
    EXPECT_FALSE(files->ClearDirectory("C:\\t2", true));
    EXPECT_EQ(outside.Read("home/precious.txt"), "keep me");
    EXPECT_EQ(outside.Read("home/sub/deep.txt"), "keep me too");
}

TEST_F(FileSystemAccessTest, ClearDirectoryStopsAtAFileItCannotDelete) {
    prefix.File("t/a.txt");
    prefix.File("t/b.txt");
    fs::permissions(C("t/a.txt"), fs::perms::owner_read);
    EXPECT_FALSE(files->ClearDirectory("C:\\t", false));
    EXPECT_TRUE(fs::exists(C("t/a.txt")));
    EXPECT_TRUE(files->SetNormalAttributes("C:\\t\\a.txt"));
    EXPECT_TRUE(files->ClearDirectory("C:\\t", false));
}

TEST_F(FileSystemAccessTest, DrivesAndTheirTypes) {
    EXPECT_EQ(files->DriveCount(), 4);  // A:, C:, D:, Z:
    EXPECT_EQ(files->DriveRoots(3), (std::vector<std::string>{"A:\\", "C:\\", "D:\\"}));
    EXPECT_EQ(files->GetDriveType("d:\\"), DriveType::CdRom);
    EXPECT_EQ(files->GetDriveType("A:"), DriveType::Removable);
    EXPECT_EQ(files->GetDriveType("Q:\\"), DriveType::NoRootDir);
    EXPECT_EQ(files->PathStripToRoot("\\\\server\\share\\dir\\f"), "\\\\server\\share");
    EXPECT_EQ(files->PathStripToRoot("C:\\x\\y"), "C:\\");
    EXPECT_FALSE(files->PathStripToRoot("relative\\x"));

    EXPECT_TRUE(files->IsNonFixedDrive("D:\\setup.exe"));
    EXPECT_TRUE(files->IsNonFixedDrive("\\\\server\\share\\app.exe"));
    EXPECT_TRUE(files->IsNonFixedDrive("relative\\app.exe"));
    EXPECT_TRUE(files->IsNonFixedDrive("Q:\\app.exe"));
    EXPECT_FALSE(files->IsNonFixedDrive("C:\\windows\\notepad.exe"));
}

TEST_F(FileSystemAccessTest, DriveCountOfThreeDrives) {
    fs::remove(prefix.Dir() / "dosdevices" / "z:");
    auto m = prefix.Load();
    ASSERT_TRUE(m);
    EXPECT_EQ(FileSystemAccess(*m).DriveCount(), 3);
}

TEST_F(FileSystemAccessTest, FoldersOfTheMachine) {
    EXPECT_EQ(files->WindowsDirectory(), "C:\\windows");
    EXPECT_EQ(files->SystemDirectory(), "C:\\windows\\system32");
    EXPECT_EQ(files->ExecutableDirectory(), "C:\\Program Files\\Hivewise");
    EXPECT_EQ(files->ProgramFilesDirectory(), "C:\\ProgramFiles");  // not defined here
    machine->SetEnv("PROGRAMFILES", "D:\\Apps");
    EXPECT_EQ(files->ProgramFilesDirectory(), "D:\\Apps");
    std::string temp = files->TempPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');
}

TEST_F(FileSystemAccessTest, ExpandEnvironmentStrings) {
    EXPECT_EQ(files->ExpandEnvironmentStrings("%SYSTEMROOT%\\x;%Undefined%"),
              "C:\\windows\\x;%Undefined%");
    // The closing '%' of an undefined name may open the next reference.
    EXPECT_EQ(files->ExpandEnvironmentStrings("%nope%windir%"), "%nopeC:\\windows");
    EXPECT_EQ(files->ExpandEnvironmentStrings("100%"), "100%");
    EXPECT_EQ(files->ExpandEnvironmentStrings("%windir%", 11), "C:\\windows");
    EXPECT_FALSE(files->ExpandEnvironmentStrings("%windir%", 10));
}

TEST_F(FileSystemAccessTest, FindOnPathLooksInSystemWindowsAndPathFolders) {
    prefix.File("tools/Tool.exe");
    prefix.File("windows/regedit.exe");
    EXPECT_EQ(files->PathFindOnPath("KERNEL32.dll"), "C:\\windows\\system32\\KERNEL32.dll");
    EXPECT_EQ(files->PathFindOnPath("regedit.exe"), "C:\\windows\\regedit.exe");
    EXPECT_FALSE(files->PathFindOnPath("tool.exe"));
    machine->SetEnv("Path", "C:\\nothing;;\"C:\\Tools\\\"");
    EXPECT_EQ(files->PathFindOnPath("tool.exe"), "C:\\Tools\\tool.exe");
    EXPECT_FALSE(files->PathFindOnPath("C:\\tools\\tool.exe"));
}

TEST_F(FileSystemAccessTest, PendingDeletionsAccumulate) {
    ASSERT_TRUE(files->DeleteFileOnReboot("C:\\a.txt"));
    ASSERT_TRUE(files->DeleteFileOnReboot("c:\\dir\\..\\b.txt"));
    RegKey* key = machine->Registry().Find(machine->LocalMachine(),
                                           u"System\\CurrentControlSet\\Control\\Session Manager");
    ASSERT_TRUE(key);
    const RegValue* value = key->FindValue(u"PendingFileRenameOperations");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, kRegMultiSz);
    std::u16string expected = u"\\??\\C:\\a.txt";
    expected += std::u16string(2, u'\0') + u"\\??\\C:\\b.txt" + std::u16string(3, u'\0');
    EXPECT_EQ(BytesToUtf16(value->data), expected);

    machine->Registry().SetValue(key, u"PendingFileRenameOperations", kRegSz, "x");
    EXPECT_FALSE(files->DeleteFileOnReboot("C:\\c.txt"));  // not a list: left alone
}

TEST_F(FileSystemAccessTest, CopyOverwritesAndNeverLeavesAHalfFile) {
    prefix.File("src.txt", "new content");
    prefix.File("dst.txt", "old");
    EXPECT_TRUE(files->CopyFile("C:\\SRC.TXT", "C:\\DST.txt"));
    EXPECT_EQ(prefix.Read("drive_c/dst.txt"), "new content");
    EXPECT_TRUE(files->CopyFile("C:\\src.txt", "C:\\windows\\Fresh.txt"));
    EXPECT_TRUE(files->PathFileExists("C:\\WINDOWS\\FRESH.TXT"));

    fs::permissions(C("dst.txt"), fs::perms::owner_read);
    prefix.File("src.txt", "newer");
    EXPECT_FALSE(files->CopyFile("C:\\src.txt", "C:\\dst.txt"));  // read-only target
    EXPECT_EQ(prefix.Read("drive_c/dst.txt"), "new content");
    EXPECT_FALSE(files->CopyFile("C:\\missing.txt", "C:\\x.txt"));
    EXPECT_FALSE(files->CopyFile("C:\\src.txt", "C:\\src.txt"));
    EXPECT_FALSE(files->CopyFile("C:\\src.txt", "C:\\windows"));
    EXPECT_FALSE(files->CopyFile("C:\\src.txt", "C:\\nofolder\\x.txt"));
    for (const auto& e : fs::directory_iterator(C())) {
        EXPECT_EQ(e.path().filename().string().find(".hivewise-copy"), std::string::npos);
    }
}

// What a copy killed before its rename left is removed beside the next copy's target;
// nothing else is, and nothing through a link or outside the prefix.
TEST_F(FileSystemAccessTest, CopyLeftoversAreRemovedAndNothingElse) {
    testing::TempFolder home;
    home.Write("Desktop/.hivewise-copy-Zz9Yy8", "the user's");
    fs::create_directories(C("users/u"));
    fs::create_directory_symlink(home.Dir() / "Desktop", C("users/u/Desktop"));
    prefix.File("d/.hivewise-copy-Ab12Cd", "half");
    prefix.File("d/.hivewise-copy-toolong1", "kept");
    prefix.File("d/hivewise-copy-Ab12Cd", "kept");
    prefix.File("d/word.lnk", "kept");
    fs::create_symlink(home.Dir() / "Desktop" / ".hivewise-copy-Zz9Yy8",
                       C("d/.hivewise-copy-Lk0000"));
    ASSERT_TRUE(files->PathFileExists("C:\\d\\.hivewise-copy-Ab12Cd"));

    files->RemoveCopyLeftovers("C:\\d\\new.lnk");
    EXPECT_FALSE(files->PathFileExists("C:\\d\\.hivewise-copy-Ab12Cd"));
    for (const char* kept : {".hivewise-copy-toolong1", "hivewise-copy-Ab12Cd", "word.lnk"})
        EXPECT_TRUE(fs::exists(C("d") / kept)) << kept;
    EXPECT_TRUE(fs::is_symlink(C("d/.hivewise-copy-Lk0000")));
    files->RemoveCopyLeftovers("C:\\users\\u\\Desktop\\x.lnk");
    EXPECT_EQ(home.Read("Desktop/.hivewise-copy-Zz9Yy8"), "the user's");
}

TEST_F(FileSystemAccessTest, FoldersAndDeletionsKeepLookupsCurrent) {
    EXPECT_FALSE(files->PathFileExists("C:\\NEWDIR"));  // listing of C:\ cached
    EXPECT_TRUE(files->CreateDirectory("C:\\NewDir"));
    EXPECT_FALSE(files->CreateDirectory("c:\\newdir"));  // exists
    EXPECT_TRUE(files->IsDirectory("C:\\NEWDIR"));
    EXPECT_TRUE(files->CopyFile("C:\\windows\\system32\\kernel32.dll", "c:\\newdir\\k.dll"));
    EXPECT_FALSE(files->RemoveDirectory("C:\\NEWDIR"));  // not empty
    EXPECT_FALSE(files->DeleteFile("C:\\NEWDIR"));       // no file
    EXPECT_TRUE(files->DeleteFile("C:\\NEWDIR\\K.DLL"));
    EXPECT_FALSE(files->PathFileExists("C:\\newdir\\k.dll"));
    EXPECT_TRUE(files->RemoveDirectory("C:\\NEWDIR"));
    EXPECT_FALSE(files->PathFileExists("C:\\NewDir"));
    EXPECT_FALSE(files->RemoveDirectory("C:\\"));
}

TEST_F(FileSystemAccessTest, ShortAndLongPaths) {
    EXPECT_EQ(files->ShortPath("C:\\Program Files\\Hivewise"), "C:\\PROGRA~1\\Hivewise");
    EXPECT_EQ(files->LongPath("C:\\PROGRA~1\\HIVEWISE"), "C:\\Program Files\\Hivewise");
    EXPECT_EQ(files->ShortPath("C:\\Program Files\\none"), "");
}

class RecordingHost : public NullHostServices {
  public:
    bool Launch(const std::string& target, const std::string& parameters, bool wait,
                int timeoutMs) override {
        launched.push_back(target + "|" + parameters + "|" + (wait ? "wait" : "") + "|" +
                           std::to_string(timeoutMs));
        return answer;
    }
    void PumpEvents(int maxEvents) override { pumped += maxEvents; }
    std::vector<std::string> launched;
    bool answer = false;
    int pumped = 0;
};

TEST_F(FileSystemAccessTest, LaunchHandsHostPathsOrTextToTheHost) {
    RecordingHost host;
    machine->SetHost(&host);
    EXPECT_FALSE(files->LaunchProgram("https://example.invalid/help", "", false));
    // Nothing started: a failure, waiting or not.
    EXPECT_FALSE(files->LaunchProgram("C:\\WINDOWS\\system32\\kernel32.dll", "/e x", true));
    host.answer = true;
    EXPECT_TRUE(files->LaunchProgram("notes.txt", "", false));
    ASSERT_EQ(host.launched.size(), 3u);
    EXPECT_EQ(host.launched[0], "https://example.invalid/help|||120000");
    EXPECT_EQ(host.launched[1], C("windows/system32/kernel32.dll").string() + "|/e x|wait|120000");
    EXPECT_EQ(host.launched[2], "notes.txt|||120000");
    files->ServiceMessageQueue();
    EXPECT_EQ(host.pumped, 10);
    machine->SetHost(nullptr);
}

}  // namespace
}  // namespace hivewise
