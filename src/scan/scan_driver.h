#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/file_system_access.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"
#include "scan/problem.h"
#include "scan/result_store.h"
#include "scan/scan_context.h"
#include "scan/scan_section.h"

// The scan driver: turns the ticked sections into one scan on a worker thread, keeps the
// section list and the progress range, and reports the end of the scan.
namespace hivewise {

// The scanners of each section, by section id, in calling order.
using ScannerTable = std::array<std::vector<Scanner>, kSectionCount>;

// Every scanner the program has. Sections without one still get their row and
// finish with "0".
ScannerTable BuiltInScanners();

// The root of the drive that holds the system directory ("C:\"), as the shortcut scan
// takes it; empty when the system directory has no drive.
std::string SystemDriveRoot(FileSystemAccess& files);

// The estimate the progress range uses for "Complete Registry Scan": the sub-keys of
// HKCR\TypeLib plus every value under HKCU\Software and HKLM\Software.
unsigned CompleteScanEstimate(RegistryAccess& registry);

// One row of the section list as the scan leaves it.
struct SectionRow {
    int sectionId = -1;
    std::string name;
    std::string problems;  // empty until the scan reaches the section
    std::string status;    // "", "Scanning", "Finished"
    int data = -1;         // the section id once its first finding arrived
    bool checked = false;
};

// The section list of the scan view. Calls come from the user-interface thread (the
// hand-over) and from the scan thread (the driver's cells); an implementation carries
// them to its own thread.
class ScanListView : public SectionListView {
  public:
    // Empties the list.
    virtual void ClearRows() = 0;
    // Appends a row with the section name, empty cells and no check mark.
    virtual void InsertRow(int row, const std::string& sectionName) = 0;
    virtual void SetStatusCell(int row, const std::string& text) = 0;
    virtual void EnsureVisible(int row) = 0;
};

// One item of the results list: rich text, and the section it opens.
struct ResultsItem {
    std::string text;
    int sectionId = 0;
};

// The items of the results list: one per row whose "Problems" text is neither empty
// nor "0", in row order.
std::vector<ResultsItem> MakeResultsItems(const std::vector<SectionRow>& rows);

// The rest of the main window that a scan reaches.
class ScanWindow {
  public:
    virtual ~ScanWindow() = default;
    // Empties the results list and sets its progress bar to 0 (reset).
    virtual void ClearResults() = 0;
    // The end-of-scan message box; called on the scan thread, which does not wait for
    // an answer.
    virtual void ScanMessage(const std::string& text) = 0;
    // The message box of a fault that ended part of the scan, each text once per scan;
    // called on the scan thread, which waits until it is closed.
    virtual void ScanFault(const std::string& text) = 0;
    // Switches to the results view showing these items; called on the scan thread.
    virtual void ShowResultsView(const std::vector<ResultsItem>& items, int total) = 0;
};

// The scan log as the driver uses it: a new file with its header at every start, a
// block per accepted finding while logging is on, and an end once the last finding of
// the scan is handed over, by which time the file must be whole.
class ScanLogWriter {
  public:
    virtual ~ScanLogWriter() = default;
    virtual void StartLog(const std::tm& localTime) = 0;
    virtual void AppendFinding(const Problem& problem) = 0;
    virtual void EndLog() {}
};

// The texts the driver shows.
constexpr std::string_view kScanningText = "Scanning ...";
constexpr std::string_view kStatusScanning = "Scanning";
constexpr std::string_view kStatusFinished = "Finished";
constexpr std::string_view kScanCompleteStatus = "Scan Complete";
constexpr std::string_view kScanCompletedMessage = "Scan Completed";
constexpr std::string_view kScanAbortedText = "Scan Aborted";
constexpr std::string_view kLastScanSetting = "Last Scan";
constexpr std::string_view kItemsFoundSetting = "Items Found";

// "Tuesday, March 06, 2007 Time: 14:05:09": English names whatever the host's locale.
std::string FormatLastScan(const std::tm& localTime);

class ScanDriver {
  public:
    // `results` is the window's store; it must outlive the driver.
    ScanDriver(Machine& machine, ResultStore& results, ScannerTable scanners = BuiltInScanners());
    // Aborts a running scan and waits for its thread. A front end whose sink blocks on
    // its own thread must let pending hand-overs through before destroying the driver.
    ~ScanDriver();
    ScanDriver(const ScanDriver&) = delete;
    ScanDriver& operator=(const ScanDriver&) = delete;

    // Front-end parts; each may be left null. Set them before Start.
    void SetListView(ScanListView* view) { listView_ = view; }
    void SetWindow(ScanWindow* window) { window_ = window; }
    void SetLog(ScanLogWriter* log) { log_ = log; }
    // The exclusion test applied at hand-over (exclusion table and ignore list).
    void SetExclusionTest(std::function<bool(const std::string&)> test) {
        exclusionTest_ = std::move(test);
    }
    // Where scanners send findings. The window's sink queues them and its thread calls
    // HandOver for each in batches, and for all queued before any other call from the
    // scan. Without one, findings are taken directly on the scan thread under a lock.
    void SetProblemSink(ProblemSink* sink) { externalSink_ = sink; }
    // How long "Registry Integrity" shows "Scanning" (half a second).
    void SetIntegrityDelay(std::chrono::milliseconds delay) { integrityDelay_ = delay; }
    // The local time of the log name and of "Last Scan" (the clock by default).
    void SetClock(std::function<std::tm()> clock) { clock_ = std::move(clock); }
    // Whether a bar shows the scan's progress (it does by default). Without one, the
    // range is not counted: counting decodes every value of keys such as the shared
    // libraries' list once more before the scan, for nothing.
    void SetProgressBarShown(bool shown) { progressBarShown_ = shown; }
    ScannerTable& Scanners() { return scanners_; }

    // Empties the results, the rows and the bar before a new scan.
    void Reset();
    // Prepares the scan of the ticked sections (by id) and starts its thread. False,
    // doing nothing, while a scan is running.
    bool Start(const std::array<bool, kSectionCount>& ticks, unsigned completeScanEstimate);
    // "Abort Scan": the scan stops at the scanners' next test of the flag.
    void Abort() { continueFlag_.store(0); }
    // Waits for the scan thread to end (the window never does; the command line does).
    void Join();
    // Reset, Start and Join.
    bool RunToEnd(const std::array<bool, kSectionCount>& ticks, unsigned completeScanEstimate);

    // The hand-over of one finding; runs on the thread that owns the results.
    void HandOver(std::unique_ptr<Problem> problem);

    bool Running() const { return running_.load(); }
    // After the end of a scan: whether it was aborted.
    bool Aborted() const { return aborted_.load(); }
    // The scan's notices ("Internal Windows Error, Please restart", "RegOpenKeyEx FAILED"),
    // each text once, in the order first shown, and how often each came. The window shows
    // each when it first comes; a scan with any of them failed in part.
    struct Notice {
        std::string text;
        int count = 0;
    };
    std::vector<Notice> Notices() const;
    std::atomic<int>& ContinueFlag() { return continueFlag_; }
    ScanStatus& Status() { return status_; }
    const ScanStatus& Status() const { return status_; }
    // A copy of the section list's rows, and the total shown beside "Problems Found : ".
    std::vector<SectionRow> Rows() const;
    int Total() const;
    // The flags read at start, and the parts of the progress range.
    bool CheckAll() const { return handover_.checkAll; }
    bool LogOn() const { return handover_.logOn; }
    long WorkTotal() const { return workTotal_; }
    long PerDriveShare() const { return perDriveShare_; }
    int CountedDrives() const { return countedDrives_; }

  private:
    // The section list as the scan keeps it, forwarded to the front end's list.
    class RowModel : public SectionListView {
      public:
        explicit RowModel(ScanDriver& driver) : driver_(driver) {}
        void SetProblemsCell(int row, const std::string& text) override;
        void SetRowData(int row, int sectionId) override;
        void SetRowChecked(int row, bool checked) override;
        void SetTotal(int total) override;
        void FindingKept(int row, const std::string& problems, int sectionId, int total) override;

      private:
        ScanDriver& driver_;
    };
    class DirectSink : public ProblemSink {
      public:
        explicit DirectSink(ScanDriver& driver) : driver_(driver) {}
        void ProblemFound(std::unique_ptr<Problem> problem) override;

      private:
        ScanDriver& driver_;
    };

    void ThreadMain();
    void RunSection(ScanContext& context, int sectionId);
    // A scanner's notice: kept, and shown in the window the first time its text comes.
    void AddNotice(const std::string& text);
    void EndOfScan();
    int RowOf(int sectionId) const;
    // The progress range of the ticked sections (`order`, by id), when a bar shows it.
    void CountWork(const std::vector<int>& order, unsigned completeScanEstimate);
    void SetProblems(int row, const std::string& text);
    void SetStatus(int row, const std::string& text);
    void SetChecked(int row, bool checked);
    std::string ProblemsText(int row) const;

    Machine& machine_;
    ResultStore& results_;
    ScannerTable scanners_;
    ScanListView* listView_ = nullptr;
    ScanWindow* window_ = nullptr;
    ScanLogWriter* log_ = nullptr;
    ProblemSink* externalSink_ = nullptr;
    std::function<bool(const std::string&)> exclusionTest_;
    std::function<std::tm()> clock_;
    std::chrono::milliseconds integrityDelay_{500};

    RowModel rowModel_{*this};
    DirectSink directSink_{*this};
    std::mutex handoverMutex_;
    mutable std::mutex rowsMutex_;
    std::vector<SectionRow> rows_;
    int total_ = 0;
    mutable std::mutex noticesMutex_;
    std::vector<Notice> notices_;

    HandoverContext handover_;
    std::array<bool, kSectionCount> ticks_{};
    std::array<int, kSectionCount> rowOf_{};
    bool progressBarShown_ = true;
    long workTotal_ = 0;
    long perDriveShare_ = 0;
    int countedDrives_ = 0;

    ScanStatus status_;
    // Read for every item on both of a walk's threads, while the status beside it is
    // written for every value: a line of its own spares the readers a miss each time.
    alignas(64) std::atomic<int> continueFlag_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> aborted_{false};
    std::thread thread_;
};

}  // namespace hivewise
