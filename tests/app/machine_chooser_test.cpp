#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "app/machine_chooser.h"
#include "platform/fake_home.h"
#include "platform/machine/sample_machine.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

class MachineChooserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LayOutFourMachines(home);
        machines = FindMachines(home.Env(), RunningExecutable());
    }
    MachineChooser Chooser(const fs::path& current, bool sample = false) {
        return MachineChooser(machines, current, sample, prompts, [this](const MachineRequest& r) {
            requests.push_back(r);
            return accept;
        });
    }

    FakeHome home;
    std::vector<FoundMachine> machines;
    FakePrompts prompts;
    std::vector<MachineRequest> requests;
    bool accept = true;
};

TEST_F(MachineChooserTest, OffersTheFoundMachinesAndSwitchesToThePickedOne) {
    machines[2].wineRunning = true;
    MachineChooser chooser = Chooser(machines[1].path);
    EXPECT_EQ(
        chooser.Entries(),
        (std::vector<std::string>{"Cyberpunk 2077 (steam)", "Half-Life 2 (steam)",
                                  "Office 2010 (bottles) - Wine is running, read only",
                                  "The Witcher 3 (lutris)", "sample machine", "Other folder..."}));
    EXPECT_EQ(chooser.CurrentIndex(), 1);
    EXPECT_NE(chooser.Details(1).find("Microsoft Windows 7 (6.1.7601)"), std::string::npos);

    EXPECT_FALSE(chooser.Choose(1)) << "the current machine is no switch";
    EXPECT_TRUE(chooser.Choose(2));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].folder, machines[2].path);
    EXPECT_TRUE(requests[0].readOnly);
    EXPECT_EQ(chooser.CurrentIndex(), 2);

    // A switch that fails keeps the current machine.
    accept = false;
    EXPECT_FALSE(chooser.Choose(4));
    EXPECT_TRUE(requests.back().isSample);
    EXPECT_EQ(chooser.CurrentIndex(), 2);
}

TEST_F(MachineChooserTest, OtherFolderMustBeAPrefix) {
    TempPrefix given;
    given.SystemReg("");
    // A folder no launcher knows is listed first, as the current machine.
    MachineChooser chooser = Chooser(given.Dir());
    EXPECT_EQ(chooser.Entries().front(), given.Dir().string());
    EXPECT_EQ(chooser.CurrentIndex(), 0);
    const int other = static_cast<int>(chooser.Entries().size()) - 1;

    EXPECT_FALSE(chooser.Choose(other)) << "cancelled";
    prompts.chosenFolder = home.Dir();
    EXPECT_FALSE(chooser.Choose(other));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].first.find("not a Wine prefix"), std::string::npos);
    EXPECT_TRUE(requests.empty());

    // A listed machine picked as a folder is that entry.
    prompts.chosenFolder = home.Dir() / "Games" / "witcher";
    EXPECT_TRUE(chooser.Choose(other));
    EXPECT_EQ(chooser.Entries()[static_cast<size_t>(chooser.CurrentIndex())],
              "The Witcher 3 (lutris)");
    TempPrefix another;
    another.SystemReg("");
    prompts.chosenFolder = another.Dir();
    EXPECT_TRUE(chooser.Choose(other));
    EXPECT_EQ(requests.back().folder, another.Dir());
    EXPECT_FALSE(requests.back().readOnly);
}

TEST_F(MachineChooserTest, LoadsTheRequestReadOnlyWhenAsked) {
    TempPrefix prefix;
    prefix.SystemReg("\n[Software] 1700000000\n");
    prefix.UserReg("");
    Machine::LoadResult loaded = LoadRequestedMachine({prefix.Dir(), false, true}, home.Env(), {});
    ASSERT_TRUE(loaded.machine) << loaded.error;
    loaded.machine->Registry().Create(loaded.machine->LocalMachine(), u"Software\\New");
    EXPECT_FALSE(loaded.machine->Flush().ok);
    const std::string before = prefix.Read("system.reg");
    EXPECT_EQ(prefix.Read("system.reg"), before);

    // The sample machine is made on first use.
    loaded = LoadRequestedMachine({{}, true, false}, home.Env(), RunningExecutable());
    ASSERT_TRUE(loaded.machine) << loaded.error;
    EXPECT_EQ(loaded.machine->PrefixDir(), home.Dir() / "xdg" / "hivewise" / "sample-machine");
}

}  // namespace
}  // namespace hivewise::testing
