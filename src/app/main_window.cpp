#include "app/main_window.h"

#include "platform/files/file_system_access.h"

namespace hivewise {

MainWindow::MainWindow(Machine& machine, AppPrompts& prompts, MainWindowActions actions,
                       bool sampleMachine)
    : machine_(machine),
      prompts_(prompts),
      settings_(machine),
      actions_(std::move(actions)),
      sampleMachine_(sampleMachine) {}

void MainWindow::SetView(MainView view) {
    view_ = view;
    if (viewObserver_) viewObserver_(view);
}

bool MainWindow::Ticked(int sectionId) const {
    return sectionId >= 0 && sectionId < kSectionCount && ticks_[sectionId];
}

void MainWindow::SetTicked(int sectionId, bool ticked) {
    if (sectionId >= 0 && sectionId < kSectionCount) ticks_[sectionId] = ticked;
}

void MainWindow::LoadTicks() {
    for (const ScanSection& section : ScanSections()) {
        ticks_[section.id] = settings_.Flag(section.sectionName);
    }
}

bool MainWindow::SaveTicks() {
    bool ok = true;
    for (const ScanSection& section : ScanSections()) {
        if (!settings_.WriteFlag(section.sectionName, ticks_[section.id])) ok = false;
    }
    return ok;
}

bool MainWindow::ClickScanArea() {
    // The start controls are only on the start page: a scan never starts over another.
    if (view_ != MainView::StartPage) return false;
    SetView(MainView::Scan);
    if (actions_.startScan) actions_.startScan();
    return true;
}

void MainWindow::ClickBackupsArea() {
    if (actions_.openRestoreBackup) actions_.openRestoreBackup();
}

void MainWindow::ClickToolsArea() {
    if (actions_.openAdvancedOptions) actions_.openAdvancedOptions();
}

void MainWindow::ClickPreferences() {
    if (actions_.openPreferences) actions_.openPreferences();
}

bool MainWindow::ClickHelp() {
    FileSystemAccess files(machine_);
    return files.LaunchProgram(std::string(kHelpAddress), "", false);
}

void MainWindow::ClickAbortScan() {
    if (actions_.abortScan) actions_.abortScan();
}

void MainWindow::ScanEnded() {
    SetView(MainView::Results);
}

void MainWindow::ClickRepair() {
    if (repairRunning_) {
        repairRunning_ = false;
        return;
    }
    if (actions_.repair) actions_.repair();
}

std::string_view MainWindow::RepairButtonText() const {
    return repairRunning_ ? kRepairAbortText : kRepairProblemsText;
}

bool MainWindow::ClickGoBack() {
    if (repairRunning_ || view_ != MainView::Results) return false;
    SetView(MainView::StartPage);
    return true;
}

void MainWindow::ViewDetails(int sectionId) {
    if (actions_.showSectionDetails) actions_.showSectionDetails(sectionId);
}

std::string MainWindow::MachineLine() const {
    if (sampleMachine_) return "Working on: sample machine";
    return "Working on: " + machine_.PrefixDir().string();
}

}  // namespace hivewise
