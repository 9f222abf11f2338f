// Speed of the complete registry scan (the walks of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER) on a generated machine of N values, beside the time to load that
// machine's registry. One value in five holds a drive path, half of those to a missing
// file; the rest are numbers, bytes, plain texts and addresses. A second machine holds no
// drive path at all: the cost of the walk alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "platform/machine/machine.h"
#include "scan/scan_context.h"
#include "scan/scanners/registry_scanner.h"
#include "scan_bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace hivewise;

constexpr int kValuesPerKey = 10;
constexpr int kKeysPerProduct = 10;
constexpr int kProductsPerVendor = 100;
constexpr int kVendorFolders = 100;
constexpr int kFilesPerFolder = 50;
// Vendors below this number are written to the machine's hive, the rest to the user's.
constexpr double kMachineShare = 0.7;

// The two walks as the scan driver runs them; the number of findings.
long CompleteScan(Machine& machine, long values) {
    return bench::CountFindings(machine, values, [](ScanContext& context) {
        ScanMachineRegistry(context);
        ScanUserRegistry(context);
    });
}

// One prefix per size, with its program folders, written once and loaded per run.
class GeneratedPrefixes {
  public:
    GeneratedPrefixes() {
        std::string pattern =
            (fs::temp_directory_path() / "hivewise-complete-bench-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        for (int v = 0; v < kVendorFolders; ++v) {
            fs::path folder = root_ / "drive_c" / "Program Files" / ("Vendor" + std::to_string(v));
            fs::create_directories(folder);
            for (int f = 0; f < kFilesPerFolder; ++f)
                std::ofstream(folder / ("file" + std::to_string(f) + ".exe")) << "MZ";
        }
        fs::create_directories(root_ / "drive_c" / "windows" / "system32");
    }
    ~GeneratedPrefixes() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path PrefixOf(long values, bool drivePaths = true) {
        fs::path& slot = prefixes_[drivePaths ? values : -values];
        if (slot.empty()) slot = Generate(values, drivePaths);
        return slot;
    }

  private:
    // The data of value number n of a key of vendor v.
    static std::string Value(long n, int v, bool drivePaths, std::string* type) {
        const std::string folder = "C:\\Program Files\\Vendor" + std::to_string(v % kVendorFolders);
        const std::string file = "file" + std::to_string(n % kFilesPerFolder) + ".exe";
        *type = "";
        switch (n % 5) {
            case 0: {
                if (!drivePaths) return "Program " + std::to_string(n);
                // The drive paths, in the forms installers write them.
                const long k = n / 5;
                if (k % 2 == 0) {
                    switch (k / 2 % 3) {
                        case 0:
                            return folder + "\\" + file;
                        case 1:
                            return "\"" + folder + "\\" + file + "\" \"%1\"";
                        default:
                            return folder + "\\" + file + ",0";
                    }
                }
                return k / 2 % 2 ? folder + "\\gone" + std::to_string(n) + ".exe"
                                 : "C:\\Program Files\\Removed" + std::to_string(n % 1000) +
                                       "\\app.exe /s";
            }
            case 1:
                *type = "dword:";
                return "";
            case 2:
                return "Setting number " + std::to_string(n);
            case 3:
                *type = "hex:";
                return "";
            default:
                return "http://example.invalid/item/" + std::to_string(n);
        }
    }

    static void AppendKeys(std::string& text, long* n, long values, bool drivePaths, int vendorFrom,
                           int vendorTo) {
        for (int v = vendorFrom; v < vendorTo && *n < values; ++v) {
            for (int p = 0; p < kProductsPerVendor && *n < values; ++p) {
                for (int s = 0; s < kKeysPerProduct && *n < values; ++s) {
                    text += "\n[Software\\\\Vendor" + std::to_string(v) + "\\\\Product" +
                            std::to_string(p) + "\\\\Settings" + std::to_string(s) +
                            "] 1700000000\n";
                    for (int i = 0; i < kValuesPerKey && *n < values; ++i, ++*n) {
                        std::string type;
                        std::string data = Value(*n, v, drivePaths, &type);
                        text += "\"Value" + std::to_string(i) + "\"=";
                        if (type == "dword:") {
                            char hex[16];
                            std::snprintf(hex, sizeof hex, "%08lx", *n & 0xffffffffL);
                            text += type + hex + "\n";
                        } else if (type == "hex:") {
                            text += "hex:43,3a,5c,67,6f,6e,65,00\n";
                        } else {
                            text += "\"" + bench::Escaped(data) + "\"\n";
                        }
                    }
                }
            }
        }
    }

    fs::path Generate(long values, bool drivePaths) {
        fs::path prefix =
            root_ / ("prefix-" + std::to_string(values) + (drivePaths ? "" : "-plain"));
        fs::create_directories(prefix / "dosdevices");
        fs::create_directory_symlink(root_ / "drive_c", prefix / "dosdevices" / "c:");
        const long perVendor =
            static_cast<long>(kProductsPerVendor) * kKeysPerProduct * kValuesPerKey;
        const int vendors = static_cast<int>((values + perVendor - 1) / perVendor);
        const int machineVendors = static_cast<int>(vendors * kMachineShare + 0.5);
        long n = 0;
        std::string system =
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
        AppendKeys(system, &n, values, drivePaths, 0, machineVendors);
        std::string user =
            "WINE REGISTRY Version 2\n;; All keys relative to "
            "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
        AppendKeys(user, &n, values, drivePaths, machineVendors, vendors);
        std::ofstream(prefix / "system.reg", std::ios::binary) << system;
        std::ofstream(prefix / "user.reg", std::ios::binary) << user;
        return prefix;
    }

    fs::path root_;
    std::map<long, fs::path> prefixes_;
};

GeneratedPrefixes& Prefixes() {
    static GeneratedPrefixes prefixes;
    return prefixes;
}

std::unique_ptr<Machine> LoadOrExit(const fs::path& prefix) {
    auto loaded = Machine::Load(prefix, {.lockPrefix = false, .readOnly = true});
    if (!loaded.machine) {
        std::fprintf(stderr, "complete_scan_bench: %s\n", loaded.error.c_str());
        std::exit(1);
    }
    return std::move(loaded.machine);
}

void BM_LoadRegistry(benchmark::State& state) {
    const fs::path prefix = Prefixes().PrefixOf(state.range(0));
    for (auto _ : state) {
        auto machine = LoadOrExit(prefix);
        benchmark::DoNotOptimize(machine.get());
        // Freeing the tree is not part of loading it.
        state.PauseTiming();
        machine.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The first scan of a freshly loaded machine, as the user runs it (no folder listing read yet).
void BM_CompleteScan(benchmark::State& state) {
    const long values = state.range(0);
    const bool drivePaths = state.range(1) != 0;
    const fs::path prefix = Prefixes().PrefixOf(values, drivePaths);
    long found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto machine = LoadOrExit(prefix);
        state.ResumeTiming();
        found = CompleteScan(*machine, values);
        state.PauseTiming();
        machine.reset();
        state.ResumeTiming();
    }
    if (found != (drivePaths ? values / 10 : 0))
        state.SkipWithError("unexpected number of findings");
    state.counters["findings"] = static_cast<double>(found);
    state.SetItemsProcessed(state.iterations() * values);
}

BENCHMARK(BM_LoadRegistry)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CompleteScan)
    ->ArgsProduct({{100000, 1000000}, {1, 0}})
    ->ArgNames({"values", "drivePaths"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;  // the generated prefixes go with the static root
}
