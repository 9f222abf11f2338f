#include "platform/machine/leftover_files.h"

#include <gtest/gtest.h>

#include "platform/machine/prefix_lock.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

TEST(LeftoverFilesTest, OnlyOurOwnTemporaryNames) {
    for (const char* name : {".system.reg.AbC123", ".user.reg.zzzzzz", ".userdef.reg.012345"})
        EXPECT_TRUE(IsLeftoverSaveFileName(name)) << name;
    for (const char* name :
         {"system.reg.AbC123", ".system.reg.AbC12", ".system.reg.AbC1234", ".system.reg.AbC-23",
          ".other.reg.AbC123", ".system.reg", ".system.regXAbC123", ".USER.REG.abcdef", ""})
        EXPECT_FALSE(IsLeftoverSaveFileName(name)) << name;
}

class LeftoverLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("");
        prefix.Write(".system.reg.Ab12Cd", "half a save");
        prefix.Write(".user.reg.xYz789", "half a save");
        prefix.Write(".system.reg.notours", "kept");
        prefix.Write("notes.txt", "kept");
        fs::create_directory(prefix.Dir() / ".userdef.reg.Folder");
        fs::create_symlink("notes.txt", prefix.Dir() / ".userdef.reg.Link00");
    }
    bool Has(const char* name) { return fs::exists(fs::symlink_status(prefix.Dir() / name)); }
    TempPrefix prefix;
};

// A save killed before its rename leaves its temporary file; the next load that holds
// the prefix removes it, and only it.
TEST_F(LeftoverLoadTest, TheNextLoadHoldingThePrefixRemovesThem) {
    auto machine = prefix.Load({.lockPrefix = true});
    ASSERT_TRUE(machine) << prefix.LastError();
    EXPECT_FALSE(Has(".system.reg.Ab12Cd"));
    EXPECT_FALSE(Has(".user.reg.xYz789"));
    EXPECT_TRUE(Has(".system.reg.notours"));
    EXPECT_TRUE(Has("notes.txt"));
    EXPECT_TRUE(Has(".userdef.reg.Folder"));
    EXPECT_TRUE(Has(".userdef.reg.Link00"));
}

TEST_F(LeftoverLoadTest, NotWhileAnotherHivewiseHoldsThePrefixNorWhenReadOnly) {
    {
        std::string error;
        auto other = PrefixLock::Acquire(prefix.Dir(), &error);
        ASSERT_TRUE(other) << error;
        EXPECT_FALSE(prefix.Load({.lockPrefix = true}));
        EXPECT_TRUE(Has(".system.reg.Ab12Cd"));
    }
    EXPECT_TRUE(prefix.Load({.lockPrefix = false, .readOnly = true}));
    EXPECT_TRUE(prefix.Load({.lockPrefix = true, .readOnly = true}));
    EXPECT_TRUE(Has(".system.reg.Ab12Cd"));
    EXPECT_TRUE(Has(".user.reg.xYz789"));
}

}  // namespace
}  // namespace hivewise
