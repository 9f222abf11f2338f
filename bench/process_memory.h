#pragma once

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

// The process's own memory as the system counts it, for benches that report what a step
// takes beside what came before it.
namespace hivewise::bench {

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), or -1.
inline long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

// Starts the peak ("VmHWM:") afresh from what is in use now.
inline void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace hivewise::bench
