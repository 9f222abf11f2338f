#include "platform/files/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

class AtomicFileTest : public ::testing::Test {
  protected:
    fs::path At(const char* name) const { return dir_.Dir() / name; }
    std::string Read(const fs::path& path) const {
        std::string out, error;
        ReadWholeFile(path, &out, &error);
        return out;
    }
    TempPrefix dir_;
};

TEST_F(AtomicFileTest, ReplacesARegularFileKeepingItsMode) {
    fs::path file = At("a.reg");
    std::ofstream(file) << "old";
    ::chmod(file.c_str(), 0600);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(file, "new", &error)) << error;
    EXPECT_EQ(Read(file), "new");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// A link stays a link; the file it names gets the content, made when it is missing.
TEST_F(AtomicFileTest, FollowsSymbolicLinksToTheFileTheyName) {
    fs::create_directories(At("real"));
    std::ofstream(At("real/target.reg")) << "old";
    fs::create_symlink("real/target.reg", At("link.reg"));
    fs::create_symlink("link.reg", At("chain.reg"));
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(At("chain.reg"), "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(At("chain.reg")));
    EXPECT_TRUE(fs::is_symlink(At("link.reg")));
    EXPECT_EQ(Read(At("real/target.reg")), "new");

    fs::create_symlink("real/missing.reg", At("dangling.reg"));
    ASSERT_TRUE(WriteFileAtomically(At("dangling.reg"), "made", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(At("dangling.reg")));
    EXPECT_EQ(Read(At("real/missing.reg")), "made");

    fs::create_symlink("loop2", At("loop1"));
    fs::create_symlink("loop1", At("loop2"));
    EXPECT_FALSE(WriteFileAtomically(At("loop1"), "x", &error));
    EXPECT_TRUE(fs::is_symlink(At("loop1")));
}

TEST_F(AtomicFileTest, WritesThroughToDevicesAndReportsTheirErrors) {
    std::string error;
    EXPECT_TRUE(WriteFileAtomically("/dev/null", "nothing", &error)) << error;
    EXPECT_FALSE(WriteFileAtomically("/dev/full", "no room", &error));
    EXPECT_NE(error.find("No space"), std::string::npos) << error;
    struct stat st {};
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(AtomicFileTest, WritesIntoAFifoForItsReader) {
    ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = Read(At("pipe")); });
    std::string error;
    std::string content(200000, 'x');  // more than the pipe holds at once
    EXPECT_TRUE(WriteFileAtomically(At("pipe"), content, &error)) << error;
    reader.join();
    EXPECT_EQ(received, content);
    EXPECT_TRUE(fs::is_fifo(At("pipe")));
}

TEST_F(AtomicFileTest, RefusesAFolderAndLeavesItAlone) {
    fs::create_directories(At("folder.reg"));
    std::ofstream(At("folder.reg/inside")) << "kept";
    fs::create_symlink("folder.reg", At("to-folder"));
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(At("folder.reg"), "x", &error));
    EXPECT_NE(error.find("folder"), std::string::npos);
    EXPECT_FALSE(WriteFileAtomically(At("to-folder"), "x", &error));
    EXPECT_EQ(Read(At("folder.reg/inside")), "kept");
    // No temporary file is left beside it.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.Dir()))
        ++entries;
    EXPECT_EQ(entries, 4u);  // drive_c, dosdevices, folder.reg and to-folder
}

}  // namespace
}  // namespace hivewise
