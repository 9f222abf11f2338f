#include <QEnterEvent>
#include <QPixmap>

#include "app/app_fixture.h"
#include "app/startup.h"
#include "platform/machine/sample_machine.h"
#include "ui/advanced_options_view.h"
#include "ui/desktop_app.h"
#if defined(HIVEWISE_REPAIR_AVAILABLE) && defined(HIVEWISE_TOOLS_AVAILABLE) && \
    defined(HIVEWISE_REPORT_AVAILABLE) && defined(HIVEWISE_FULLBACKUP_AVAILABLE)
#include "app/repair_problems_flow.h"
#include "app/tools/bho_manager.h"
#include "app/tools/installed_programs_manager.h"
#include "app/tools/startup_manager.h"
#include "ui/entry_manager_view.h"
#include "ui/full_backup_view.h"
#include "ui/problem_details_view.h"
#include "ui/removed_entries_view.h"
#include "ui/restore_backup_view.h"
#endif
#include "ui/ignore_list_view.h"
#include "ui/preferences_view.h"
#include "ui/splash.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

// Every view paints without fault; with HIVEWISE_SCREENSHOTS naming a folder, the
// pictures are kept there for a look.
class ScreenshotTest : public UiTest {
  protected:
    void Keep(QWidget& widget, const char* name) {
        QPixmap picture = widget.grab();
        EXPECT_FALSE(picture.isNull()) << name;
        Keep(picture, name);
    }
    void Keep(const QPixmap& picture, const char* name) {
        if (const char* folder = std::getenv("HIVEWISE_SCREENSHOTS")) {
            EXPECT_TRUE(picture.save(QString(folder) + "/hivewise-" + name + ".png")) << name;
        }
    }
};

TEST_F(ScreenshotTest, EveryViewPaints) {
    QPixmap splash = ui::DrawSplashPicture();
    EXPECT_EQ(splash.size(), QSize(kSplashWidth, kSplashHeight));
    Keep(splash, "splash");

    ui::DesktopApp desktop(*machine, false);
    ui::CSplashThread noSplash;
    StartUp startUp(desktop.Prompts(), noSplash);
    startUp.InitialiseMainWindow(desktop.Logic(), desktop.InitSteps());
    ui::MainWindowView& view = desktop.View();
    Keep(view, "start-page");

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(view.ScanArea(), &enter);
    Keep(view, "start-page-hover");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.ScanArea(), &leave);

    desktop.Logic().SetView(MainView::Scan);
    const char* names[] = {"Registry Integrity", "Startup Programs", "Sounds Section",
                           "ActiveX/Classes Section", "Application Paths"};
    for (int row = 0; row < 5; ++row) {
        view.InsertSectionRow(row, names[row]);
        view.SetStatusCell(row, row < 4 ? "Finished" : "Scanning");
        view.SetProblemsCell(row, row == 0 ? "0" : std::to_string(row * 3));
        view.SetRowChecked(row, row > 0);
    }
    view.SetTotal(18);
    view.SetPathLine(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000000}");
    view.ScanProgress()->setRange(0, 100);
    view.ScanProgress()->setValue(42);
    Keep(view, "scan-view");

    desktop.Logic().SetView(MainView::Results);
    QStringList texts;
    QList<int> ids;
    for (int id : {8, 12, 1}) {
        const ScanSection& s = ScanSections()[id];
        texts << QString(
                     "<b>%1<br><font color=\"#FF0000\">%2 Problem(s)</font></b><br>"
                     "Description : %3")
                     .arg(QString::fromStdString(std::string(s.sectionName)))
                     .arg(id)
                     .arg(QString::fromStdString(std::string(s.description)));
        ids << id;
    }
    view.ShowResults(texts, ids, 21);
    Keep(view, "results-view");
    EXPECT_GT(view.ResultsList()->visualItemRect(view.ResultsList()->topLevelItem(0)).height(),
              view.fontMetrics().height() * 2)
        << "rich text rows take the height of their lines";

    FakePrompts prompts;
    PreferencesDialog preferences(*machine, prompts);
    ui::PreferencesDialogView preferencesView(preferences);
    preferencesView.show();
    Keep(preferencesView, "preferences");

    AdvancedOptions advanced;
    ui::AdvancedOptionsView advancedView(advanced);
    advancedView.show();
    Keep(advancedView, "advanced-options");

    IgnoreListDialog ignore(*machine, prompts);
    ui::IgnoreListView ignoreView(ignore, "HKCU\\Software\\Hivewise");
    ignoreView.show();
    Keep(ignoreView, "ignore-list");
}

#if defined(HIVEWISE_REPAIR_AVAILABLE) && defined(HIVEWISE_TOOLS_AVAILABLE) && \
    defined(HIVEWISE_REPORT_AVAILABLE) && defined(HIVEWISE_FULLBACKUP_AVAILABLE)
// The sample machine, scanned and repaired as a user would, every window of it on the
// screen at the size it opens with.
TEST_F(ScreenshotTest, EveryWindowOfTheSampleMachinePaints) {
    auto templateDir = FindSampleTemplate(RunningExecutable());
    ASSERT_TRUE(templateDir);
    std::filesystem::path dir = prefix.Dir() / "sample";
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(*templateDir, dir, &error)) << error;
    // The program's folder in the machine, where a start would have put it.
    std::filesystem::create_directories(dir / "drive_c/Program Files/Hivewise/logs");
    auto loaded = Machine::Load(dir, {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;
    Machine& sample = *loaded.machine;

    MessageBoxCloser closer;
    ui::DesktopApp desktop(sample, true);
    ui::CSplashThread noSplash;
    StartUp startUp(desktop.Prompts(), noSplash);
    startUp.InitialiseMainWindow(desktop.Logic(), desktop.InitSteps());
    ui::MainWindowView& view = desktop.View();
    for (int id = 0; id < kSectionCount; ++id)
        view.SectionCheckBox(id)->setChecked(true);
    QApplication::processEvents();
    Keep(view, "sample-start-page");
    desktop.Logic().ClickScanArea();
    ASSERT_TRUE(WaitFor([&] { return desktop.Logic().View() == MainView::Results; }, 60000));
    QApplication::processEvents();
    Keep(view, "sample-results");

    ProblemDetailsActions none;
    ProblemDetailsDialog detailsLogic(desktop.Logic().Results(), desktop.Prompts(), none);
    ui::ProblemDetailsView details(detailsLogic, 8, &view);
    details.show();
    QApplication::processEvents();
    Keep(details, "details");
    IgnoreListDialog ignoreLogic(sample, desktop.Prompts());
    ui::IgnoreListView ignore(ignoreLogic,
                              "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", &view);
    ignore.show();
    ignore.FilterBox()->setText("Run");
    Keep(ignore, "ignore-list-filtered");

    FakePrompts quiet;
    // Every finding ticked, as the details' Select All does: one backup to restore from.
    for (auto& problem : desktop.Logic().Results().Problems())
        problem->isChecked = 1;
    RepairSelectedProblems(sample, desktop.Logic().Results(), quiet, {});
    EXPECT_EQ(ListFixBackups(sample).size(), 1u);
    RestoreBackupDialog restoreLogic(sample, quiet);
    ui::RestoreBackupView restore(
        restoreLogic, [] { return false; }, &view);
    restore.show();
    Keep(restore, "restore-backup");
    RemoveBackupDialog removeLogic(sample, quiet);
    ui::RemoveBackupView remove(removeLogic, &view);
    remove.show();
    Keep(remove, "remove-backup");

    StartupProgramManager startupLogic(sample, quiet);
    ui::EntryManagerView startupView(startupLogic, nullptr, &view);
    startupView.show();
    Keep(startupView, "startup-manager");
    BhoManager bhoLogic(sample, quiet);
    ui::EntryManagerView bhoView(bhoLogic, nullptr, &view);
    bhoView.show();
    Keep(bhoView, "helper-objects");
    InstalledProgramsManager programsLogic(sample, quiet);
    ui::EntryManagerView programsView(programsLogic, nullptr, &view);
    programsView.show();
    Keep(programsView, "installed-programs");
    RemovedEntriesDialog removedLogic(sample, quiet, RemovedEntriesMode::Startup);
    ui::RemovedEntriesView removedView(removedLogic, &view);
    removedView.show();
    Keep(removedView, "removed-entries");
    FullBackupDialog fullLogic(sample, quiet);
    ui::FullBackupView fullView(fullLogic, sample, quiet, nullptr, &view);
    fullView.show();
    Keep(fullView, "full-backup");
}
#endif

}  // namespace
}  // namespace hivewise::testing
