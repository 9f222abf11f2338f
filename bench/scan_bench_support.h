#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/machine/machine.h"
#include "scan/scan_context.h"

// What the scan benchmarks share: text escaped for a registry file, and scanners run
// over a machine as the scan driver runs them, counting their findings.
namespace hivewise::bench {

inline std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

class CountingSink : public ProblemSink {
  public:
    void ProblemFound(std::unique_ptr<Problem>) override { ++count; }
    long count = 0;
};

// Runs `body` with a fresh context whose progress range is `range`; the findings count.
template <typename Body>
long CountFindings(Machine& machine, long range, Body&& body) {
    std::atomic<int> flag{1};
    CountingSink sink;
    ScanStatus status;
    if (range > 0) status.SetRange(range);
    ScanContext context(machine, flag, sink, status);
    body(context);
    return sink.count;
}

}  // namespace hivewise::bench
