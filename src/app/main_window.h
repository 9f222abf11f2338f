#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "scan/exclusion_list.h"
#include "scan/result_store.h"
#include "scan/scan_section.h"

// The main window's logic: its three views, the section ticks, the hand-offs to the
// other windows and the scan, and the findings of the current scan.
namespace hivewise {

constexpr std::string_view kMainWindowTitle = "Hivewise v6.2";

// The start page's three large areas.
constexpr std::string_view kScanAreaText =
    "Click here to begin a system scan.\nSelect areas to scan to the right.";
constexpr std::string_view kBackupsAreaText = "Click here to manage your registry\nbackups.";
constexpr std::string_view kToolsAreaText =
    "BHO Manager, Startup Program Manager,\nAdd/Remove Programs Manager, and\nFull Registry "
    "Backup Utility";

constexpr std::string_view kAbortScanText = "Abort Scan";
constexpr std::string_view kRepairProblemsText = "Repair Problems";
constexpr std::string_view kRepairAbortText = "Abort";
constexpr std::string_view kGoBackText = "Go Back";
constexpr std::string_view kProblemsFoundLabel = "Problems Found : ";
constexpr std::string_view kViewDetailsText = "View Details";

// The help page shipped with the program, opened in the desktop's browser; it needs no
// network.
constexpr std::string_view kHelpPageName = "index.html";
constexpr std::string_view kNoHelpPageText =
    "The help page is not installed with this copy of Hivewise.";

// The help page's host path: installed beside the program (../share/hivewise/help), or in
// the source tree when the program runs from its build folder; nothing when neither.
std::optional<std::filesystem::path> FindHelpPage(const std::filesystem::path& executable,
                                                  const std::filesystem::path& sourceDataDir = {});

// What the window says when there is nothing to show or do.
constexpr std::string_view kNoAreaTickedText =
    "No scan area is ticked. Tick at least one of the Scan Areas, then click the scan area "
    "again.";
constexpr std::string_view kScanAbortedNote =
    "The scan was aborted: only what it found before it stopped is listed.";
constexpr std::string_view kNoProblemsNote = "No problems were found in the areas scanned.";
constexpr std::string_view kScanAbortedTotal = " (scan aborted)";

// One row of the results table: a section that found something.
struct ResultsSummaryRow {
    int sectionId = 0;
    std::string name;
    int problems = 0;
};

enum class MainView {
    StartPage,
    Scan,
    Results,
};

// What the main window's buttons lead to. An empty action does nothing.
struct MainWindowActions {
    // Called after the switch to the scan view: reset the results and start the scan.
    std::function<void()> startScan{};
    std::function<void()> openRestoreBackup{};
    std::function<void()> openAdvancedOptions{};
    std::function<void()> openPreferences{};
    // Clears the scan's continue flag.
    std::function<void()> abortScan{};
    // Repairs the ticked findings; it sets and clears the repair-running flag.
    std::function<void()> repair{};
    std::function<void(int sectionId)> showSectionDetails{};
};

class MainWindow {
  public:
    MainWindow(Machine& machine, AppPrompts& prompts, MainWindowActions actions = {},
               bool sampleMachine = false);

    void SetActions(MainWindowActions actions) { actions_ = std::move(actions); }

    // The view shown; the observer hears every change.
    MainView View() const { return view_; }
    void SetView(MainView view);
    void SetViewObserver(std::function<void(MainView)> observer) {
        viewObserver_ = std::move(observer);
    }

    // Section ticks by section id.
    bool Ticked(int sectionId) const;
    void SetTicked(int sectionId, bool ticked);
    const std::array<bool, kSectionCount>& Ticks() const { return ticks_; }
    // Ticks each section whose setting (named by its section name) is "1".
    void LoadTicks();
    // Writes every tick, "1" or "0", under its section name; false when one failed.
    bool SaveTicks();

    // Start page.
    // Switches to the scan view and starts the scan; ignored off the start page.
    bool ClickScanArea();
    void ClickBackupsArea();
    void ClickToolsArea();
    void ClickPreferences();
    // Opens the help page without waiting; false (and the user told) when it could not.
    bool ClickHelp();
    void SetHelpPage(std::filesystem::path page) { helpPage_ = std::move(page); }
    // Scan view.
    void ClickAbortScan();
    // The end of a scan, completed or aborted.
    void ScanEnded(bool aborted = false);
    bool ScanAborted() const { return scanAborted_; }
    // The line above the results: why the list is short or empty; empty when it is not.
    std::string ResultsNote() const;
    // The sections with findings, in scan order, with their counts as they are now.
    std::vector<ResultsSummaryRow> ResultsSummary() const;
    // Drops the findings the ignore list now covers; returns how many went. None while a
    // repair goes through them.
    int ForgetIgnoredFindings(const IgnoreList& ignoreList);
    // Results view. While a repair runs the button reads "Abort" and only clears the
    // repair-running flag; the repair stops before its next finding.
    void ClickRepair();
    std::string_view RepairButtonText() const;
    // Back to the start page; refused while a repair runs.
    bool ClickGoBack();
    void ViewDetails(int sectionId);
    // Whether the window may close (Escape, the close box); refused while repairing.
    bool RequestClose() const { return !repairRunning_; }

    bool RepairRunning() const { return repairRunning_; }
    void SetRepairRunning(bool running) { repairRunning_ = running; }

    ResultStore& Results() { return results_; }
    const ResultStore& Results() const { return results_; }

    // Facts gathered when the window opens.
    unsigned CompleteScanEstimate() const { return completeScanEstimate_; }
    void SetCompleteScanEstimate(unsigned estimate) { completeScanEstimate_ = estimate; }
    const std::string& SystemDescription() const { return systemDescription_; }
    void SetSystemDescription(std::string text) { systemDescription_ = std::move(text); }

    // The start page's small line naming the machine worked on.
    std::string MachineLine() const;
    // The machine's name as the machine list shows it; the folder until one is given.
    std::string MachineName() const;
    void SetMachineName(std::string name) { machineName_ = std::move(name); }
    // The main window's title: the program and the machine it works on.
    std::string WindowTitle() const { return TitleWithMachine(kMainWindowTitle); }
    // Any of the program's window titles followed by the machine's name, so that windows
    // of two machines can be told apart.
    std::string TitleWithMachine(std::string_view title) const;

    Settings& GetSettings() { return settings_; }
    Machine& GetMachine() { return machine_; }
    AppPrompts& Prompts() { return prompts_; }

  private:
    Machine& machine_;
    AppPrompts& prompts_;
    Settings settings_;
    MainWindowActions actions_;
    bool sampleMachine_;
    MainView view_ = MainView::StartPage;
    std::function<void(MainView)> viewObserver_;
    std::array<bool, kSectionCount> ticks_{};
    ResultStore results_;
    bool repairRunning_ = false;
    bool repairHoldsResults_ = false;  // from the repair's start until it returns
    bool scanAborted_ = false;
    unsigned completeScanEstimate_ = 0;
    std::string systemDescription_;
    std::string machineName_;
    std::filesystem::path helpPage_;
};

}  // namespace hivewise
