// The short cuts of the path walk (the path as written, its parent as written, the
// folder test only at the end) must answer as the component-by-component walk does.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

class PathWalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("");
        prefix.UserReg("");
        prefix.File("Data/Files/file.txt", "x");
        prefix.File("Data/plain.txt", "x");
        fs::create_directory_symlink("Files", prefix.Dir() / "drive_c" / "Data" / "linked");
        fs::create_symlink("nowhere.txt", prefix.Dir() / "drive_c" / "Data" / "dangling.txt");
        fs::create_directory_symlink("../missing", prefix.Dir() / "dosdevices" / "e:");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        files = std::make_unique<FileSystemAccess>(*machine);
    }
    fs::path Host(const char* relative) { return prefix.Dir() / "drive_c" / relative; }

    testing::TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<FileSystemAccess> files;
};

TEST_F(PathWalkTest, AnyLetterCaseFindsTheHostName) {
    EXPECT_TRUE(files->PathFileExists("C:\\Data\\Files\\file.txt"));
    // Only the last name differs, then only folders, then both.
    EXPECT_EQ(machine->Paths().ToHost("C:\\Data\\Files\\FILE.TXT"), Host("Data/Files/file.txt"));
    EXPECT_EQ(machine->Paths().ToHost("c:\\data\\files\\file.txt"), Host("Data/Files/file.txt"));
    EXPECT_EQ(machine->Paths().ToHost("c:\\DATA\\files\\File.Txt"), Host("Data/Files/file.txt"));
    EXPECT_FALSE(files->PathFileExists("C:\\Data\\Files\\gone.txt"));
    EXPECT_FALSE(files->PathFileExists("c:\\data\\gone\\file.txt"));
}

TEST_F(PathWalkTest, NothingLiesBelowAFile) {
    EXPECT_FALSE(files->PathFileExists("C:\\Data\\plain.txt\\x"));
    EXPECT_FALSE(files->PathFileExists("c:\\data\\PLAIN.TXT\\x"));
    EXPECT_FALSE(machine->Paths().ToHost("C:\\Data\\plain.txt\\new.txt", true));
    EXPECT_FALSE(machine->Paths().ToHost("c:\\data\\Plain.txt\\new.txt", true));
    // A new entry in a folder written in another case goes into the real folder.
    EXPECT_EQ(machine->Paths().ToHost("c:\\data\\FILES\\new.txt", true),
              Host("Data/Files/new.txt"));
    EXPECT_EQ(machine->Paths().ToHost("C:\\Data\\Files\\new.txt", true),
              Host("Data/Files/new.txt"));
}

TEST_F(PathWalkTest, FolderTestAndLinks) {
    EXPECT_TRUE(files->IsDirectory("C:\\"));
    EXPECT_TRUE(files->IsDirectory("c:\\data\\files"));
    EXPECT_TRUE(files->IsDirectory("C:\\Data\\linked"));
    EXPECT_TRUE(files->PathFileExists("C:\\Data\\LINKED\\file.txt"));
    EXPECT_FALSE(files->IsDirectory("C:\\Data\\plain.txt"));
    // A dangling link is an entry of its folder, not a folder.
    EXPECT_TRUE(files->PathFileExists("C:\\Data\\dangling.txt"));
    EXPECT_FALSE(files->IsDirectory("C:\\Data\\dangling.txt"));
    EXPECT_EQ(files->GetFileAttributes("C:\\Data\\dangling.txt") & kFileAttributeDirectory, 0u);
}

TEST_F(PathWalkTest, DriveWithoutRoot) {
    EXPECT_FALSE(files->PathFileExists("E:\\"));
    EXPECT_FALSE(files->IsDirectory("E:\\"));
    EXPECT_FALSE(files->PathFileExists("E:\\x.txt"));
    EXPECT_FALSE(machine->Paths().ToHost("E:\\x.txt", true));
}

}  // namespace
}  // namespace hivewise
