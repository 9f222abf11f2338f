#include "platform/files/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/files_fixture.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// A prefix and, beside it, a folder of the user's that links may lead to.
class ScratchFolderTest : public testing::FilesTest {
  protected:
    void SetUp() override {
        FilesTest::SetUp();
        outside.Write("home/precious.txt", "keep me");
    }
    fs::path Home() const { return outside.Dir() / "home"; }
    void ExpectHomeUntouched() {
        EXPECT_EQ(outside.Read("home/precious.txt"), "keep me");
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(Home()))
            ++count;
        EXPECT_EQ(count, 1u) << "something was written to the linked folder";
    }
    testing::TempPrefix outside;
};

TEST_F(ScratchFolderTest, MakesAnEmptyRealFolderWithItsParents) {
    EXPECT_TRUE(PrepareScratchFolder(*machine, "C:\\Program Files\\Hivewise\\Backup\\Temp"));
    EXPECT_TRUE(fs::is_directory(C("Program Files/Hivewise/Backup/Temp")));
    prefix.File("Program Files/Hivewise/Backup/Temp/old.txt");
    prefix.File("Program Files/Hivewise/Backup/Temp/sub/old.txt");
    EXPECT_TRUE(PrepareScratchFolder(*machine, "C:\\PROGRA~1\\Hivewise\\backup\\temp", true));
    EXPECT_TRUE(fs::is_directory(C("Program Files/Hivewise/Backup/Temp/sub")));
    EXPECT_FALSE(fs::exists(C("Program Files/Hivewise/Backup/Temp/sub/old.txt")));
    EXPECT_TRUE(PrepareScratchFolder(*machine, "C:\\Program Files\\Hivewise\\Backup\\Temp"));
    EXPECT_TRUE(fs::is_empty(C("Program Files/Hivewise/Backup/Temp")));
    // A file of that name is not the program's to delete.
    prefix.File("Program Files/Hivewise/Blocked", "a file");
    EXPECT_FALSE(PrepareScratchFolder(*machine, "C:\\Program Files\\Hivewise\\Blocked"));
    EXPECT_EQ(prefix.Read("drive_c/Program Files/Hivewise/Blocked"), "a file");
}

TEST_F(ScratchFolderTest, ALinkInItsPlaceIsReplacedNeverFollowed) {
    fs::create_directory_symlink(Home(), C("Program Files/Hivewise/Temp"));
    EXPECT_TRUE(PrepareScratchFolder(*machine, "C:\\Program Files\\Hivewise\\Temp"));
    EXPECT_FALSE(fs::is_symlink(C("Program Files/Hivewise/Temp")));
    EXPECT_TRUE(fs::is_directory(C("Program Files/Hivewise/Temp")));
    // A dangling link and a link to a file go the same way.
    fs::remove(C("Program Files/Hivewise/Temp"));
    fs::create_symlink(Home() / "precious.txt", C("Program Files/Hivewise/Temp"));
    EXPECT_TRUE(PrepareScratchFolder(*machine, "C:\\Program Files\\Hivewise\\Temp", true));
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(C("Program Files/Hivewise/Temp"))));
    ExpectHomeUntouched();
}

TEST_F(ScratchFolderTest, AParentLeadingOutOfThePrefixIsRefused) {
    // The program folder itself a link to the home folder.
    fs::create_directory_symlink(Home(), C("Program Files/Linked"));
    EXPECT_FALSE(PrepareScratchFolder(*machine, "C:\\Program Files\\Linked\\Temp"));
    EXPECT_FALSE(PrepareScratchFolder(*machine, "C:\\Program Files\\Linked\\a\\b\\Temp"));
    EXPECT_FALSE(ClearScratchFolder(*machine, "C:\\Program Files\\Linked", false));
    // A drive outside the prefix.
    std::string home = Home().string();
    std::replace(home.begin(), home.end(), '/', '\\');
    EXPECT_FALSE(PrepareScratchFolder(*machine, "Z:" + home + "\\Temp"));
    ExpectHomeUntouched();
    // A link that stays inside the prefix leads nowhere else.
    fs::create_directory(C("real"));
    fs::create_directory_symlink(C("real"), C("Program Files/Inside"));
    EXPECT_TRUE(PrepareScratchFolder(*machine, "C:\\Program Files\\Inside\\Temp"));
    EXPECT_TRUE(fs::is_directory(C("real/Temp")));
    EXPECT_TRUE(HostPathInside(C("real/Temp"), machine->PrefixDir()));
    EXPECT_FALSE(HostPathInside(Home(), machine->PrefixDir()));
}

}  // namespace
}  // namespace hivewise
