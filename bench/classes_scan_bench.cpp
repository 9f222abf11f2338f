// Speed of the class-server, identifier, type-library and association scanners on a
// generated classes root: N classes with an in-process server, N identifiers naming them,
// N/4 type libraries and N extensions. Every other class server file, class, library
// file and identifier is missing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "platform/machine/machine.h"
#include "scan/scan_context.h"
#include "scan/scanners/association_scanner.h"
#include "scan/scanners/com_scanners.h"
#include "scan_bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace hivewise;

std::string Guid(long n, int kind) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-0000-0000-000000000000}", n, kind);
    return buf;
}

class BenchRoot {
  public:
    BenchRoot() {
        std::string pattern = (fs::temp_directory_path() / "hivewise-classes-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~BenchRoot() {
        machines_.clear();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    Machine& MachineOf(long n) {
        auto& slot = machines_[n];
        if (!slot) slot = Generate(n);
        return *slot;
    }

  private:
    std::unique_ptr<Machine> Generate(long n) {
        fs::path prefix = root_ / ("prefix-" + std::to_string(n));
        fs::path system32 = prefix / "drive_c" / "windows" / "system32";
        fs::create_directories(system32);
        fs::create_directories(prefix / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
        std::string text =
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
        auto key = [&](const std::string& path) {
            text += "\n[Software\\\\Classes\\\\" + path + "] 1700000000\n";
        };
        for (long i = 0; i < n; ++i) {
            std::string file = "s" + std::to_string(i) + ".dll";
            if (i % 2 == 0) std::ofstream(system32 / file).flush();
            key("CLSID\\\\" + Guid(i, 1) + "\\\\InprocServer32");
            text += "@=\"C:\\\\windows\\\\system32\\\\" + file + "\"\n";
            key("App.Class" + std::to_string(i) + "\\\\CLSID");
            text += "@=\"" + Guid(i % 2 == 0 ? i : i + n, 1) + "\"\n";
            key(".e" + std::to_string(i));
            text += "@=\"" + std::string(i % 2 == 0 ? "App.Class" : "Gone.Class") +
                    std::to_string(i) + "\"\n";
        }
        for (long i = 0; i < n / 4; ++i) {
            std::string file = "t" + std::to_string(i) + ".tlb";
            if (i % 2 == 0) std::ofstream(system32 / file).flush();
            key("TypeLib\\\\" + Guid(i, 2) + "\\\\1.0\\\\0\\\\win32");
            text += "@=\"C:\\\\windows\\\\system32\\\\" + file + "\"\n";
            key("TypeLib\\\\" + Guid(i, 2) + "\\\\1.0\\\\FLAGS");
            text += "@=\"0\"\n";
        }
        std::ofstream(prefix / "system.reg", std::ios::binary) << text;
        std::ofstream(prefix / "user.reg", std::ios::binary)
            << "WINE REGISTRY Version 2\n;; All keys relative to "
               "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
        auto loaded = Machine::Load(prefix, {.lockPrefix = false, .readOnly = true});
        if (!loaded.machine) {
            std::fprintf(stderr, "classes_scan_bench: %s\n", loaded.error.c_str());
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

// One scanner over the generated machine; the first run, untimed, reads the folders.
void BM_ClassesScanner(benchmark::State& state) {
    static constexpr Scanner kScanners[] = {ScanClassServers, ScanProgIds, ScanTypeLibraries,
                                            ScanFileAssociations};
    Scanner scanner = kScanners[state.range(0)];
    Machine& machine = Root().MachineOf(state.range(1));
    auto run = [&] { return bench::CountFindings(machine, 0, scanner); };
    run();
    long found = 0;
    for (auto _ : state) {
        found = run();
    }
    state.counters["findings"] = static_cast<double>(found);
}

BENCHMARK(BM_ClassesScanner)
    ->ArgsProduct({{0, 1, 2, 3}, {20000}})
    ->ArgNames({"scanner", "classes"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
