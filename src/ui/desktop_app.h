#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/advanced_options.h"
#include "app/desktop_memory.h"
#include "app/machine_chooser.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "platform/machine/machine.h"
#include "scan/exclusion_list.h"
#include "ui/main_window_view.h"
#include "ui/qt_host_services.h"
#include "ui/qt_prompts.h"
#include "ui/scan_binding.h"

// The desktop program around one machine: the main window's logic and view, and the
// windows its buttons open.
namespace hivewise::ui {

class DesktopApp {
  public:
    // Gives the machine its host services for as long as the program lives.
    DesktopApp(Machine& machine, bool sampleMachine);
    ~DesktopApp();
    DesktopApp(const DesktopApp&) = delete;
    DesktopApp& operator=(const DesktopApp&) = delete;

    // Every step of the main window's initialisation, the view's and the others.
    MainWindowInitSteps InitSteps();

    // Offers the machines in the main window's "Working on:" chooser; `switchTo` is
    // asked to load the one the user picks.
    void OfferMachines(std::vector<FoundMachine> machines,
                       std::function<bool(const MachineRequest&)> switchTo);
    // Called once Wine, started from the window in the machine, has ended and the user is
    // back at the main window: the machine is to be read again. Until then every write is
    // refused as while Wine runs.
    void SetReload(std::function<void()> reload) { reload_ = std::move(reload); }
    // The check the window makes every second; true when it asked for the reload.
    bool CheckWineEnded();

    void OpenPreferences();
    void OpenAdvancedOptions();
    void OpenFullBackup();
    // The ignore-list dialog, preset to a finding's key or to none. When it saved, the
    // findings it now covers leave the results at once; true then.
    bool OpenIgnoreList(const std::string& presetKey = {});
    // The findings of one section, modally over the main window; ticks stay in the records.
    void ShowSectionDetails(int sectionId);
    // "Repair Problems": the ticked findings saved into a fix backup and removed.
    void RepairProblems();
    // The backups area: the Restore Backup dialog and, from it, Remove Backup.
    void OpenRestoreBackup();

    // Where the window's place is remembered between starts; none in checks.
    void SetMemory(DesktopMemory* memory);

    MainWindow& Logic() { return *logic_; }
    MainWindowView& View() { return *view_; }
    QtPrompts& Prompts() { return prompts_; }
    IgnoreList& Ignore() { return ignoreList_; }
    Machine& GetMachine() { return machine_; }

  private:
    Machine& machine_;
    bool sampleMachine_;
    QtPrompts prompts_;
    QtHostServices host_;
    IgnoreList ignoreList_;
    std::string osName_;
    std::unique_ptr<MainWindow> logic_;
    std::unique_ptr<MainWindowView> view_;
    std::unique_ptr<ScanBinding> scan_;
    std::unique_ptr<MachineChooser> chooser_;
    std::function<void()> reload_;
    std::unique_ptr<QTimer> wineWatch_;
    DesktopMemory* memory_ = nullptr;
    std::unique_ptr<QObject> machineTitles_;
};

}  // namespace hivewise::ui
