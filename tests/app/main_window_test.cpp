#include "app/main_window.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

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
    window.SetTicked(8, true);

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
    window.SetTicked(8, true);
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

TEST_F(MainWindowTest, AScanOfNoAreaIsRefusedWithAWord) {
    int scans = 0;
    MainWindow window(*machine, prompts, {.startScan = [&] { ++scans; }});
    EXPECT_FALSE(window.ClickScanArea());
    EXPECT_EQ(window.View(), MainView::StartPage);
    EXPECT_EQ(scans, 0);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, kNoAreaTickedText);
}

// Findings of two sections: three under Run, one font.
void AddFindings(MainWindow& window) {
    HandoverContext context;
    for (auto [id, location, name] :
         {std::tuple{8, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "A"},
          std::tuple{8, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     "B"},
          std::tuple{8, "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     "C"},
          std::tuple{5, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\Fonts", "F"}}) {
        window.Results().Accept(
            std::make_unique<Problem>(id, ProblemTexts{.location = location, .valueName = name}),
            context);
    }
}

TEST_F(MainWindowTest, ResultsSayWhyTheyAreShortAndSummariseBySection) {
    MainWindow window(*machine, prompts);
    window.ScanEnded(false);
    EXPECT_EQ(window.ResultsNote(), kNoProblemsNote);
    window.ScanEnded(true);
    EXPECT_EQ(window.ResultsNote(), kScanAbortedNote) << "an abort is said even with no finding";

    AddFindings(window);
    window.ScanEnded(false);
    EXPECT_EQ(window.ResultsNote(), "");
    std::vector<ResultsSummaryRow> rows = window.ResultsSummary();
    ASSERT_EQ(rows.size(), 2u);
    // Scan order, not id order: startup programs come before fonts.
    EXPECT_EQ(rows[0].name, "Startup Programs");
    EXPECT_EQ(rows[0].sectionId, 8);
    EXPECT_EQ(rows[0].problems, 3);
    EXPECT_EQ(rows[1].name, "Windows Fonts");
    EXPECT_EQ(rows[1].problems, 1);
}

TEST_F(MainWindowTest, IgnoredFindingsLeaveTheResultsWhateverTheRootsSpelling) {
    MainWindow window(*machine, prompts);
    AddFindings(window);
    // The details dialog has rewritten the first finding to short root names.
    EXPECT_EQ(window.ForgetIgnoredFindings({"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                                            "CurrentVersion\\Run"}),
              2);
    EXPECT_EQ(window.Results().Total(), 2);
    EXPECT_EQ(window.Results().Count(8), 1);
    EXPECT_EQ(window.Results().Count(5), 1);
    EXPECT_EQ(window.ForgetIgnoredFindings({"HKEY_CURRENT_USER\\Software\\Other"}), 0);
    // Not while a repair goes through them, aborted or not: its window stays open to
    // the ignore list.
    int forgotten = -1;
    window.SetActions({.repair = [&] {
        window.SetRepairRunning(true);
        window.ClickRepair();  // Abort: the repair still removes what it saved
        forgotten = window.ForgetIgnoredFindings({"HKEY_LOCAL_MACHINE"});
    }});
    window.ClickRepair();
    EXPECT_EQ(forgotten, 0);
    EXPECT_EQ(window.Results().Total(), 2);
    EXPECT_EQ(window.ForgetIgnoredFindings({"HKEY_LOCAL_MACHINE"}), 2);
}

TEST_F(MainWindowTest, TitleNamesTheMachine) {
    MainWindow window(*machine, prompts);
    EXPECT_EQ(window.WindowTitle(), "Hivewise v6.2 - " + prefix.Dir().string());
    window.SetMachineName("Half-Life 2");
    EXPECT_EQ(window.WindowTitle(), "Hivewise v6.2 - Half-Life 2");
    EXPECT_EQ(window.TitleWithMachine("Ignore List"), "Ignore List - Half-Life 2");
    EXPECT_EQ(MainWindow(*machine, prompts, {}, true).WindowTitle(),
              "Hivewise v6.2 - sample machine");
}

TEST_F(MainWindowTest, HelpIsTheShippedPageOrAPlainWordThatItIsMissing) {
    namespace fs = std::filesystem;
    fs::path data = prefix.Dir() / "data";
    fs::create_directories(data / "help");
    fs::path exe = prefix.Dir() / "bin" / "hivewise";
    EXPECT_FALSE(FindHelpPage(exe, prefix.Dir() / "none"));
    { std::ofstream(data / "help" / "index.html") << "<html></html>"; }
    EXPECT_EQ(FindHelpPage(exe, data), data / "help" / "index.html");
    // Installed beside the program, it wins over the source tree.
    fs::create_directories(prefix.Dir() / "share" / "hivewise" / "help");
    { std::ofstream(prefix.Dir() / "share" / "hivewise" / "help" / "index.html") << "<html>"; }
    EXPECT_EQ(FindHelpPage(exe, data), prefix.Dir() / "share" / "hivewise" / "help" / "index.html");

    MainWindow window(*machine, prompts);
    EXPECT_FALSE(window.ClickHelp());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, kNoHelpPageText);
}

}  // namespace
}  // namespace hivewise::testing
