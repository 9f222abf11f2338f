// `scan`: runs the scan driver on the worker thread with the window's settings and log,
// then prints the results as text or JSON.
#include "cli/scan_command.h"

#include <signal.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <ostream>

#include "app/settings.h"
#include "cli/exit_status.h"
#include "cli/json_result.h"
#include "cli/terminal_progress.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/sample_machine.h"
#include "platform/machine/text.h"
#include "report/output_text.h"
#include "report/problem_details.h"
#include "report/scan_log.h"
#include "scan/exclusion_list.h"
#include "scan/ignore_list_file.h"
#include "scan/result_store.h"
#include "scan/scan_driver.h"
#include "scan/scan_section.h"

namespace hivewise::cli {

namespace {

// Ctrl-C clears the running scan's continue flag, as "Abort Scan" does; the handler
// touches nothing else.
std::atomic<std::atomic<int>*> g_continueFlag{nullptr};
volatile sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
    if (std::atomic<int>* flag = g_continueFlag.load()) flag->store(0);
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<int>& flag) {
    g_interrupted = 0;
    g_continueFlag.store(&flag);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
}

InterruptGuard::~InterruptGuard() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    g_continueFlag.store(nullptr);
}

bool InterruptGuard::Interrupted() {
    return g_interrupted != 0;
}

bool ParseSections(const std::string& list, SectionTicks* ticks, std::string* bad) {
    ticks->fill(false);
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string word =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool digits = !word.empty() && word.size() <= 2 &&
                      word.find_first_not_of("0123456789") == std::string::npos;
        int id = digits ? std::stoi(word) : -1;
        if (id < 0 || id >= kSectionCount) {
            *bad = word;
            return false;
        }
        (*ticks)[static_cast<size_t>(id)] = true;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

namespace {

// The section list of the window as a progress line: the share of the ticked sections
// finished, and the name of the one being scanned. The scan thread calls it.
class ProgressListView : public ScanListView {
  public:
    explicit ProgressListView(TerminalProgress& progress) : progress_(progress) {}
    void ClearRows() override { names_.clear(); }
    void InsertRow(int, const std::string& sectionName) override {
        names_.push_back(AnsiToUtf8(sectionName));
    }
    void SetStatusCell(int row, const std::string& text) override {
        if (row < 0 || static_cast<size_t>(row) >= names_.size()) return;
        if (text == "Finished") ++finished_;
        auto total = static_cast<unsigned>(names_.size());
        progress_.Show(finished_, total, names_[static_cast<size_t>(row)]);
    }
    void EnsureVisible(int) override {}
    void SetProblemsCell(int, const std::string&) override {}
    void SetRowData(int, int) override {}
    void SetRowChecked(int, bool) override {}
    void SetTotal(int) override {}

  private:
    TerminalProgress& progress_;
    std::vector<std::string> names_;
    unsigned finished_ = 0;
};

void PrintText(std::ostream& out, const ScanDriver& driver, const ResultStore& results) {
    const auto& problems = results.Problems();
    for (const SectionRow& row : driver.Rows()) {
        if (row.problems.empty() || row.problems == "0") continue;
        const ScanSection* section = FindSection(row.sectionId);
        out << TerminalSafe(AnsiToUtf8(row.name)) << " : " << row.problems << " Problem(s)\n";
        if (section) out << "Description : " << section->description << '\n';
        for (const auto& problem : problems) {
            if (problem->sectionId != row.sectionId) continue;
            // Key names and data come from the prefix: no escape sequence reaches the terminal.
            out << '\n' << TerminalSafe(AnsiToUtf8(PlainTextRow(*problem))) << '\n';
        }
        out << '\n';
    }
    out << (driver.Aborted() ? kScanAbortedText : kScanCompletedMessage)
        << ". Problems Found : " << results.Total() << '\n';
}

void PrintJson(std::ostream& out, const ScanDriver& driver, const ResultStore& results) {
    out << "{\"aborted\": " << (driver.Aborted() ? "true" : "false")
        << ", \"total\": " << results.Total() << ", \"sections\": [";
    bool first = true;
    for (const SectionRow& row : driver.Rows()) {
        out << (first ? "" : ", ") << "{\"id\": " << row.sectionId
            << ", \"name\": " << JsonString(row.name)
            << ", \"problems\": " << results.Count(row.sectionId) << '}';
        first = false;
    }
    out << "], \"findings\": [";
    // Findings go out in large pieces, each built without a string per field.
    constexpr size_t kPiece = size_t{1} << 16;
    std::string piece;
    piece.reserve(kPiece + 4096);
    std::string description;
    std::string descriptionJson = JsonString(description);
    first = true;
    for (const auto& p : results.Problems()) {
        piece += first ? "\n  " : ",\n  ";
        piece += "{\"sectionId\": ";
        piece += std::to_string(p->sectionId);
        piece += ", \"itemText\": ";
        const size_t itemAt = piece.size();
        AppendJsonString(piece, p->ItemText());
        const size_t itemLength = piece.size() - itemAt;
        piece += ", \"location\": ";
        AppendJsonString(piece, p->Location());
        piece += ", \"valueName\": ";
        AppendJsonString(piece, ShownValueName(*p));
        // Most findings name one text as item, data and target: it is escaped once.
        piece += ", \"valueData\": ";
        const size_t dataAt = piece.size();
        if (p->ValueData() == p->ItemText()) {
            piece.append(piece, itemAt, itemLength);
        } else {
            AppendJsonString(piece, p->ValueData());
        }
        const size_t dataLength = piece.size() - dataAt;
        piece += ", \"target\": ";
        if (MissingTarget(*p) == p->ValueData()) {
            piece.append(piece, dataAt, dataLength);
        } else {
            AppendJsonString(piece, MissingTarget(*p));
        }
        piece += ", \"description\": ";
        // A section's findings mostly share one description: it is escaped once.
        if (p->Description() != description) {
            description.assign(p->Description());
            descriptionJson.clear();
            AppendJsonString(descriptionJson, description);
        }
        piece += descriptionJson;
        piece += ", \"isChecked\": ";
        piece += p->isChecked ? "true" : "false";
        piece += ", \"sequence\": ";
        piece += std::to_string(p->sequence);
        piece += '}';
        first = false;
        if (piece.size() >= kPiece) {
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            piece.clear();
        }
    }
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    out << (first ? "]}\n" : "\n]}\n");
}

}  // namespace

void ScanMachine(Machine& machine, const std::optional<SectionTicks>& chosen, ScanDriver& driver,
                 bool keepLog, std::ostream* progressTo) {
    Settings settings(machine);
    settings.FirstRun();
    std::array<bool, kSectionCount> ticks{};
    if (chosen) {
        ticks = *chosen;
    } else {
        for (const ScanSection& section : ScanSections())
            ticks[static_cast<size_t>(section.id)] = settings.Flag(section.sectionName);
    }

    IgnoreList ignoreList;
    LoadIgnoreList(machine, &ignoreList);
    // The command line shows no progress bar (its progress line counts sections): the
    // bar's range, with the complete scan's estimate, which would walk both Software
    // trees and decode every value once more, is neither made nor counted.
    driver.SetProgressBarShown(false);

    ScanLog log(machine, MachineOsName(machine));
    if (keepLog) driver.SetLog(&log);
    driver.SetExclusionTest(
        [&ignoreList](const std::string& text) { return IsExcluded(text, ignoreList); });
    const bool showProgress = progressTo != nullptr;
    TerminalProgress progress(showProgress ? *progressTo : std::cerr, showProgress);
    ProgressListView progressView(progress);
    if (showProgress) driver.SetListView(&progressView);
    InterruptGuard guard(driver.ContinueFlag());
    driver.Reset();
    driver.Start(ticks, /*completeScanEstimate=*/0);
    if (g_interrupted) driver.Abort();
    driver.Join();
    driver.SetLog(nullptr);
    if (showProgress) driver.SetListView(nullptr);
}

int RunScan(CliContext& ctx, const ScanOptions& options) {
    // A scan writes only its log and settings into the machine, and while Wine runs it
    // still reads everything, but writes nothing.
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, {}, WhileWineRuns::ReadOnly, &wineRunning);
    if (!machine) return kExitFailed;

    auto results = std::make_unique<ResultStore>();
    auto driver = std::make_unique<ScanDriver>(*machine, *results);
    // No row shows "Registry Integrity" here, so nothing waits for it.
    driver->SetIntegrityDelay(std::chrono::milliseconds(0));
    ScanMachine(*machine, options.sections, *driver, /*keepLog=*/!wineRunning,
                TerminalProgress::Wanted(options.json) ? &ctx.err : nullptr);

    // The settings are saved first, so that the findings, once the status is known, go
    // straight out rather than being held whole in memory.
    Machine::SaveResult saved;
    if (!wineRunning) saved = machine->Flush();
    if (wineRunning || saved.ok) SettleHeldOutput(ctx.out);
    if (options.json) {
        PrintJson(ctx.out, *driver, *results);
    } else {
        PrintText(ctx.out, *driver, *results);
    }
    ctx.out.flush();

    int status = kExitDone;
    // A fault that ended part of the scan: its findings are what the rest found.
    for (const ScanDriver::Notice& notice : driver->Notices()) {
        PrintError(ctx.err, notice.count > 1
                                ? notice.text + " (" + std::to_string(notice.count) + " times)"
                                : notice.text);
        status = kExitPartial;
    }
    if (wineRunning) {
        PrintError(ctx.err, "The scan's settings and log were not saved. " +
                                WineRunningMessage(machine->PrefixDir()));
    } else if (!saved.ok) {
        PrintError(ctx.err, "The scan's settings could not be saved: " +
                                (saved.error.empty() ? std::string("unknown error") : saved.error));
        status = kExitFailed;
    }
    // The driver refers to the findings and the machine: it goes first.
    LeaveToExit(ctx, std::move(driver));
    LeaveToExit(ctx, std::move(results));
    return status;
}

}  // namespace hivewise::cli
