#include "app/main_window.h"

#include "platform/files/file_system_access.h"
#include "scan/ignore_list_file.h"

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
    // A scan of nothing would only report "Scan Complete" and an empty list.
    bool anyTicked = false;
    for (bool ticked : ticks_)
        anyTicked = anyTicked || ticked;
    if (!anyTicked) {
        prompts_.Message(std::string(kNoAreaTickedText), MessageIcon::Info);
        return false;
    }
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
    std::error_code ec;
    if (helpPage_.empty() || !std::filesystem::is_regular_file(helpPage_, ec)) {
        prompts_.Message(std::string(kNoHelpPageText), MessageIcon::Warning);
        return false;
    }
    FileSystemAccess files(machine_);
    // An address, so that the host opens it as it is and does not take it for a path of
    // the machine.
    return files.LaunchProgram("file://" + helpPage_.string(), "", false);
}

std::optional<std::filesystem::path> FindHelpPage(const std::filesystem::path& executable,
                                                  const std::filesystem::path& sourceDataDir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path exe = fs::absolute(executable, ec);
    std::vector<fs::path> candidates = {
        (exe.parent_path() / ".." / "share" / "hivewise" / "help").lexically_normal()};
    fs::path data = sourceDataDir;
#ifdef HIVEWISE_SOURCE_DATA_DIR
    if (data.empty()) data = HIVEWISE_SOURCE_DATA_DIR;
#endif
    if (!data.empty()) candidates.push_back(data / "help");
    for (const fs::path& folder : candidates) {
        fs::path page = folder / kHelpPageName;
        if (fs::is_regular_file(page, ec)) return fs::absolute(page, ec);
    }
    return std::nullopt;
}

void MainWindow::ClickAbortScan() {
    if (actions_.abortScan) actions_.abortScan();
}

void MainWindow::ScanEnded(bool aborted) {
    scanAborted_ = aborted;
    SetView(MainView::Results);
}

std::string MainWindow::ResultsNote() const {
    if (scanAborted_) return std::string(kScanAbortedNote);
    if (results_.Total() == 0) return std::string(kNoProblemsNote);
    return {};
}

std::vector<ResultsSummaryRow> MainWindow::ResultsSummary() const {
    std::vector<ResultsSummaryRow> rows;
    for (int id : SectionsInScanOrder()) {
        int count = results_.Count(id);
        if (count <= 0) continue;
        const ScanSection* section = FindSection(id);
        rows.push_back({id, section ? std::string(section->sectionName) : std::string{}, count});
    }
    return rows;
}

int MainWindow::ForgetIgnoredFindings(const IgnoreList& ignoreList) {
    // A repair walks the findings while the window stays open: they stay until it ends,
    // and it leaves for the section selection, whose next scan lists them no more.
    if (repairHoldsResults_) return 0;
    // The details dialog leaves locations with short root names; the list has long ones.
    return results_.RemoveIf([&ignoreList](const Problem& problem) {
        std::string text = LongRootLocation(problem.Location());
        text.append(1, '\\').append(problem.ValueName());
        text.append(1, '\\').append(problem.ValueData());
        return IsExcluded(text, ignoreList);
    });
}

void MainWindow::ClickRepair() {
    if (repairRunning_) {
        repairRunning_ = false;
        return;
    }
    // The findings are the repair's until it returns: after an abort it still removes
    // what it saved.
    struct Hold {
        bool& held;
        explicit Hold(bool& flag) : held(flag) { held = true; }
        ~Hold() { held = false; }
    } hold(repairHoldsResults_);
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

std::string MainWindow::MachineName() const {
    if (!machineName_.empty()) return machineName_;
    if (sampleMachine_) return "sample machine";
    return machine_.PrefixDir().string();
}

std::string MainWindow::TitleWithMachine(std::string_view title) const {
    return std::string(title) + " - " + MachineName();
}

}  // namespace hivewise
