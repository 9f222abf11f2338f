#include "ui/desktop_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>
#include <filesystem>

#include "app/backups/restore_backup_dialog.h"
#include "app/ignore_list_dialog.h"
#include "app/preferences_dialog.h"
#include "app/repair_problems_flow.h"
#include "app/save_changes.h"
#include "app/update_check_flow.h"
#include "platform/files/file_system_access.h"
#include "platform/machine/prefix_lock.h"
#include "tools/system_info.h"
#include "ui/advanced_options_view.h"
#include "ui/full_backup_view.h"
#include "ui/ignore_list_view.h"
#include "ui/machine_titles.h"
#include "ui/preferences_view.h"
#include "ui/problem_details_view.h"
#include "ui/restore_backup_view.h"
#include "ui/system_tools.h"

namespace hivewise::ui {
namespace {

// The host folder of a file of the machine, shown in the desktop's file manager.
[[maybe_unused]] bool OpenContainingFolder(Machine& machine, const std::string& file) {
    std::optional<std::filesystem::path> host;
    if (!file.empty() && file[0] == '/') {
        host = std::filesystem::path(file);
    } else {
        host = FileSystemAccess(machine).ToHostPath(file, true);
    }
    if (!host) return false;
    std::error_code ec;
    std::filesystem::path folder = host->parent_path();
    if (!std::filesystem::is_directory(folder, ec)) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

}  // namespace

DesktopApp::DesktopApp(Machine& machine, bool sampleMachine)
    : machine_(machine), sampleMachine_(sampleMachine), host_(machine.PrefixDir()) {
    machine_.SetHost(&host_);
    logic_ = std::make_unique<MainWindow>(machine_, prompts_, MainWindowActions{}, sampleMachine);
    view_ = std::make_unique<MainWindowView>(*logic_);
    prompts_.SetOwner(view_.get());
    host_.SetOwner(view_.get());
    SystemInfo info(machine_);
    info.Identify();
    osName_ = info.osName;
    // Every window of the program names the machine it works on.
    machineTitles_ = MakeMachineTitles([this] { return logic_->MachineName(); });
    scan_ = std::make_unique<ScanBinding>(machine_, *view_, prompts_, ignoreList_, osName_);

    MainWindowActions actions;
    actions.startScan = [this] { scan_->Start(); };
    actions.abortScan = [this] { scan_->Abort(); };
    actions.openAdvancedOptions = [this] { OpenAdvancedOptions(); };
    actions.openPreferences = [this] { OpenPreferences(); };
    actions.showSectionDetails = [this](int sectionId) { ShowSectionDetails(sectionId); };
    actions.repair = [this] { RepairProblems(); };
    actions.openRestoreBackup = [this] { OpenRestoreBackup(); };
    logic_->SetActions(std::move(actions));
    if (auto page = FindHelpPage(QCoreApplication::applicationFilePath().toStdString()))
        logic_->SetHelpPage(*page);

    wineWatch_ = std::make_unique<QTimer>();
    wineWatch_->setInterval(1000);
    QObject::connect(wineWatch_.get(), &QTimer::timeout, [this] { CheckWineEnded(); });
    wineWatch_->start();
}

bool DesktopApp::CheckWineEnded() {
    // Only at rest on the main window: a dialog or a repair still works on this machine.
    if (!reload_ || logic_->RepairRunning() || QApplication::activeModalWidget()) return false;
    if (!WineEndedSinceStart(machine_.PrefixDir())) return false;
    wineWatch_->stop();
    reload_();
    return true;
}

void DesktopApp::SetMemory(DesktopMemory* memory) {
    memory_ = memory;
    if (memory_) view_->SetRememberedPlace(memory_->Place());
}

DesktopApp::~DesktopApp() {
    wineWatch_.reset();
    if (memory_ && view_->WasShown()) {
        memory_->SetPlace(view_->CurrentPlace());
        memory_->Save();
    }
    // The scan thread may be waiting for the window: stop it while the window exists.
    scan_.reset();
    view_.reset();
    machine_.SetHost(nullptr);
}

MainWindowInitSteps DesktopApp::InitSteps() {
    MainWindowInitSteps steps = view_->ViewSteps();
    // Gathered when the program was put together; the scan log's header uses it.
    steps.systemInformation = [this] { return osName_; };
    steps.loadIgnoreList = [this] { LoadIgnoreList(machine_, &ignoreList_); };
    return steps;
}

void DesktopApp::OfferMachines(std::vector<FoundMachine> machines,
                               std::function<bool(const MachineRequest&)> switchTo) {
    view_->SetMachineChooser(nullptr);
    chooser_ = std::make_unique<MachineChooser>(std::move(machines), machine_.PrefixDir(),
                                                sampleMachine_, prompts_, std::move(switchTo));
    logic_->SetMachineName(chooser_->CurrentName());
    view_->SetMachineChooser(chooser_.get());
}

void DesktopApp::OpenPreferences() {
    PreferencesDialog logic(machine_, prompts_, [this] { OpenIgnoreList(); });
    PreferencesDialogView dialog(logic, view_.get());
    logic.SetCheckForUpdates([this, &dialog] {
        // The dialog closes as cancelled and the program ends after it, so that the
        // updater can replace the program file.
        class Owner : public UpdateCheckOwner {
          public:
            Owner(QtPrompts& prompts, PreferencesDialogView& dialog)
                : prompts_(prompts), dialog_(dialog) {}
            void SetWaitCursor(bool on) override { prompts_.SetWaitCursor(on); }
            void CloseAndQuit() override {
                dialog_.reject();
                QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                          Qt::QueuedConnection);
            }

          private:
            QtPrompts& prompts_;
            PreferencesDialogView& dialog_;
        } owner(prompts_, dialog);
        RunUpdateCheck(machine_, prompts_, owner);
    });
    QWidget* owner = prompts_.Owner();
    prompts_.SetOwner(&dialog);
    dialog.exec();
    prompts_.SetOwner(owner);
}

void DesktopApp::OpenAdvancedOptions() {
    AdvancedOptions logic;
    logic.SetAction(kFullBackupArea, [this] { OpenFullBackup(); });
    AdvancedOptionsView dialog(logic, view_.get());
    for (int area : {kBhoArea, kStartupArea, kInstalledProgramsArea}) {
        logic.SetAction(
            area, [this, area, &dialog] { OpenSystemTool(area, machine_, prompts_, &dialog); });
    }
    dialog.exec();
}

void DesktopApp::OpenFullBackup() {
    FullBackupDialog logic(machine_, prompts_);
    QWidget* owner = prompts_.Owner();
    FullBackupView dialog(
        logic, machine_, prompts_, [this] { return SaveChanges(machine_, prompts_); }, owner);
    prompts_.SetOwner(&dialog);
    dialog.exec();
    prompts_.SetOwner(owner);
}

bool DesktopApp::OpenIgnoreList(const std::string& presetKey) {
    IgnoreListDialog logic(machine_, prompts_, &ignoreList_);
    QWidget* owner = prompts_.Owner();
    IgnoreListView dialog(logic, presetKey, owner);
    prompts_.SetOwner(&dialog);
    dialog.exec();
    prompts_.SetOwner(owner);
    if (!logic.Saved()) return false;
    if (logic_->ForgetIgnoredFindings(ignoreList_) > 0 && logic_->View() == MainView::Results) {
        view_->RefreshResults();
    }
    return true;
}

void DesktopApp::ShowSectionDetails(int sectionId) {
    ProblemDetailsActions actions;
    actions.copyToClipboard = CopyToDesktopClipboard;
    // MSG_IGNORE_PROBLEM_KEY: the ignore list opens over the details, at the finding's key.
    ProblemDetailsView* shown = nullptr;
    actions.ignoreProblemKey = [this, &shown](Problem& problem) {
        // The finding may leave the results: the rows are read again before any paint.
        if (OpenIgnoreList(std::string(problem.Location())) && shown) shown->Reload();
    };
    actions.openContainingFolder = [this](const std::string& file) {
        return OpenContainingFolder(machine_, file);
    };
    ProblemDetailsDialog logic(logic_->Results(), prompts_, std::move(actions));
    ProblemDetailsView dialog(logic, sectionId, view_.get());
    shown = &dialog;
    QWidget* owner = prompts_.Owner();
    prompts_.SetOwner(&dialog);
    dialog.exec();
    prompts_.SetOwner(owner);
}

void DesktopApp::RepairProblems() {
    MainWindow& logic = *logic_;
    MainWindowView& view = *view_;
    RepairControls controls;
    controls.running = [&logic] { return logic.RepairRunning(); };
    controls.setRunning = [&logic, &view](bool on) {
        logic.SetRepairRunning(on);
        view.RefreshRepairButton();
    };
    controls.setProgressRange = [&view](int maximum) {
        view.RepairProgress()->setRange(0, maximum);
        view.RepairProgress()->setValue(0);
    };
    controls.stepProgress = [&view] {
        view.RepairProgress()->setValue(view.RepairProgress()->value() + 1);
    };
    controls.pumpEvents = [this] { FileSystemAccess(machine_).ServiceMessageQueue(); };
    controls.showSectionSelection = [&logic] { logic.SetView(MainView::StartPage); };
    RepairOutcome outcome = RepairSelectedProblems(machine_, logic.Results(), prompts_, controls);
    if (outcome.ran) SaveChanges(machine_, prompts_);
}

void DesktopApp::OpenRestoreBackup() {
    RestoreBackupDialog logic(machine_, prompts_);
    QWidget* owner = prompts_.Owner();
    RestoreBackupView* shown = nullptr;
    auto openRemove = [this, &shown] {
        RemoveBackupDialog removeLogic(machine_, prompts_);
        RemoveBackupView dialog(removeLogic, shown);
        QWidget* previous = prompts_.Owner();
        prompts_.SetOwner(&dialog);
        bool ok = dialog.exec() == QDialog::Accepted;
        prompts_.SetOwner(previous);
        return ok;
    };
    RestoreBackupView dialog(logic, openRemove, view_.get());
    shown = &dialog;
    prompts_.SetOwner(&dialog);
    if (dialog.exec() == QDialog::Accepted) SaveChanges(machine_, prompts_);
    prompts_.SetOwner(owner);
}

}  // namespace hivewise::ui
