// Time of a repair of every finding of a generated prefix (the complete registry scan's
// findings, which start unticked, ticked too), and of the restore of its whole backup,
// beside the time of the scan that found them (the registry's load included in each).
// Both should take at most kAimScans scans; a line per size says whether they do.
// Usage: repair_scale_bench [VALUES...] (default 100000 300000).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/backups/restore_backup_dialog.h"
#include "app/repair_problems_flow.h"
#include "app/user_prompts.h"
#include "cli/scan_command.h"
#include "generated_prefix.h"
#include "platform/machine/local_time.h"
#include "platform/machine/machine.h"
#include "platform/machine/sample_machine.h"
#include "platform/registry/process_heap.h"
#include "process_memory.h"
#include "scan/result_store.h"
#include "scan/scan_driver.h"

namespace {

namespace fs = std::filesystem;
using namespace hivewise;
using bench::ResetPeakMemory;
using bench::StatusKb;
using Clock = std::chrono::steady_clock;

// A repair of every finding, and the restore of its backup, each within this many scans.
constexpr double kAimScans = 3.0;

class YesPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override {
        if (std::getenv("HIVEWISE_BENCH_VERBOSE")) std::fprintf(stderr, "[%s]\n", text.c_str());
    }
    bool AskYesNo(const std::string&) override { return true; }
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::unique_ptr<Machine> LoadOrSay(const fs::path& prefix) {
    Machine::LoadResult loaded = Machine::Load(prefix);
    if (!loaded.machine) std::fprintf(stderr, "%s\n", loaded.error.c_str());
    return std::move(loaded.machine);
}

// Loads the machine and scans every section; the number of findings.
size_t Scan(const fs::path& prefix, ResultStore& results, std::unique_ptr<Machine>* kept) {
    auto machine = LoadOrSay(prefix);
    if (!machine) return 0;
    std::array<bool, kSectionCount> all{};
    all.fill(true);
    ScanDriver driver(*machine, results);
    cli::ScanMachine(*machine, all, driver);
    if (kept) *kept = std::move(machine);
    return results.Problems().size();
}

// `count` application paths to programs that are gone: each a key the repair exports into
// its backup on its own.
void AddAppPaths(const fs::path& systemReg, size_t count) {
    std::ofstream out(systemReg, std::ios::app | std::ios::binary);
    for (size_t i = 0; i < count; ++i) {
        out << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\gone" << i
            << ".exe] 1796704676\n#time=1dd86cde5970000\n@=\"C:\\\\Gone\\\\gone" << i
            << ".exe\"\n\"Path\"=\"C:\\\\Gone\"\n";
    }
}

bool Measure(size_t values, const fs::path& work) {
    fs::path prefix = work / ("prefix" + std::to_string(values));
    std::string error;
    if (!bench::WriteGeneratedPrefix(prefix, values, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    AddAppPaths(prefix / "system.reg", values / 10);
    // The best of three scans: the machine is shared.
    double scan = 0;
    size_t findings = 0;
    for (int i = 0; i < 3; ++i) {
        ResultStore results;
        auto start = Clock::now();
        findings = Scan(prefix, results, nullptr);
        double seconds = Since(start);
        if (i == 0 || seconds < scan) scan = seconds;
    }

    YesPrompts prompts;
    auto start = Clock::now();
    ResultStore results;
    std::unique_ptr<Machine> machine;
    Scan(prefix, results, &machine);
    if (!machine) return false;
    // As the command line does: the program folder holds the backups.
    if (!InstallProgram(*machine, RunningExecutable(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    double rescan = Since(start);
    const long before = StatusKb("VmRSS:");
    ResetPeakMemory();
    start = Clock::now();
    for (auto& problem : results.Problems())
        problem->isChecked = true;
    RepairOutcome outcome = RepairSelectedProblems(*machine, results, prompts, {});
    bool saved = machine->Flush().ok;
    double repair = Since(start);
    const long repairPeak = StatusKb("VmHWM:");
    machine.reset();
    if (outcome.archive.empty() || !saved) {
        std::fprintf(stderr, "the repair of %zu values wrote no backup: %s\n", values,
                     outcome.message.c_str());
        return false;
    }

    // The backup is the one archive below the home's program folder.
    double archiveMb = 0;
    std::error_code walkError;
    for (fs::recursive_directory_iterator it(work, walkError), end; it != end;
         it.increment(walkError)) {
        if (it->path().extension() == ".zip")
            archiveMb += static_cast<double>(it->file_size(walkError)) / 1048576.0;
    }
    const long beforeRestore = StatusKb("VmRSS:");
    ResetPeakMemory();
    start = Clock::now();
    machine = LoadOrSay(prefix);
    if (!machine) return false;
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    bool selected = dialog.SelectArchive(outcome.archive);
    dialog.SelectAll();
    dialog.Restore();
    size_t restored = static_cast<size_t>(dialog.LastRestore().restored);
    saved = machine->Flush().ok;
    double restore = Since(start);
    const long restorePeak = StatusKb("VmHWM:");
    machine.reset();

    ResultStore after;
    size_t findingsAfter = Scan(prefix, after, nullptr);
    std::printf(
        "%8zu values %7zu findings  scan %6.2f s  repair %7.2f s = %5.2f scans (%d removed)  "
        "backup %.1f MB  memory +%.0f MB  restore %7.2f s = %5.2f scans (%zu items%s, "
        "memory +%.0f MB with the load)  findings after restore %zu\n",
        values, findings, scan, repair + rescan - scan, (repair + rescan - scan) / scan,
        outcome.removed, archiveMb, static_cast<double>(repairPeak - before) / 1024.0, restore,
        restore / scan, restored, selected && saved ? "" : ", NOT SAVED",
        static_cast<double>(restorePeak - beforeRestore) / 1024.0, findingsAfter);
    auto aim = [](double scans) { return scans <= kAimScans ? "holds" : "MISSED"; };
    std::printf(
        "%8zu values  repair %5.2f scans (aim %.0f: %s)  restore %5.2f scans (aim %.0f: %s)\n",
        values, (repair + rescan - scan) / scan, kAimScans, aim((repair + rescan - scan) / scan),
        restore / scan, kAimScans, aim(restore / scan));
    std::fflush(stdout);
    std::error_code ec;
    fs::remove_all(prefix, ec);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // As both programs do first, so that the bench pays what a user's repair pays.
    PrepareProcessHeap();
    ReadTimeZoneOnce();
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {100000, 300000};
    std::string pattern = (fs::temp_directory_path() / "hivewise-repair-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    fs::path work = pattern;
    // The fix backups go below the program folder of the machine's home.
    ::setenv("HOME", work.c_str(), 1);
    bool ok = true;
    for (size_t values : sizes)
        ok = Measure(values, work) && ok;
    std::error_code ec;
    fs::remove_all(work, ec);
    return ok ? 0 : 1;
}
