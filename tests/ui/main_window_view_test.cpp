#include <QEnterEvent>
#include <QHeaderView>
#include <QTest>
#include <filesystem>
#include <set>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/startup.h"
#include "platform/machine/prefix_lock.h"
#include "ui/desktop_app.h"
#include "ui/splash.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

using ui::DesktopApp;
using ui::MainWindowView;

class MainWindowViewTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_TRUE(machine);
        desktop = std::make_unique<DesktopApp>(*machine, false);
        StartUp startUp(desktop->Prompts(), splash);
        ASSERT_TRUE(startUp.ShowSplash());
        startUp.InitialiseMainWindow(desktop->Logic(), desktop->InitSteps());
    }
    void TearDown() override { desktop.reset(); }

    MainWindowView& View() { return desktop->View(); }

    ui::CSplashThread splash;
    std::unique_ptr<DesktopApp> desktop;
};

TEST_F(MainWindowViewTest, OpensOnTheStartPageWithTheTicksOfTheSettings) {
    EXPECT_EQ(splash.Window(), nullptr) << "the splash closes once the window is ready";
    EXPECT_TRUE(View().isVisible());
    EXPECT_EQ(View().windowTitle().toStdString(), "Hivewise v6.2 - " + prefix.Dir().string());
    EXPECT_EQ(View().Pages()->currentIndex(), static_cast<int>(MainView::StartPage));

    // Only a value of exactly "1" ticks; id 2's tick lives under its section name; the
    // first run writes no tick for the menu entries (15), which change the user's home.
    for (const ScanSection& section : ScanSections()) {
        bool expected = section.id != 2 && section.id != 5 && section.id != 7 && section.id != 13 &&
                        section.id != 15;
        EXPECT_EQ(View().SectionCheckBox(section.id)->isChecked(), expected) << section.label;
        EXPECT_EQ(View().SectionCheckBox(section.id)->text().toStdString(), section.label);
        EXPECT_EQ(View().SectionCheckBox(section.id)->toolTip().toStdString(), section.tooltip);
    }
    EXPECT_EQ(View().SectionCheckBox(2)->text(), "ProgramID Section");
    EXPECT_TRUE(View().SectionCheckBox(1)->toolTip().isEmpty());

    EXPECT_EQ(View().ScanArea()->Text().toStdString(), kScanAreaText);
    EXPECT_EQ(View().BackupsArea()->Text().toStdString(), kBackupsAreaText);
    EXPECT_EQ(View().ToolsArea()->Text().toStdString(), kToolsAreaText);
    EXPECT_TRUE(
        View().MachineLabel()->text().contains(QString::fromStdString(prefix.Dir().string())));

    // A tick the user changes reaches the logic, which the next scan persists.
    View().SectionCheckBox(5)->click();
    EXPECT_TRUE(desktop->Logic().Ticked(5));
}

TEST_F(MainWindowViewTest, ListsHaveTheirColumns) {
    QTreeWidget* sections = View().SectionList();
    ASSERT_EQ(sections->columnCount(), 3);
    EXPECT_EQ(sections->headerItem()->text(0), "Section Name");
    EXPECT_EQ(sections->headerItem()->text(1), "Problems");
    EXPECT_EQ(sections->headerItem()->text(2), "Status");
    EXPECT_EQ(sections->columnWidth(0), 180);
    EXPECT_EQ(sections->columnWidth(1), 80);
    EXPECT_EQ(sections->columnWidth(2), 80);
    EXPECT_EQ(sections->selectionBehavior(), QAbstractItemView::SelectRows);
    QTreeWidget* results = View().ResultsList();
    desktop->Logic().SetView(MainView::Results);
    QApplication::processEvents();
    EXPECT_EQ(results->columnCount(), 1);
    EXPECT_GT(results->width(), 400);
    EXPECT_EQ(results->columnWidth(0), results->width() - 20);

    // The hand-over's cells: count, row data and check mark.
    View().InsertSectionRow(0, "Windows Fonts");
    View().SetProblemsCell(0, "3");
    View().SetRowData(0, 5);
    View().SetRowChecked(0, true);
    View().SetTotal(3);
    QTreeWidgetItem* row = sections->topLevelItem(0);
    EXPECT_EQ(row->text(1), "3");
    EXPECT_EQ(row->data(0, Qt::UserRole).toInt(), 5);
    EXPECT_EQ(row->checkState(0), Qt::Checked);
    EXPECT_EQ(View().TotalText(), "3");
    // Out-of-range rows are ignored.
    View().SetProblemsCell(7, "1");
    View().SetRowChecked(-1, true);
}

TEST_F(MainWindowViewTest, AreasShowTheHandAndHighlightWhileThePointerIsOver) {
    ui::ClickableArea* area = View().ToolsArea();
    EXPECT_FALSE(area->Highlighted());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(area, &enter);
    EXPECT_TRUE(area->Highlighted());
    EXPECT_TRUE(area->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(area->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(area, &leave);
    EXPECT_FALSE(area->Highlighted());
    EXPECT_FALSE(area->testAttribute(Qt::WA_SetCursor));
}

TEST_F(MainWindowViewTest, ClicksReachTheLogic) {
    int preferences = 0;
    MainWindowActions actions;
    actions.openPreferences = [&] { ++preferences; };
    desktop->Logic().SetActions(actions);
    QTest::mouseClick(View().PreferencesArea(), Qt::LeftButton);
    EXPECT_EQ(preferences, 1);

    // A press that ends outside the area is no click.
    QTest::mousePress(View().PreferencesArea(), Qt::LeftButton);
    QTest::mouseRelease(View().PreferencesArea(), Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_EQ(preferences, 1);

    QTest::mouseClick(View().ScanArea(), Qt::LeftButton);
    EXPECT_EQ(View().Pages()->currentIndex(), static_cast<int>(MainView::Scan));
    EXPECT_EQ(View().AbortButton()->text(), "Abort Scan");
}

TEST_F(MainWindowViewTest, ResultsOpenTheirSectionsDetails) {
    std::vector<int> opened;
    MainWindowActions actions;
    actions.showSectionDetails = [&](int id) { opened.push_back(id); };
    desktop->Logic().SetActions(actions);
    desktop->Logic().SetView(MainView::Results);
    View().ShowResults({"<b>Windows Fonts</b>", "<b>Help Files</b>"}, {5, 7}, 4);
    QApplication::processEvents();
    QTreeWidget* list = View().ResultsList();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_TRUE(list->topLevelItem(1)->text(0).contains("View Details"));
    QRect second = list->visualItemRect(list->topLevelItem(1));
    EXPECT_GE(second.height(), 70);

    // A double-click anywhere on the row, or a click on its link.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QRect first = list->visualItemRect(list->topLevelItem(0));
    int linkY = first.top() + 4 + 3 * list->fontMetrics().height() / 2;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(first.left() + 12, linkY));
    EXPECT_EQ(opened, (std::vector<int>{7, 5}));
    EXPECT_EQ(View().TotalText(), "4");
}

TEST_F(MainWindowViewTest, TheMachineIsReadAgainOnceWineStartedFromTheWindowHasEnded) {
    int reloads = 0;
    desktop->SetReload([&reloads] { ++reloads; });
    EXPECT_FALSE(desktop->CheckWineEnded());  // nothing was started
    pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        ::pause();
        ::_exit(0);
    }
    NoteWineStarted(machine->PrefixDir(), program);
    EXPECT_FALSE(desktop->CheckWineEnded());  // the program still runs
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    // Not while a repair works on this machine.
    desktop->Logic().SetRepairRunning(true);
    EXPECT_FALSE(desktop->CheckWineEnded());
    desktop->Logic().SetRepairRunning(false);
    EXPECT_TRUE(desktop->CheckWineEnded());
    EXPECT_EQ(reloads, 1);
    ForgetWineStarted(machine->PrefixDir());
}

TEST_F(MainWindowViewTest, ClosingIsRefusedWhileARepairRuns) {
    desktop->Logic().SetRepairRunning(true);
    EXPECT_FALSE(View().close());
    EXPECT_TRUE(View().isVisible());
    desktop->Logic().SetView(MainView::Results);
    View().RefreshRepairButton();
    EXPECT_EQ(View().RepairButton()->text(), "Abort");
    QTest::mouseClick(View().GoBackButton(), Qt::LeftButton);
    EXPECT_EQ(View().Pages()->currentIndex(), static_cast<int>(MainView::Results));

    desktop->Logic().SetRepairRunning(false);
    EXPECT_TRUE(View().close());
}

// A scan through the real driver: findings cross from the scan thread to the window.
TEST(MainWindowScanTest, ScanRunsToTheResultsViewAndSaves) {
    TempPrefix prefix;
    prefix.SystemReg(R"(
[Software\\Classes] 1700000000

[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs] 1700000000
"C:\\windows\\system32\\gone.dll"=dword:00000001
"C:\\windows\\system32\\here.dll"=dword:00000001
"C:\\windows\\system32\\lost.dll"=dword:00000002
)");
    prefix.UserReg(kSettingsHive);
    prefix.File("windows/system32/here.dll", "MZ");
    prefix.File("Program Files/Hivewise/logs/.keep");
    std::unique_ptr<Machine> machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();

    MessageBoxCloser closer;
    {
        DesktopApp desktop(*machine, false);
        ui::CSplashThread splash;
        StartUp startUp(desktop.Prompts(), splash);
        startUp.InitialiseMainWindow(desktop.Logic(), desktop.InitSteps());
        MainWindowView& view = desktop.View();
        for (int id = 0; id < kSectionCount; ++id)
            view.SectionCheckBox(id)->setChecked(id == 6);

        QTest::mouseClick(view.ScanArea(), Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return desktop.Logic().View() == MainView::Results; }, 30000));
        EXPECT_EQ(view.Pages()->currentIndex(), static_cast<int>(MainView::Results));
        ASSERT_EQ(view.SectionList()->topLevelItemCount(), 1);
        EXPECT_EQ(view.SectionList()->topLevelItem(0)->text(0), "Shared Program Files");
        EXPECT_EQ(view.SectionList()->topLevelItem(0)->text(1), "2");
        ASSERT_EQ(view.ResultsList()->topLevelItemCount(), 1);
        EXPECT_TRUE(view.ResultsList()->topLevelItem(0)->text(0).contains("Shared Program Files"));
        EXPECT_EQ(view.ResultsList()->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 6);
        EXPECT_EQ(view.TotalText(), "2");
        EXPECT_EQ(desktop.Logic().Results().Total(), 2);

        // The ticks and the scan's facts reach user.reg once the scan has ended.
        EXPECT_TRUE(WaitFor([&] {
            return prefix.Read("user.reg").find("\"Items Found\"=\"2\"") != std::string::npos;
        }));
        std::string userReg = prefix.Read("user.reg");
        EXPECT_NE(userReg.find("\"Windows Fonts\"=\"0\""), std::string::npos);
        EXPECT_NE(userReg.find("\"Shared Program Files\"=\"1\""), std::string::npos);

        // The end of the scan is said in the status line; no box waits for an answer.
        EXPECT_EQ(view.Status()->FullText(), "Scan Completed");
        QTest::mouseClick(view.GoBackButton(), Qt::LeftButton);
        EXPECT_EQ(view.Pages()->currentIndex(), static_cast<int>(MainView::StartPage));
    }
    EXPECT_EQ(std::find(closer.texts.begin(), closer.texts.end(), "Scan Completed"),
              closer.texts.end());
}

// Findings come over from the scan thread in batches: each one arrives, in the order
// found, counted in its row and in the total, written to the log, and the row's tick
// and count are final when the section is.
TEST(MainWindowScanTest, ManyFindingsAllArriveInOrder) {
    constexpr int kMissing = 600;
    std::string system =
        "\n[Software\\\\Classes] 1700000000\n\n"
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDLLs] "
        "1700000000\n";
    for (int i = 0; i < kMissing; ++i)
        system +=
            "\"C:\\\\windows\\\\system32\\\\gone" + std::to_string(i) + ".dll\"=dword:00000001\n";
    TempPrefix prefix;
    prefix.SystemReg(system);
    prefix.UserReg(kSettingsHive);
    prefix.File("Program Files/Hivewise/logs/.keep");
    std::unique_ptr<Machine> machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();

    MessageBoxCloser closer;
    DesktopApp desktop(*machine, false);
    MainWindowView& view = desktop.View();
    for (int id = 0; id < kSectionCount; ++id)
        view.SectionCheckBox(id)->setChecked(id == 6 || id == 0);
    QTest::mouseClick(view.ScanArea(), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return desktop.Logic().View() == MainView::Results; }, 60000));

    const ResultStore& results = desktop.Logic().Results();
    ASSERT_EQ(results.Total(), kMissing);
    EXPECT_EQ(results.Count(6), kMissing);
    std::set<std::string> found;
    for (int i = 0; i < kMissing; ++i) {
        const Problem& problem = *results.Problems()[static_cast<size_t>(i)];
        EXPECT_EQ(problem.sequence, i) << "arrival order";
        found.insert(MatchText(problem));
    }
    EXPECT_EQ(found.size(), static_cast<size_t>(kMissing)) << "each finding once";
    ASSERT_EQ(view.SectionList()->topLevelItemCount(), 2);
    QTreeWidgetItem* row = view.SectionList()->topLevelItem(1);
    EXPECT_EQ(row->text(1), QString::number(kMissing));
    EXPECT_EQ(row->text(2), "Finished");
    EXPECT_EQ(row->checkState(0), Qt::Checked);
    EXPECT_EQ(row->data(0, Qt::UserRole).toInt(), 6);
    EXPECT_EQ(view.SectionList()->topLevelItem(0)->checkState(0), Qt::Unchecked)
        << "the integrity row found nothing";
    EXPECT_EQ(view.TotalText(), QString::number(kMissing));

    // One block per finding in the scan's log.
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(
             prefix.Dir() / "drive_c/Program Files/Hivewise/logs")) {
        if (entry.path().extension() == ".txt")
            log = prefix.Read(std::filesystem::relative(entry.path(), prefix.Dir()).string());
    }
    size_t blocks = 0;
    for (size_t at = log.find("\r\nKey : "); at != std::string::npos;
         at = log.find("\r\nKey : ", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, static_cast<size_t>(kMissing));
}

}  // namespace
}  // namespace hivewise::testing
