// What the window does for a user beyond its flows: the status line, Escape, the titles,
// empty lists that say why, and the ignore list that keeps what was added.
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include "app/app_fixture.h"
#include "app/ignore_list_dialog.h"
#include "app/startup.h"
#include "ui/desktop_app.h"
#include "ui/ignore_list_view.h"
#include "ui/list_hints.h"
#include "ui/machine_titles.h"
#include "ui/splash.h"
#include "ui/status_line.h"
#include "ui/ui_fixture.h"

#include "ui/restore_backup_view.h"

namespace hivewise::testing {
namespace {

using ui::DesktopApp;
using ui::MainWindowView;

class WindowBehaviourTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        desktop = std::make_unique<DesktopApp>(*machine, false);
        StartUp startUp(desktop->Prompts(), splash);
        startUp.InitialiseMainWindow(desktop->Logic(), desktop->InitSteps());
    }
    void TearDown() override { desktop.reset(); }
    MainWindowView& View() { return desktop->View(); }
    std::string IgnoreFile() const {
        return prefix.Read("drive_c/Program Files/Hivewise/Iglist.lst");
    }

    ui::CSplashThread splash;
    std::unique_ptr<DesktopApp> desktop;
};

TEST_F(WindowBehaviourTest, SuccessGoesToTheStatusLinesAndFailuresStillAsk) {
    MessageBoxCloser closer;
    // A dialog over the window: both lines show it, and no box needs an answer.
    QDialog dialog(&View());
    auto* line = new ui::StatusLine(&dialog);
    desktop->Prompts().SetOwner(&dialog);
    desktop->Prompts().Notice("Backup Deleted Successfully");
    EXPECT_EQ(line->FullText(), "Backup Deleted Successfully");
    EXPECT_EQ(View().Status()->FullText(), "Backup Deleted Successfully");
    EXPECT_TRUE(closer.texts.empty());

    // A failure is still a box.
    desktop->Prompts().Message("Unable to delete the backup file, File might be in use");
    EXPECT_TRUE(WaitFor([&] { return !closer.texts.empty(); }));
    EXPECT_EQ(View().Status()->FullText(), "Backup Deleted Successfully");

    // With no status line anywhere, word of success still reaches the user.
    ui::QtPrompts lonely;
    QDialog bare;
    lonely.SetOwner(&bare);
    lonely.Notice("Copied to Clipboard");
    EXPECT_TRUE(WaitFor([&] { return closer.texts.back() == "Copied to Clipboard"; }));
}

TEST_F(WindowBehaviourTest, AStatusLineTooNarrowShowsTheWholeTextInItsTooltip) {
    View().resize(640, 440);
    QApplication::processEvents();
    QString longText(400, 'x');
    View().Status()->Show(longText);
    EXPECT_NE(View().Status()->text(), longText);
    EXPECT_EQ(View().Status()->toolTip(), longText);
    View().Status()->Show("Copied to Clipboard");
    EXPECT_TRUE(View().Status()->toolTip().isEmpty());
}

TEST_F(WindowBehaviourTest, EscapeClosesTheDialogItIsInAndNeverTheWindow) {
    ASSERT_TRUE(View().isVisible());
    QTest::keyClick(&View(), Qt::Key_Escape);
    QTest::keyClick(View().ScanArea(), Qt::Key_Escape);
    QTest::keyClick(View().MachineChooserBox(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(View().isVisible());

    QDialog dialog(&View());
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(View().isVisible());
}

TEST_F(WindowBehaviourTest, TheWindowResizesAndEveryWindowNamesTheMachine) {
    EXPECT_EQ(View().windowTitle().toStdString(), "Hivewise v6.2 - " + prefix.Dir().string());
    EXPECT_LE(View().minimumWidth(), 1024 - 32);
    EXPECT_LE(View().minimumHeight(), 600 - 80);
    EXPECT_GT(View().maximumWidth(), 2000);
    View().resize(1200, 760);
    QApplication::processEvents();
    EXPECT_EQ(View().size(), QSize(1200, 760));
    WindowPlace place = View().CurrentPlace();
    EXPECT_EQ(place.width, 1200);
    EXPECT_FALSE(place.maximised);

    // Dialogs get the name once, however often their title is set.
    desktop->Logic().SetMachineName("Half-Life 2");
    QDialog dialog(&View());
    dialog.setWindowTitle("Ignore List");
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Ignore List - Half-Life 2");
    dialog.setWindowTitle("Ignore List - Half-Life 2");
    EXPECT_EQ(dialog.windowTitle(), "Ignore List - Half-Life 2");
    EXPECT_EQ(ui::WithMachineName("Remove Backup", ""), "Remove Backup");
}

TEST_F(WindowBehaviourTest, AScanOfNothingSaysSoAndStaysOnTheStartPage) {
    for (int id = 0; id < kSectionCount; ++id)
        View().SectionCheckBox(id)->setChecked(false);
    MessageBoxCloser closer;
    QTest::mouseClick(View().ScanArea(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !closer.texts.empty(); }));
    EXPECT_EQ(closer.texts.at(0), kNoAreaTickedText);
    EXPECT_EQ(View().Pages()->currentIndex(), static_cast<int>(MainView::StartPage));
}

TEST_F(WindowBehaviourTest, AnAbortedScanAndAnEmptyOneSayWhy) {
    desktop->Logic().ScanEnded(true);
    View().ShowResults({}, {}, 0);
    EXPECT_TRUE(View().ResultsNote()->isVisibleTo(&View()));
    EXPECT_EQ(View().ResultsNote()->text().toStdString(), kScanAbortedNote);
    EXPECT_TRUE(View().TotalText().endsWith("(scan aborted)"));

    desktop->Logic().ScanEnded(false);
    View().ShowResults({}, {}, 0);
    EXPECT_EQ(View().ResultsNote()->text().toStdString(), kNoProblemsNote);
    EXPECT_TRUE(ui::EmptyListTextShown(View().ResultsTable()));
    EXPECT_EQ(View().TotalText(), "0");
}

TEST_F(WindowBehaviourTest, TheResultsTableCountsEachSectionAndOpensItsDetails) {
    HandoverContext context;
    for (int id : {8, 8, 5}) {
        auto problem = std::make_unique<Problem>(
            id, ProblemTexts{.location = "HKEY_CURRENT_USER\\Software\\X"});
        desktop->Logic().Results().Accept(std::move(problem), context);
    }
    std::vector<int> opened;
    MainWindowActions actions;
    actions.showSectionDetails = [&](int id) { opened.push_back(id); };
    desktop->Logic().SetActions(actions);
    desktop->Logic().ScanEnded(false);
    View().RefreshResults();

    QTreeWidget* table = View().ResultsTable();
    ASSERT_EQ(table->topLevelItemCount(), 2);
    // In the order the scan visits the sections.
    EXPECT_EQ(table->topLevelItem(0)->text(ui::kSummarySectionColumn), "Startup Programs");
    EXPECT_EQ(table->topLevelItem(0)->text(ui::kSummaryProblemsColumn), "2");
    EXPECT_EQ(table->topLevelItem(1)->text(ui::kSummarySectionColumn), "Windows Fonts");
    EXPECT_NE(table->itemWidget(table->topLevelItem(1), ui::kSummaryBarColumn), nullptr);
    EXPECT_FALSE(View().ResultsNote()->isVisibleTo(&View()));
    EXPECT_EQ(View().ResultsList()->topLevelItemCount(), 2) << "the paragraphs follow below";
    EXPECT_EQ(View().TotalText(), "3");

    // One click on the link; the keyboard's Enter on the current row.
    QRect link = table->visualItemRect(table->topLevelItem(1));
    link.setLeft(table->header()->sectionViewportPosition(ui::kSummaryDetailsColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, link.center() + QPoint(4, 0));
    table->setCurrentItem(table->topLevelItem(0));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(opened, (std::vector<int>{5, 8}));
}

TEST_F(WindowBehaviourTest, TheIgnoreListKeepsItsEntryUnlessCancelled) {
    IgnoreList mainList;
    {
        IgnoreListDialog logic(*machine, desktop->Prompts(), &mainList);
        ui::IgnoreListView view(logic, "HKCU\\Software\\Hivewise");
        view.show();
        // Escape, as the close box does, keeps the preset key.
        QTest::keyClick(&view, Qt::Key_Escape);
        EXPECT_FALSE(view.isVisible());
        EXPECT_EQ(view.result(), QDialog::Accepted);
    }
    EXPECT_EQ(IgnoreFile(), "HKEY_CURRENT_USER\\Software\\Hivewise\r\r\n");
    EXPECT_EQ(mainList, IgnoreList{"HKEY_CURRENT_USER\\Software\\Hivewise"});
    EXPECT_EQ(View().Status()->FullText().toStdString(), kIgnoreDataSaved);
    {
        IgnoreListDialog logic(*machine, desktop->Prompts(), &mainList);
        ui::IgnoreListView view(logic, "HKLM\\Software");
        view.show();
        QTest::mouseClick(view.CancelButton(), Qt::LeftButton);
        EXPECT_EQ(view.result(), QDialog::Rejected);
    }
    EXPECT_EQ(IgnoreFile(), "HKEY_CURRENT_USER\\Software\\Hivewise\r\r\n");
}

TEST_F(WindowBehaviourTest, TheIgnoreListsTreeNarrowsToTheFilter) {
    IgnoreListDialog logic(*machine, desktop->Prompts());
    ui::IgnoreListView view(logic, "HKCU\\Software\\Hivewise");
    view.show();
    QTreeWidgetItem* software = view.Tree()->currentItem()->parent();
    ASSERT_NE(software, nullptr);
    view.FilterBox()->setText("hivew");
    EXPECT_FALSE(view.Tree()->currentItem()->isHidden());
    EXPECT_FALSE(software->isHidden()) << "the way to a match stays";
    int shown = 0;
    for (int i = 0; i < software->childCount(); ++i)
        shown += software->child(i)->isHidden() ? 0 : 1;
    EXPECT_EQ(shown, 1);
    for (int i = 0; i < view.Tree()->topLevelItemCount(); ++i)
        EXPECT_FALSE(view.Tree()->topLevelItem(i)->isHidden()) << "roots never go";
    view.FilterBox()->clear();
    for (int i = 0; i < software->childCount(); ++i)
        EXPECT_FALSE(software->child(i)->isHidden());
    EXPECT_TRUE(ui::EmptyListText(view.List()).contains("No key is ignored"));
}

TEST_F(WindowBehaviourTest, RestoreWithoutBackupsSaysThereAreNone) {
    RestoreBackupDialog logic(*machine, desktop->Prompts());
    ui::RestoreBackupView dialog(logic, [] { return false; });
    dialog.show();
    EXPECT_EQ(dialog.DateList()->count(), 0);
    EXPECT_EQ(dialog.DateList()->placeholderText().toStdString(), kNoBackupsText);
    EXPECT_TRUE(ui::EmptyListTextShown(dialog.ItemList()));
    EXPECT_FALSE(dialog.RestoreButton()->isEnabled());

    MessageBoxCloser closer;
    RemoveBackupDialog removeLogic(*machine, desktop->Prompts());
    ui::RemoveBackupView remove(removeLogic);
    remove.show();
    QTest::mouseClick(remove.RemoveButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !closer.texts.empty(); }));
    EXPECT_EQ(closer.texts.at(0), kNoBackupsText);
}

}  // namespace
}  // namespace hivewise::testing
