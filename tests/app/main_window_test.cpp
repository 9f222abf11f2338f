#include "app/main_window.h"

#include <gtest/gtest.h>

#include "app_fixture.h"

namespace hivewise::testing {
namespace {

class MainWindowTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_EQ(Settings(*machine).FirstRun(), Settings::FirstRunResult::DefaultsWritten);
    }
};

TEST_F(MainWindowTest, TicksFollowTheSettingsBySectionName) {
    Settings settings(*machine);
    for (const ScanSection& section : ScanSections())
        settings.Write(section.sectionName, "0");
    settings.Write("Program ID Section", "1");
    settings.Write("ProgramID Section", "0");  // the check box's label is no setting
    settings.Write("Windows Fonts", "yes");
    settings.Write("Help Files", "01");
    RegistryAccess(*machine).DeleteValue(kHkeyCurrentUser, kSettingsKey, "Sounds Section");

    MainWindow window(*machine, prompts);
    window.LoadTicks();
    for (int id = 0; id < kSectionCount; ++id)
        EXPECT_EQ(window.Ticked(id), id == 2) << id;

    window.SetTicked(2, false);
    window.SetTicked(12, true);
    ASSERT_TRUE(window.SaveTicks());
    EXPECT_EQ(settings.Read("Program ID Section"), "0");
    EXPECT_EQ(settings.Read("Sounds Section"), "1");
    EXPECT_EQ(settings.Read("ProgramID Section"), "0");
}

TEST_F(MainWindowTest, ViewsMoveOnlyAlongTheirTransitions) {
    int scans = 0;
    std::vector<MainView> seen;
    MainWindow window(*machine, prompts, {.startScan = [&] { ++scans; }});
    window.SetViewObserver([&](MainView view) { seen.push_back(view); });

    EXPECT_FALSE(window.ClickGoBack());  // already on the start page
    ASSERT_TRUE(window.ClickScanArea());
    EXPECT_EQ(window.View(), MainView::Scan);
    EXPECT_EQ(scans, 1);
    EXPECT_FALSE(window.ClickScanArea());  // no second scan over a running one
    EXPECT_EQ(scans, 1);
    EXPECT_FALSE(window.ClickGoBack());
    window.ScanEnded();
    EXPECT_EQ(window.View(), MainView::Results);
    EXPECT_TRUE(window.ClickGoBack());
    EXPECT_EQ(seen, (std::vector{MainView::Scan, MainView::Results, MainView::StartPage}));
}

TEST_F(MainWindowTest, GoBackAndCloseAreRefusedWhileRepairing) {
    int repairs = 0;
    MainWindow window(*machine, prompts);
    window.SetActions({.repair = [&] {
        ++repairs;
        window.SetRepairRunning(true);
    }});
    window.ClickScanArea();
    window.ScanEnded();

    window.ClickRepair();
    ASSERT_TRUE(window.RepairRunning());
    EXPECT_EQ(window.RepairButtonText(), "Abort");
    EXPECT_FALSE(window.ClickGoBack());
    EXPECT_FALSE(window.RequestClose());
    EXPECT_EQ(window.View(), MainView::Results);

    // A second press only stops the repair; it does not start another.
    window.ClickRepair();
    EXPECT_EQ(repairs, 1);
    EXPECT_FALSE(window.RepairRunning());
    EXPECT_EQ(window.RepairButtonText(), "Repair Problems");
    EXPECT_TRUE(window.RequestClose());
    EXPECT_TRUE(window.ClickGoBack());
}

TEST_F(MainWindowTest, MachineLineNamesThePrefixOrTheSampleMachine) {
    EXPECT_EQ(MainWindow(*machine, prompts).MachineLine(), "Working on: " + prefix.Dir().string());
    EXPECT_EQ(MainWindow(*machine, prompts, {}, true).MachineLine(), "Working on: sample machine");
}

}  // namespace
}  // namespace hivewise::testing
