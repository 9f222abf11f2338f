// Speed of the five file-list scanners on a generated machine: N entries spread evenly
// over App Paths, Help, SharedDLLs, Fonts and Uninstall, every other one pointing at a
// missing file in a folder of 50 000 files. Beside it, a plain loop that stat()s the
// host path of each entry's file, the least any scan of the same references can do.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/machine.h"
#include "scan/scan_context.h"
#include "scan/scanners/file_list_scanners.h"
#include "scan_bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace hivewise;

constexpr int kFolderFiles = 50000;
constexpr int kSections = 5;

// Everything lives in C:\windows\Fonts, so that bare font names resolve there too.
std::string FileName(long entry) {
    char buf[32];
    // Even entries name one of the folder's files, odd ones a file that is not there.
    if (entry % 2 == 0) {
        std::snprintf(buf, sizeof buf, "f%ld.dat", (entry / 2) % kFolderFiles);
    } else {
        std::snprintf(buf, sizeof buf, "g%ld.dat", entry);
    }
    return buf;
}

// The five scanners over the machine, as the scan driver runs them; the findings count.
long ScanAll(Machine& machine, long entries) {
    return bench::CountFindings(machine, entries, [](ScanContext& context) {
        for (Scanner scanner :
             {ScanAppPaths, ScanHelpFiles, ScanSharedDlls, ScanFonts, ScanUninstallEntries}) {
            scanner(context);
        }
    });
}

class BenchRoot {
  public:
    BenchRoot() {
        std::string pattern = (fs::temp_directory_path() / "hivewise-scan-bench-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        fs::path fonts = root_ / "drive_c" / "windows" / "Fonts";
        fs::create_directories(fonts);
        fs::create_directories(root_ / "drive_c" / "windows" / "system32");
        for (int k = 0; k < kFolderFiles; ++k) {
            std::ofstream(fonts / ("f" + std::to_string(k) + ".dat"));
        }
    }
    ~BenchRoot() {
        machines_.clear();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // The machine of `entries` entries, generated and loaded on first use.
    Machine& MachineOf(long entries) {
        auto& slot = machines_[entries];
        if (!slot) {
            slot = Generate(entries);
            // One untimed pass reads the folder listings, as the baseline's first pass
            // fills the host's name cache.
            ScanAll(*slot, entries);
        }
        return *slot;
    }

    fs::path HostPathOf(long entry) const {
        return root_ / "drive_c" / "windows" / "Fonts" / FileName(entry);
    }

  private:
    std::unique_ptr<Machine> Generate(long entries) {
        fs::path prefix = root_ / ("prefix-" + std::to_string(entries));
        fs::create_directories(prefix / "dosdevices");
        fs::create_directory_symlink(root_ / "drive_c", prefix / "dosdevices" / "c:");
        const std::string folder = "C:\\windows\\Fonts";
        const long perSection = entries / kSections;
        std::string text =
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
        auto key = [&](const std::string& path) {
            text += "\n[" + bench::Escaped(path) + "] 1700000000\n";
        };
        auto value = [&](const std::string& name, const std::string& data) {
            text += (name.empty() ? "@" : "\"" + bench::Escaped(name) + "\"") + "=\"" +
                    bench::Escaped(data) + "\"\n";
        };
        long entry = 0;
        for (long j = 0; j < perSection; ++j, ++entry) {
            key("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\app" + std::to_string(j) +
                ".exe");
            value("", folder + "\\" + FileName(entry));
        }
        key("Software\\Microsoft\\Windows\\Help");
        for (long j = 0; j < perSection; ++j, ++entry)
            value(FileName(entry), folder);
        key("Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
        for (long j = 0; j < perSection; ++j, ++entry)
            text += "\"" + bench::Escaped(folder + "\\" + FileName(entry)) + "\"=dword:00000001\n";
        key("Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
        for (long j = 0; j < perSection; ++j, ++entry)
            value("Font " + std::to_string(j) + " (TrueType)", FileName(entry));
        for (long j = 0; j < perSection; ++j, ++entry) {
            key("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Program " +
                std::to_string(j));
            value("DisplayName", "Program " + std::to_string(j));
            value("UninstallString", "\"" + folder + "\\" + FileName(entry) + "\" /S");
        }
        std::ofstream(prefix / "system.reg", std::ios::binary) << text;
        std::ofstream(prefix / "user.reg", std::ios::binary)
            << "WINE REGISTRY Version 2\n;; All keys relative to "
               "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
        auto loaded = Machine::Load(prefix, {.lockPrefix = false, .readOnly = true});
        if (!loaded.machine) {
            std::fprintf(stderr, "scan_bench: %s\n", loaded.error.c_str());
            std::exit(1);
        }
        return std::move(loaded.machine);
    }

    fs::path root_;
    std::map<long, std::unique_ptr<Machine>> machines_;
};

BenchRoot& Root() {
    static BenchRoot root;
    return root;
}

void BM_FileListScanners(benchmark::State& state) {
    const long entries = state.range(0);
    Machine& machine = Root().MachineOf(entries);
    long found = 0;
    for (auto _ : state) {
        found = ScanAll(machine, entries);
    }
    if (found != entries / 2) state.SkipWithError("unexpected number of findings");
    state.counters["findings"] = static_cast<double>(found);
    state.SetItemsProcessed(state.iterations() * entries);
}

// One scanner alone, to see which section the time goes to.
void BM_OneScanner(benchmark::State& state) {
    static constexpr Scanner kScanners[] = {ScanAppPaths, ScanHelpFiles, ScanSharedDlls, ScanFonts,
                                            ScanUninstallEntries};
    Scanner scanner = kScanners[state.range(0)];
    const long entries = state.range(1);
    Machine& machine = Root().MachineOf(entries);
    for (auto _ : state) {
        bench::CountFindings(machine, 0, scanner);
    }
    state.SetItemsProcessed(state.iterations() * entries / kSections);
}

void BM_StatBaseline(benchmark::State& state) {
    const long entries = state.range(0);
    std::vector<std::string> paths;
    paths.reserve(entries);
    for (long i = 0; i < entries; ++i)
        paths.push_back(Root().HostPathOf(i).string());
    long missing = 0;
    for (auto _ : state) {
        missing = 0;
        struct stat st {};
        for (const std::string& path : paths) {
            if (::stat(path.c_str(), &st) != 0) ++missing;
        }
        benchmark::DoNotOptimize(missing);
    }
    state.counters["missing"] = static_cast<double>(missing);
    state.SetItemsProcessed(state.iterations() * entries);
}

BENCHMARK(BM_FileListScanners)->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneScanner)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {100000}})
    ->ArgNames({"section", "entries"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatBaseline)->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;  // the generated machines go with the static root
}
