// The whole scan as the user runs it, each aim as a ratio: hivewise-cli started as a process
// on generated prefixes shaped like an installed machine (see ScanShapeFor), timed from
// start to exit, best of several runs.
//
//   scan_aims_bench [--rested SECONDS] CLI [VALUES...]   (default 100000 300000 1000000)
//   scan_aims_bench --write DIR VALUES   (only writes such a prefix, e.g. for a profile)
//
// Run after run, a process gets back the memory the one before it freed a moment ago.
// A user starts the program after a pause, and on a virtual machine that hands free
// memory back to its host, fresh memory then costs several times more. --rested waits
// that many seconds before every run, and leaves out the sections alone.
//
// Per size it prints the time of `wc -l system.reg`, of the end-to-end load (a `reg query`
// of one value), of the whole scan, of the complete registry scan and of each section
// alone, the whole scan's peak memory, and the four ratios beside their aims.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "generated_prefix.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 3;
// The two short runs vary most on a busy machine; their ratio is the finest aim.
constexpr int kShortRuns = 9;
constexpr int kSections = 16;
constexpr int kCompleteScanSection = 13;

// Seconds to wait before each run (--rested); 0 runs them back to back.
unsigned restSeconds = 0;

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system: steadier than wall time on a busy machine
    long peakKiB = 0;
    bool ok = false;
};

// Runs `argv` with its output thrown away; wall time and peak resident memory.
Run RunOnce(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // What this process has buffered must not be written a second time by the child.
    std::fflush(nullptr);
    if (restSeconds) sleep(restSeconds);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    Run run;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    auto secondsOf = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    run.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    run.ok = WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
    return run;
}

Run Best(const std::vector<std::string>& argv, int runs = kRuns) {
    Run best;
    for (int i = 0; i < runs; ++i) {
        Run run = RunOnce(argv);
        if (!run.ok) {
            std::fprintf(stderr, "scan_aims_bench: failed: %s ...\n", argv[0].c_str());
            std::exit(1);
        }
        double cpu = best.ok ? std::min(best.cpuSeconds, run.cpuSeconds) : run.cpuSeconds;
        if (!best.ok || run.seconds < best.seconds) best = run;
        best.cpuSeconds = cpu;
    }
    return best;
}

void Ratio(const char* what, double value, double aim, double cpuValue = 0) {
    std::printf("  %-44s %6.2fx  (aim %.0fx: %s)", what, value, aim,
                value <= aim ? "holds" : "MISSED");
    if (cpuValue > 0) std::printf("  in processor time %.2fx", cpuValue);
    std::printf("\n");
}

void Measure(const std::string& cli, size_t values) {
    const fs::path dir = fs::temp_directory_path() / ("hivewise-aims-" + std::to_string(getpid()) +
                                                      "-" + std::to_string(values));
    const hivewise::bench::ScanPrefixShape shape = hivewise::bench::ScanShapeFor(values);
    std::string error;
    if (!hivewise::bench::WriteScanShapedPrefix(dir, shape, &error)) {
        std::fprintf(stderr, "scan_aims_bench: %s\n", error.c_str());
        std::exit(1);
    }
    const std::string prefix = dir.string();
    const std::string reg = (dir / "system.reg").string();
    const double regMiB = static_cast<double>(fs::file_size(reg)) / (1 << 20);
    std::printf("%zu values (system.reg %.1f MiB, %zu files, %zu path values, %zu distinct)\n",
                values, regMiB, shape.files, shape.pathValues, shape.distinctPaths);

    const int shortRuns = restSeconds ? kRuns : kShortRuns;
    Run wc = Best({"/usr/bin/wc", "-l", reg}, shortRuns);
    Run load = Best({cli, "--prefix", prefix, "reg", "query",
                     "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", "/ve"},
                    shortRuns);
    std::vector<std::string> scan = {cli, "--prefix", prefix, "scan", "--json", "--sections"};
    std::string all;
    for (int s = 0; s < kSections; ++s)
        all += (s ? "," : "") + std::to_string(s);
    auto withSections = [&](const std::string& list) {
        auto argv = scan;
        argv.push_back(list);
        return argv;
    };
    Run whole = Best(withSections(all));
    Run complete = Best(withSections(std::to_string(kCompleteScanSection)));
    double slowest = 0;
    int slowestId = 0;
    std::printf("  %-24s %8.3f s\n  %-24s %8.3f s\n  %-24s %8.3f s  %.0f MiB\n", "wc -l",
                wc.seconds, "end-to-end load", load.seconds, "all sections", whole.seconds,
                static_cast<double>(whole.peakKiB) / 1024);
    if (!restSeconds) std::printf("  sections alone:");
    for (int s = 0; s < kSections && !restSeconds; ++s) {
        Run one = s == kCompleteScanSection ? complete : Best(withSections(std::to_string(s)));
        std::printf(" %d:%.2f", s, one.seconds);
        if (one.seconds > slowest) {
            slowest = one.seconds;
            slowestId = s;
        }
    }
    if (!restSeconds) std::printf(" s\n");
    Ratio("all sections / end-to-end load", whole.seconds / load.seconds, 8,
          whole.cpuSeconds / load.cpuSeconds);
    Ratio("complete registry scan / end-to-end load", complete.seconds / load.seconds, 5,
          complete.cpuSeconds / load.cpuSeconds);
    Ratio("end-to-end load / wc -l", load.seconds / wc.seconds, 6,
          wc.cpuSeconds > 0 ? load.cpuSeconds / wc.cpuSeconds : 0);
    Ratio("whole scan's memory / system.reg", static_cast<double>(whole.peakKiB) / 1024 / regMiB,
          3);
    if (!restSeconds) {
        std::printf("  (slowest section alone: %d, %.2fx the load)\n", slowestId,
                    slowest / load.seconds);
    }
    std::fflush(stdout);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--rested") {
        restSeconds = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
        argv += 2;
        argc -= 2;
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: scan_aims_bench [--rested SECONDS] HIVEWISE_CLI [VALUES...]\n"
                     "       scan_aims_bench --write DIR VALUES\n");
        return 2;
    }
    if (std::string(argv[1]) == "--write" && argc == 4) {
        std::string error;
        auto shape = hivewise::bench::ScanShapeFor(std::strtoul(argv[3], nullptr, 10));
        if (hivewise::bench::WriteScanShapedPrefix(argv[2], shape, &error)) return 0;
        std::fprintf(stderr, "scan_aims_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string cli = fs::absolute(argv[1]).string();
    std::vector<size_t> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {100000, 300000, 1000000};
    if (restSeconds) {
        std::printf("best of %d runs each, every run after %u s of rest\n", kRuns, restSeconds);
    } else {
        std::printf("best of %d runs each (wc -l and the load: best of %d)\n", kRuns, kShortRuns);
    }
    for (size_t values : sizes)
        Measure(cli, values);
    return 0;
}
