// Speed of the shortcut walk over a generated drive of 200 000 files (1 000 of them
// shortcuts, every other one to a missing program) beside find(1) over the same tree.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/folder_walk.h"
#include "platform/machine/machine.h"
#include "platform/machine/shell_link_writer.h"
#include "scan/scan_context.h"
#include "scan/scanners/shortcut_scanner.h"
#include "scan_bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace hivewise;

constexpr int kTop = 20;
constexpr int kMiddle = 10;
constexpr int kLeaf = 10;
constexpr int kFilesPerLeaf = 100;  // 20 * 10 * 10 folders of 100 files: 200 000 files
constexpr long kShortcuts = kTop * kMiddle * kLeaf / 2;

class GeneratedDrive {
  public:
    GeneratedDrive() {
        std::string pattern = (fs::temp_directory_path() / "hivewise-link-bench-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        fs::path driveC = root_ / "drive_c";
        fs::create_directories(driveC / "windows" / "system32");
        fs::create_directories(root_ / "dosdevices");
        fs::create_directory_symlink("../drive_c", root_ / "dosdevices" / "c:");
        std::ofstream(driveC / "windows" / "system32" / "present.exe") << "MZ";
        long leaf = 0;
        for (int t = 0; t < kTop; ++t) {
            for (int m = 0; m < kMiddle; ++m) {
                for (int l = 0; l < kLeaf; ++l, ++leaf) {
                    fs::path folder = driveC / ("Folder " + std::to_string(t)) /
                                      ("Sub " + std::to_string(m)) / ("Leaf " + std::to_string(l));
                    fs::create_directories(folder);
                    int first = 0;
                    if (leaf % 2 == 0) {
                        ShellLinkFields fields;
                        fields.targetPath = (leaf / 2) % 2 == 0
                                                ? "C:\\Gone\\app" + std::to_string(leaf) + ".exe"
                                                : "C:\\windows\\system32\\present.exe";
                        std::ofstream(folder / "Program.lnk", std::ios::binary)
                            << BuildShellLink(fields);
                        first = 1;
                    }
                    for (int f = first; f < kFilesPerLeaf; ++f) {
                        std::ofstream(folder / ("document " + std::to_string(f) + ".txt"));
                    }
                }
            }
        }
        std::ofstream(root_ / "system.reg")
            << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
               "#arch=win32\n";
        std::ofstream(root_ / "user.reg")
            << "WINE REGISTRY Version 2\n;; All keys relative to "
               "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
        auto loaded = Machine::Load(root_, {.lockPrefix = false, .readOnly = true});
        if (!loaded.machine) {
            std::fprintf(stderr, "shortcut_bench: %s\n", loaded.error.c_str());
            std::exit(1);
        }
        machine_ = std::move(loaded.machine);
    }
    ~GeneratedDrive() {
        machine_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    Machine& GetMachine() { return *machine_; }
    fs::path DriveC() const { return root_ / "drive_c"; }

  private:
    fs::path root_;
    std::unique_ptr<Machine> machine_;
};

GeneratedDrive& Drive() {
    static GeneratedDrive drive;
    return drive;
}

void BM_ShortcutWalk(benchmark::State& state) {
    Machine& machine = Drive().GetMachine();
    long found = 0;
    for (auto _ : state) {
        found = bench::CountFindings(machine, 0,
                                     [](ScanContext& context) { ScanShortcuts(context, "C:\\"); });
    }
    if (found != kShortcuts / 2) state.SkipWithError("unexpected number of findings");
    state.counters["findings"] = static_cast<double>(found);
}

// The platform's folder walk alone, full (0) and lean (1), visiting every entry and doing
// nothing with it.
void BM_FolderWalkOnly(benchmark::State& state) {
    long entries = 0;
    for (auto _ : state) {
        entries = 0;
        WalkFolder(
            Drive().DriveC(),
            [&entries](const WalkEntry&) {
                ++entries;
                return WalkAction::Continue;
            },
            static_cast<WalkDetail>(state.range(0)));
    }
    state.counters["entries"] = static_cast<double>(entries);
}

// find(1) over the same tree, following links as the walk does, its output discarded.
void BM_FindBaseline(benchmark::State& state) {
    const std::string command = "find -L '" + Drive().DriveC().string() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("find failed");
    }
}

BENCHMARK(BM_FindBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FolderWalkOnly)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_ShortcutWalk)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Keeps the real time per iteration of each run, beside the usual console output.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal.
    RatioReporter() : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations > 0) {
                seconds_[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Seconds(const std::string& name) const {
        auto it = seconds_.find(name);
        return it == seconds_.end() ? 0 : it->second;
    }

  private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double find = reporter.Seconds("BM_FindBaseline");
    double walk = reporter.Seconds("BM_ShortcutWalk");
    if (find > 0 && walk > 0) {
        double ratio = walk / find;
        std::printf("shortcut walk / find: %.2fx (aim 1.5x: %s)\n", ratio,
                    ratio <= 1.5 ? "holds" : "MISSED");
    }
    benchmark::Shutdown();
    return 0;
}
