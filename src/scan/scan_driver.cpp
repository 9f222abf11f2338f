#include "scan/scan_driver.h"

#include <cstdio>

#include "platform/machine/local_time.h"

namespace hivewise {

namespace {

enum class CountKind { None, SubKeys, Values };

struct CountingKey {
    RegHandle root = 0;
    std::string_view path;
    CountKind kind = CountKind::None;
};

// The key whose size stands for a section's share of the work, by section id.
constexpr std::array<CountingKey, kSectionCount> kCountingKeys = {{
    {},                                                                             // 0 integrity
    {kHkeyClassesRoot, "CLSID", CountKind::SubKeys},                                // 1
    {kHkeyClassesRoot, "", CountKind::SubKeys},                                     // 2 ProgIDs
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",  // 3
     CountKind::SubKeys},
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",  // 4
     CountKind::SubKeys},
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",  // 5
     CountKind::Values},
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",  // 6
     CountKind::Values},
    {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\Help", CountKind::Values},    // 7
    {},                                                                              // 8 startup
    {kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services", CountKind::SubKeys},  // 9
    {kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\VXD", CountKind::SubKeys},  // 10
    {kHkeyClassesRoot, "", CountKind::SubKeys},                      // 11 file associations
    {kHkeyCurrentUser, "Control Panel\\Sounds", CountKind::Values},  // 12
    {},                                                              // 13 complete scan
    {},                                                              // 14 shortcuts
}};

constexpr int kIntegrityId = 0;
constexpr int kCompleteScanId = 13;
constexpr int kShortcutsId = 14;

bool ReadFlag(RegistryAccess& registry, std::string_view name) {
    std::string text;
    return registry.ReadSetting(name, &text) && text == "1";
}

}  // namespace

std::string SystemDriveRoot(FileSystemAccess& files) {
    std::string system = files.SystemDirectory();
    return system.size() >= 3 ? system.substr(0, 3) : std::string{};
}

unsigned CompleteScanEstimate(RegistryAccess& registry) {
    return registry.CountSubKeys(kHkeyClassesRoot, "TypeLib") +
           registry.CountValues(kHkeyCurrentUser, "Software", true) +
           registry.CountValues(kHkeyLocalMachine, "Software", true);
}

std::string FormatLastScan(const std::tm& t) {
    // strftime would follow the host's locale once a toolkit has set it.
    static constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    const char* day = t.tm_wday >= 0 && t.tm_wday < 7 ? kDays[t.tm_wday] : "";
    const char* month = t.tm_mon >= 0 && t.tm_mon < 12 ? kMonths[t.tm_mon] : "";
    char text[128];
    std::snprintf(text, sizeof text, "%s, %s %02d, %04d Time: %02d:%02d:%02d", day, month,
                  t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::vector<ResultsItem> MakeResultsItems(const std::vector<SectionRow>& rows) {
    std::vector<ResultsItem> items;
    for (const SectionRow& row : rows) {
        if (row.problems.empty() || row.problems == "0") continue;
        int id = row.data >= 0 ? row.data : row.sectionId;
        const ScanSection* section = FindSection(id);
        std::string description = section ? std::string(section->description) : std::string{};
        items.push_back({"<b>" + row.name + "<brs><br><font color=\"#FF0000\">" + row.problems +
                             " Problem(s)</font></b><br>Description : " + description,
                         id});
    }
    return items;
}

// ---------------------------------------------------------------------------------------

void ScanDriver::RowModel::SetProblemsCell(int row, const std::string& text) {
    driver_.SetProblems(row, text);
}

void ScanDriver::RowModel::SetRowData(int row, int sectionId) {
    {
        std::lock_guard lock(driver_.rowsMutex_);
        if (row < 0 || static_cast<size_t>(row) >= driver_.rows_.size()) return;
        driver_.rows_[static_cast<size_t>(row)].data = sectionId;
    }
    if (driver_.listView_) driver_.listView_->SetRowData(row, sectionId);
}

void ScanDriver::RowModel::SetRowChecked(int row, bool checked) {
    driver_.SetChecked(row, checked);
}

void ScanDriver::RowModel::SetTotal(int total) {
    {
        std::lock_guard lock(driver_.rowsMutex_);
        driver_.total_ = total;
    }
    if (driver_.listView_) driver_.listView_->SetTotal(total);
}

void ScanDriver::RowModel::FindingKept(int row, const std::string& problems, int sectionId,
                                       int total) {
    bool rowKnown = false;
    {
        std::lock_guard lock(driver_.rowsMutex_);
        if (row >= 0 && static_cast<size_t>(row) < driver_.rows_.size()) {
            SectionRow& cells = driver_.rows_[static_cast<size_t>(row)];
            cells.problems = problems;
            cells.data = sectionId;
            cells.checked = true;
            rowKnown = true;
        }
        driver_.total_ = total;
    }
    if (!driver_.listView_) return;
    // The window's list hears what the four calls one by one would have told it.
    if (rowKnown) {
        driver_.listView_->FindingKept(row, problems, sectionId, total);
    } else {
        driver_.listView_->SetTotal(total);
    }
}

void ScanDriver::DirectSink::ProblemFound(std::unique_ptr<Problem> problem) {
    std::lock_guard lock(driver_.handoverMutex_);
    driver_.HandOver(std::move(problem));
}

ScanDriver::ScanDriver(Machine& machine, ResultStore& results, ScannerTable scanners)
    : machine_(machine), results_(results), scanners_(std::move(scanners)) {
    rowOf_.fill(-1);
}

ScanDriver::~ScanDriver() {
    Abort();
    Join();
}

void ScanDriver::Join() {
    if (thread_.joinable()) thread_.join();
}

void ScanDriver::Reset() {
    if (running_.load()) return;
    Join();
    {
        std::lock_guard lock(rowsMutex_);
        rows_.clear();
        total_ = 0;
    }
    results_.Reset();
    status_.SetPosition(0);
    status_.SetStatusLine(std::string(kScanningText));
    if (listView_) {
        listView_->SetTotal(0);
        listView_->ClearRows();
    }
    if (window_) window_->ClearResults();
}

bool ScanDriver::Start(const std::array<bool, kSectionCount>& ticks,
                       unsigned completeScanEstimate) {
    if (running_.load()) return false;
    Join();
    ticks_ = ticks;
    {
        std::lock_guard lock(noticesMutex_);
        notices_.clear();
    }

    // Sections without a row keep -1, so that a finding reported under an unticked
    // section's id cannot write its count into another section's row.
    results_.Reset();
    rowOf_.fill(-1);
    for (int id = 0; id < kSectionCount; ++id)
        results_.SetRowIndex(id, -1);

    std::tm now = clock_ ? clock_() : LocalNow();
    if (log_) log_->StartLog(now);

    RegistryAccess registry(machine_);
    handover_ = HandoverContext{};
    handover_.checkAll = ReadFlag(registry, "CheckAllItems");
    handover_.logOn = ReadFlag(registry, "Generate Log");
    handover_.isExcluded = exclusionTest_;
    handover_.appendToLog = [this](const Problem& problem) {
        if (log_) log_->AppendFinding(problem);
    };
    handover_.view = &rowModel_;

    std::vector<int> order;
    for (int id : SectionsInScanOrder()) {
        const ScanSection& section = ScanSections()[static_cast<size_t>(id)];
        bool ticked = ticks_[static_cast<size_t>(id)];
        registry.WriteSetting(section.sectionName, ticked ? "1" : "0");
        if (!ticked) continue;
        rowOf_[static_cast<size_t>(id)] = static_cast<int>(order.size());
        results_.SetRowIndex(id, static_cast<int>(order.size()));
        order.push_back(id);
    }

    {
        std::lock_guard lock(rowsMutex_);
        rows_.clear();
        total_ = 0;
    }
    for (size_t row = 0; row < order.size(); ++row) {
        int id = order[row];
        const ScanSection& section = ScanSections()[static_cast<size_t>(id)];
        {
            std::lock_guard lock(rowsMutex_);
            SectionRow entry;
            entry.sectionId = id;
            entry.name = std::string(section.sectionName);
            rows_.push_back(std::move(entry));
        }
        if (listView_)
            listView_->InsertRow(static_cast<int>(row), std::string(section.sectionName));
    }
    CountWork(order, completeScanEstimate);

    continueFlag_.store(1);
    aborted_.store(false);
    running_.store(true);
    thread_ = std::thread(&ScanDriver::ThreadMain, this);
    return true;
}

bool ScanDriver::RunToEnd(const std::array<bool, kSectionCount>& ticks,
                          unsigned completeScanEstimate) {
    Reset();
    if (!Start(ticks, completeScanEstimate)) return false;
    Join();
    return true;
}

void ScanDriver::HandOver(std::unique_ptr<Problem> problem) {
    results_.Accept(std::move(problem), handover_);
}

std::vector<SectionRow> ScanDriver::Rows() const {
    std::lock_guard lock(rowsMutex_);
    return rows_;
}

int ScanDriver::Total() const {
    std::lock_guard lock(rowsMutex_);
    return total_;
}

int ScanDriver::RowOf(int sectionId) const {
    if (sectionId < 0 || sectionId >= kSectionCount) return -1;
    return rowOf_[static_cast<size_t>(sectionId)];
}

void ScanDriver::SetProblems(int row, const std::string& text) {
    {
        std::lock_guard lock(rowsMutex_);
        if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
        rows_[static_cast<size_t>(row)].problems = text;
    }
    if (listView_) listView_->SetProblemsCell(row, text);
}

void ScanDriver::SetStatus(int row, const std::string& text) {
    {
        std::lock_guard lock(rowsMutex_);
        if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
        rows_[static_cast<size_t>(row)].status = text;
    }
    if (listView_) listView_->SetStatusCell(row, text);
}

void ScanDriver::SetChecked(int row, bool checked) {
    {
        std::lock_guard lock(rowsMutex_);
        if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
        rows_[static_cast<size_t>(row)].checked = checked;
    }
    if (listView_) listView_->SetRowChecked(row, checked);
}

std::string ScanDriver::ProblemsText(int row) const {
    std::lock_guard lock(rowsMutex_);
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return {};
    return rows_[static_cast<size_t>(row)].problems;
}

void ScanDriver::RunSection(ScanContext& context, int sectionId) {
    int row = RowOf(sectionId);
    if (listView_) listView_->EnsureVisible(row);
    SetProblems(row, "0");
    SetStatus(row, std::string(kStatusScanning));
    context.PumpMessages();
    for (Scanner scanner : scanners_[static_cast<size_t>(sectionId)]) {
        if (!scanner) continue;
        try {
            scanner(context);
        } catch (const std::exception&) {
            // What a scanner raised (no memory left, a text too long to keep) ends that
            // scanner alone; the sections after it still run.
            context.ShowMessage(std::string(kInternalErrorText));
        }
    }
    SetStatus(row, std::string(kStatusFinished));
    SetChecked(row, ProblemsText(row) != "0");
}

void ScanDriver::ThreadMain() {
    ProblemSink& sink = externalSink_ ? *externalSink_ : static_cast<ProblemSink&>(directSink_);
    try {
        // The context (and its view of the files as they were) ends before the window
        // hears that the scan ended and may change files itself.
        ScanContext context(machine_, continueFlag_, sink, status_);
        context.SetNoticeHandler([this](const std::string& text) { AddNotice(text); });

        if (ticks_[kIntegrityId]) {
            // No scanner checks the registry's integrity; the row only shows it was visited.
            int row = RowOf(kIntegrityId);
            SetProblems(row, "0");
            SetStatus(row, std::string(kStatusScanning));
            std::this_thread::sleep_for(integrityDelay_);
            SetStatus(row, std::string(kStatusFinished));
            if (ProblemsText(row) != "0") SetChecked(row, true);
        }
        for (int id : SectionsInScanOrder()) {
            if (id == kIntegrityId) continue;
            if (continueFlag_.load() == 0) break;
            if (ticks_[static_cast<size_t>(id)]) RunSection(context, id);
        }
    } catch (const std::exception&) {
        // The scan could not even be set up (or a row not be written): it ends with what
        // it found, and says so.
        AddNotice(std::string(kInternalErrorText));
    }
    EndOfScan();
}

void ScanDriver::CountWork(const std::vector<int>& order, unsigned completeScanEstimate) {
    countedDrives_ = 0;
    workTotal_ = 0;
    if (progressBarShown_) {
        RegistryAccess registry(machine_);
        for (int id : order) {
            const CountingKey& key = kCountingKeys[static_cast<size_t>(id)];
            if (key.kind == CountKind::SubKeys) {
                workTotal_ += registry.CountSubKeys(key.root, key.path);
            } else if (key.kind == CountKind::Values) {
                workTotal_ += registry.CountValues(key.root, key.path, false);
            }
        }
        if (ticks_[kCompleteScanId]) workTotal_ += completeScanEstimate;
        if (ticks_[kShortcutsId]) {
            FileSystemAccess files(machine_);
            for (const std::string& root : files.DriveRoots(26)) {
                if (files.GetDriveType(root) != DriveType::CdRom) ++countedDrives_;
            }
        }
    }
    perDriveShare_ = ticks_[kShortcutsId] ? workTotal_ / 10 : 0;
    status_.SetRange(static_cast<long>(countedDrives_) * perDriveShare_ + workTotal_);
}

void ScanDriver::AddNotice(const std::string& text) {
    {
        std::lock_guard lock(noticesMutex_);
        for (Notice& notice : notices_) {
            if (notice.text == text) {
                ++notice.count;
                return;
            }
        }
        notices_.push_back(Notice{text, 1});
    }
    // A fault met on key after key would otherwise raise a message box for each.
    if (window_) window_->ScanFault(text);
}

std::vector<ScanDriver::Notice> ScanDriver::Notices() const {
    std::lock_guard lock(noticesMutex_);
    return notices_;
}

void ScanDriver::EndOfScan() {
    status_.SetPosition(status_.Upper());
    bool completed = continueFlag_.load() != 0;
    aborted_.store(!completed);
    int total = Total();
    // The scan's own writes come first: once the window hears that the scan ended, it
    // may write the registry itself.
    RegistryAccess registry(machine_);
    std::tm now = clock_ ? clock_() : LocalNow();
    registry.WriteSetting(kLastScanSetting, FormatLastScan(now));
    registry.WriteSetting(kItemsFoundSetting, std::to_string(total));
    if (completed) {
        status_.SetStatusLine(std::string(kScanCompleteStatus));
        if (window_) window_->ScanMessage(std::string(kScanCompletedMessage));
    } else {
        status_.SetStatusLine(std::string(kScanAbortedText));
        if (window_) window_->ScanMessage(std::string(kScanAbortedText));
    }
    // The message above took every finding still queued for the window.
    if (log_) log_->EndLog();
    if (window_) window_->ShowResultsView(MakeResultsItems(Rows()), total);
    running_.store(false);
}

}  // namespace hivewise
