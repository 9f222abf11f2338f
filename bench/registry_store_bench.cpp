// The registry store against prefixes of 100k, 300k and 1M values: load time and peak
// memory (each load in a fresh process), a walk over every key and value through
// RegistryAccess, a save with nothing changed and a save with one value changed, beside
// the time it takes to merely read system.reg. Usage: registry_store_bench [VALUES...],
// or registry_store_bench --write DIR VALUES to leave one such prefix in DIR.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "generated_prefix.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"
#include "platform/registry/registry_store.h"

namespace {

using namespace hivewise;
using Clock = std::chrono::steady_clock;

// Processor time (user and system) of this process, in ms. On a machine shared with
// other work the wall clock says more about the neighbours than about the code.
double CpuMs() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Every key and value with its data, the way scanners read the registry.
size_t Walk(RegistryAccess& registry, RegHandle root, size_t* values) {
    size_t keys = 0;
    std::vector<RegHandle> stack{root};
    std::string name, data;
    while (!stack.empty()) {
        RegHandle key = stack.back();
        stack.pop_back();
        ++keys;
        uint32_t type = 0;
        for (uint32_t i = 0;
             registry.EnumValue(key, i, &name, 16383, &type, &data) != kErrorNoMoreItems; ++i)
            ++*values;
        for (uint32_t i = 0; registry.EnumKey(key, i, &name) != kErrorNoMoreItems; ++i) {
            RegHandle child;
            if (registry.OpenKey(key, name, kKeyAllAccess, &child) == kErrorSuccess)
                stack.push_back(child);
        }
        if (key != root) registry.CloseKey(key);
    }
    return keys;
}

// Every key and every value straight from the store (the values decoded on the way).
size_t WalkStore(const RegKey* top, size_t* values) {
    size_t keys = 0, bytes = 0;
    std::vector<const RegKey*> stack{top};
    while (!stack.empty()) {
        const RegKey* key = stack.back();
        stack.pop_back();
        ++keys;
        for (const RegValue& value : key->Values()) {
            bytes += value.data.size();
            ++*values;
        }
        for (const RegKey* child : key->SubKeys())
            stack.push_back(child);
    }
    return bytes ? keys : keys;
}

// Runs in a process of its own so that its peak memory is the load's alone.
int Child(const std::filesystem::path& dir, bool full) {
    double cpu = CpuMs();
    auto start = Clock::now();
    auto loaded = Machine::Load(dir, {.lockPrefix = false});
    double load = CpuMs() - cpu;
    double wall = MsSince(start);
    if (!loaded.machine) {
        std::fprintf(stderr, "%s\n", loaded.error.c_str());
        return 1;
    }
    std::printf("load %.1f %.1f\n", load, wall);
    if (!full) return 0;
    Machine& machine = *loaded.machine;
    RegistryAccess registry(machine);
    size_t values = 0;
    cpu = CpuMs();
    size_t keys = Walk(registry, kHkeyLocalMachine, &values);
    std::printf("walk %.1f %zu %zu\n", CpuMs() - cpu, keys, values);
    values = 0;
    cpu = CpuMs();
    size_t storeKeys = WalkStore(machine.LocalMachine(), &values);
    std::printf("storewalk %.1f %zu %zu\n", CpuMs() - cpu, storeKeys, values);
    cpu = CpuMs();
    bool unsaved = machine.HasUnsavedChanges();
    auto saved = machine.Flush();
    std::printf("untouched %.2f %d %d\n", CpuMs() - cpu, unsaved, saved.wroteAny);
    cpu = CpuMs();
    registry.WriteValue(kHkeyLocalMachine, "Software\\Bench\\Vendor000\\Product000000", "Name2",
                        "changed", kRegSz);
    unsaved = machine.HasUnsavedChanges();
    saved = machine.Flush();
    std::printf("onekey %.1f %d %d %s\n", CpuMs() - cpu, unsaved, saved.wroteAny,
                saved.error.c_str());
    return 0;
}

struct Figures {
    double load = 0, wall = 0, storeWalk = 0, walk = 0, untouched = 0, oneKey = 0;
    long peakKb = 0;
    bool ok = false;
};

Figures RunChild(const char* self, const std::filesystem::path& dir, bool full) {
    Figures f;
    int pipefd[2];
    if (::pipe(pipefd) != 0) return f;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::close(pipefd[0]);
        ::execl(self, self, full ? "--child-full" : "--child", dir.c_str(), nullptr);
        _exit(127);
    }
    ::close(pipefd[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    ::close(pipefd[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    f.peakKb = usage.ru_maxrss;
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::sscanf(out.c_str(), "load %lf %lf", &f.load, &f.wall);
    if (auto at = out.find("storewalk "); at != std::string::npos)
        std::sscanf(out.c_str() + at, "storewalk %lf", &f.storeWalk);
    if (auto at = out.find("\nwalk "); at != std::string::npos)
        std::sscanf(out.c_str() + at, "\nwalk %lf", &f.walk);
    if (auto at = out.find("untouched "); at != std::string::npos)
        std::sscanf(out.c_str() + at, "untouched %lf", &f.untouched);
    if (auto at = out.find("onekey "); at != std::string::npos)
        std::sscanf(out.c_str() + at, "onekey %lf", &f.oneKey);
    if (full) std::fprintf(stderr, "%s", out.c_str());
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--child-full") == 0) return Child(argv[2], true);
    // Leaves a generated prefix behind, for profiling a load or trying the command line.
    if (argc == 4 && std::strcmp(argv[1], "--write") == 0) {
        std::string error;
        bool ok = bench::WriteGeneratedPrefix(argv[2], std::strtoul(argv[3], nullptr, 10), &error);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
        return ok ? 0 : 1;
    }
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {100000, 300000, 1000000};
    std::printf("Processor time in ms (load also wall clock); peak memory of the load alone.\n");
    std::printf(
        "walk: every key and value through RegistryAccess, as scanners read (values decoded\n"
        "on the way, not kept); store walk: the same straight from the store, which keeps\n"
        "each key's values decoded.\n");
    std::printf("%9s %8s %7s %7s %9s %8s %6s %7s %11s %9s %8s\n", "values", "file MB", "read",
                "load", "load wall", "peak MB", "xfile", "walk", "store walk", "untouched",
                "one-key");
    for (size_t values : sizes) {
        std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("hivewise-bench-" + std::to_string(values));
        std::string error;
        std::filesystem::remove_all(dir);
        if (!bench::WriteGeneratedPrefix(dir, values, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        double fileMb = std::filesystem::file_size(dir / "system.reg") / 1e6;
        // Reading the file into fresh memory as the store reads it: the floor any load
        // stands on (best of three).
        double read = 1e9;
        for (int i = 0; i < 3; ++i) {
            RegistryStore store;
            double cpu = CpuMs();
            store.ReadText(dir / "system.reg", nullptr);
            read = std::min(read, CpuMs() - cpu);
        }
        // Load alone, best of three processes; then one process doing everything.
        Figures best;
        best.load = 1e9;
        for (int i = 0; i < 3; ++i) {
            Figures f = RunChild(argv[0], dir, false);
            if (!f.ok) return 1;
            if (f.load < best.load) best = f;
        }
        Figures full = RunChild(argv[0], dir, true);
        std::printf("%9zu %8.1f %7.1f %7.1f %9.1f %8.1f %6.2f %7.1f %11.1f %9.2f %8.1f\n", values,
                    fileMb, read, best.load, best.wall, best.peakKb / 1024.0,
                    best.peakKb / 1024.0 / fileMb, full.walk, full.storeWalk, full.untouched,
                    full.oneKey);
        std::filesystem::remove_all(dir);
    }
    return 0;
}
