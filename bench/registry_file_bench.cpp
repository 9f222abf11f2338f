// Loading and saving speed of the prefix's registry files: the real test prefix and a
// generated registry of one million values. Reports MB/s of registry text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/files/atomic_file.h"
#include "platform/machine/machine.h"
#include "platform/registry/hive_file.h"

namespace {

using namespace hivewise;

std::string TestPrefixFile(const char* name) {
    std::string content;
    ReadWholeFile(std::filesystem::path(HIVEWISE_TESTDATA_DIR) / "wine-prefix" / name, &content,
                  nullptr);
    return content;
}

// 100 000 keys of ten values each, in the forms the server writes.
const std::string& GeneratedRegistry() {
    static const std::string text = [] {
        std::string out =
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
        char buf[256];
        for (int k = 0; k < 100000; ++k) {
            std::snprintf(buf, sizeof buf,
                          "\n[Software\\\\Vendor%03d\\\\Product%d\\\\Component\\\\{%08X-1D2C-11D3-"
                          "B153-00C04F79FAA6}] 1796704676\n#time=1dd86cde597fae0\n",
                          k % 500, k / 500, k);
            out += buf;
            for (int v = 0; v < 10; ++v) {
                switch (v % 4) {
                    case 0:
                        std::snprintf(
                            buf, sizeof buf,
                            "\"Path%d\"=\"C:\\\\Program Files\\\\Vendor%03d\\\\lib%d.dll\"\n", v,
                            k % 500, v);
                        break;
                    case 1:
                        std::snprintf(buf, sizeof buf, "\"Count%d\"=dword:%08x\n", v, k);
                        break;
                    case 2:
                        std::snprintf(
                            buf, sizeof buf,
                            "\"Expand%d\"=str(2):\"%%SystemRoot%%\\\\system32\\\\x%d.dll\"\n", v,
                            k);
                        break;
                    default:
                        std::snprintf(
                            buf, sizeof buf,
                            "\"Blob%d\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,"
                            "11,12,13,14,15,16,17,\\\n  18,19,1a\n",
                            v);
                }
                out += buf;
            }
        }
        return out;
    }();
    return text;
}

void Parse(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto hive = ParseHive(text, nullptr);
        if (!hive) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(hive);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Write(benchmark::State& state, const std::string& text, bool regenerate) {
    auto hive = ParseHive(text, nullptr);
    if (!hive) return state.SkipWithError("parse failed");
    for (auto _ : state) {
        std::string out = WriteHive(*hive->base, hive->header, hive->trailer, !regenerate);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseTestPrefixSystemReg(benchmark::State& state) {
    static const std::string text = TestPrefixFile("system.reg");
    if (text.empty()) return state.SkipWithError("test data not found");
    Parse(state, text);
}
void BM_WriteTestPrefixUntouched(benchmark::State& state) {
    static const std::string text = TestPrefixFile("system.reg");
    if (text.empty()) return state.SkipWithError("test data not found");
    Write(state, text, false);
}
void BM_WriteTestPrefixEveryKeyChanged(benchmark::State& state) {
    static const std::string text = TestPrefixFile("system.reg");
    if (text.empty()) return state.SkipWithError("test data not found");
    Write(state, text, true);
}
void BM_ParseMillionValues(benchmark::State& state) {
    Parse(state, GeneratedRegistry());
}
void BM_WriteMillionValuesUntouched(benchmark::State& state) {
    Write(state, GeneratedRegistry(), false);
}
void BM_WriteMillionValuesEveryKeyChanged(benchmark::State& state) {
    Write(state, GeneratedRegistry(), true);
}

// The whole load of a prefix from disk, files read and facts derived.
void BM_LoadMachineMillionValues(benchmark::State& state) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "hivewise-bench-prefix";
    std::filesystem::create_directories(dir / "dosdevices");
    WriteFileAtomically(dir / "system.reg", GeneratedRegistry(), nullptr);
    for (auto _ : state) {
        auto result = Machine::Load(dir, {.lockPrefix = false});
        if (!result.machine) state.SkipWithError(result.error.c_str());
        benchmark::DoNotOptimize(result.machine);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GeneratedRegistry().size()));
    std::filesystem::remove_all(dir);
}

BENCHMARK(BM_ParseTestPrefixSystemReg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteTestPrefixUntouched)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteTestPrefixEveryKeyChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseMillionValues)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteMillionValuesUntouched)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteMillionValuesEveryKeyChanged)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadMachineMillionValues)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
