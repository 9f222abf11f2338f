#include "app/desktop_memory.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app_fixture.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

class DesktopMemoryTest : public AppTest {
  protected:
    fs::path File() const { return prefix.Dir() / "config" / "hivewise" / "desktop.conf"; }
    void Write(const std::string& text) {
        fs::create_directories(File().parent_path());
        std::ofstream(File(), std::ios::binary) << text;
    }
};

TEST_F(DesktopMemoryTest, TheFileLivesInTheUsersConfigFolder) {
    EXPECT_EQ(DesktopMemory::DefaultFile({{"XDG_CONFIG_HOME", "/x/conf"}, {"HOME", "/home/u"}}),
              fs::path("/x/conf/hivewise/desktop.conf"));
    // A relative XDG_CONFIG_HOME is to be ignored.
    EXPECT_EQ(DesktopMemory::DefaultFile({{"XDG_CONFIG_HOME", "conf"}, {"HOME", "/home/u"}}),
              fs::path("/home/u/.config/hivewise/desktop.conf"));
    EXPECT_EQ(DesktopMemory::DefaultFile({}), fs::path());
}

TEST_F(DesktopMemoryTest, MachineAndPlaceSurviveARestart) {
    {
        DesktopMemory memory(File());
        EXPECT_FALSE(memory.LastMachine());
        EXPECT_FALSE(memory.Place());
        memory.SetLastMachine({prefix.Dir(), false, true});
        memory.SetPlace({-20, 30, 900, 650, true});
        ASSERT_TRUE(memory.Save());
    }
    EXPECT_EQ(fs::status(File()).permissions() & fs::perms::others_read, fs::perms::none);
    DesktopMemory again(File());
    ASSERT_TRUE(again.LastMachine());
    EXPECT_EQ(again.LastMachine()->folder, prefix.Dir());
    EXPECT_FALSE(again.LastMachine()->isSample);
    EXPECT_FALSE(again.LastMachine()->readOnly) << "read only was that time's state";
    ASSERT_TRUE(again.Place());
    EXPECT_EQ(again.Place()->x, -20);
    EXPECT_EQ(again.Place()->width, 900);
    EXPECT_TRUE(again.Place()->maximised);

    again.SetLastMachine({prefix.Dir(), true, false});
    ASSERT_TRUE(again.Save());
    DesktopMemory sample(File());
    ASSERT_TRUE(sample.LastMachine());
    EXPECT_TRUE(sample.LastMachine()->isSample);
}

TEST_F(DesktopMemoryTest, AFileNotOfOursRemembersNothing) {
    Write("machine-kind=prefix\nmachine=relative/path\nx=1\ny=2\nwidth=-5\nheight=300\n");
    DesktopMemory bad(File());
    EXPECT_FALSE(bad.LastMachine());
    EXPECT_FALSE(bad.Place());

    Write("x=99999999\ny=0\nwidth=800\nheight=600\n");
    EXPECT_FALSE(DesktopMemory(File()).Place()) << "numbers out of any screen's range";

    Write(std::string(100 * 1024, 'x'));
    EXPECT_FALSE(DesktopMemory(File()).Place());
}

TEST_F(DesktopMemoryTest, TheRememberedMachineOpensUnlessThisStartNamesOne) {
    DesktopMemory memory(File());
    EXPECT_FALSE(RememberedStartMachine(memory, {}));
    memory.SetLastMachine({prefix.Dir(), false, false});
    auto start = RememberedStartMachine(memory, {});
    ASSERT_TRUE(start);
    EXPECT_EQ(start->folder, prefix.Dir());
    EXPECT_FALSE(RememberedStartMachine(memory, {{"WINEPREFIX", "/other"}}));
    EXPECT_TRUE(RememberedStartMachine(memory, {{"WINEPREFIX", ""}})) << "empty counts as unset";

    // A prefix deleted since is passed over.
    memory.SetLastMachine({prefix.Dir() / "gone", false, false});
    EXPECT_FALSE(RememberedStartMachine(memory, {}));
    memory.SetLastMachine({{}, true, false});
    ASSERT_TRUE(RememberedStartMachine(memory, {}));
    EXPECT_TRUE(RememberedStartMachine(memory, {})->isSample);
}

}  // namespace
}  // namespace hivewise::testing
