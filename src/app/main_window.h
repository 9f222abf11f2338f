#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "app/user_prompts.h"
#include "platform/machine/machine.h"
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

// The product's help page, opened in the desktop's browser.
constexpr std::string_view kHelpAddress = "http://www.hivewise.example/help/";

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
    // Opens the help page without waiting; false when it could not be started.
    bool ClickHelp();
    // Scan view.
    void ClickAbortScan();
    // The end of a scan, completed or aborted.
    void ScanEnded();
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
    unsigned completeScanEstimate_ = 0;
    std::string systemDescription_;
};

}  // namespace hivewise
