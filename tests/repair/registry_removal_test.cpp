#include "repair/registry_removal.h"

#include <gtest/gtest.h>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

class RegistryRemovalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Stale] 1700000000\n\"Keep\"=\"1\"\n"
            "\n[Software\\\\Stale\\\\Deep\\\\Deeper] 1700000000\n\"x\"=dword:00000001\n"
            "\n[Software\\\\Other] 1700000000\n@=\"default\"\n\"Gone\"=\"x\"\n");
        prefix.UserReg("\n[Software] 1700000000\n");
        prefix.File("windows/stale.lnk", "link");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }
    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

TEST_F(RegistryRemovalTest, KeyTreeAndValuesGoAndMissingOnesFail) {
    RegistryAccess registry(*machine);
    EXPECT_EQ(DeleteRegKey(registry, kHkeyLocalMachine, "Software\\Stale"), 1);
    EXPECT_FALSE(registry.KeyExists(kHkeyLocalMachine, "Software\\Stale"));
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "Software\\Other"));
    // Gone already: the open fails, and so does the removal.
    EXPECT_EQ(DeleteRegKey(registry, kHkeyLocalMachine, "Software\\Stale"), 0);

    EXPECT_EQ(DeleteRegValue(registry, kHkeyLocalMachine, "Software\\Other", "Gone"), 1);
    EXPECT_EQ(DeleteRegValue(registry, kHkeyLocalMachine, "Software\\Other", "Gone"), 0);
    EXPECT_EQ(DeleteRegValue(registry, kHkeyLocalMachine, "Software\\Other", ""), 1);
    EXPECT_EQ(registry.CountValues(kHkeyLocalMachine, "Software\\Other", false), 0u);
}

TEST_F(RegistryRemovalTest, ProtectedKeysStayAndAccessCannotBeGranted) {
    RegistryAccess registry(*machine);
    // A hive's base key answers "access denied"; there is no access list to change here.
    EXPECT_EQ(DeleteRegKey(registry, kHkeyUsers, ".Default"), 0);
    EXPECT_EQ(DeleteRegKey(registry, kHkeyLocalMachine, ""), 0);
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "Software\\Other"));
    EXPECT_FALSE(GrantKeyAccess(registry, kHkeyLocalMachine, "Software\\Other"));
}

TEST_F(RegistryRemovalTest, FilesAreDeletedOrLeftForTheRestart) {
    FileSystemAccess files(*machine);
    EXPECT_EQ(DeleteFileOrOnReboot(files, "C:\\windows\\stale.lnk"), 1);
    EXPECT_FALSE(files.PathFileExists("C:\\windows\\stale.lnk"));
    EXPECT_EQ(DeleteFileOrOnReboot(files, "C:\\windows\\missing.lnk"), 1);
}

}  // namespace
}  // namespace hivewise
