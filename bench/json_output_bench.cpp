// The JSON text of findings, as `scan --json` writes a complete scan's hundreds of
// thousands of them: paths and key paths with a backslash every few characters.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "report/output_text.h"

namespace {

void BM_FindingTexts(benchmark::State& state) {
    const std::vector<std::string> texts = {
        "C:\\Program Files\\Vendor0001\\gone000003.dll",
        "HKEY_LOCAL_MACHINE\\Software\\Bench\\Vendor000\\Product000001", "Path5",
        "The file (%s) does not exist at the specified location"};
    std::string json;
    json.reserve(size_t{1} << 20);
    for (auto _ : state) {
        json.clear();
        for (int finding = 0; finding < 1000; ++finding) {
            for (const std::string& text : texts)
                hivewise::AppendJsonString(json, text);
        }
        benchmark::DoNotOptimize(json.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_FindingTexts);

}  // namespace

BENCHMARK_MAIN();
