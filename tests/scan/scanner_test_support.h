#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/host_services.h"
#include "scan/scan_context.h"
#include "scan/user_prompts.h"

// Runs one scanner over a loaded machine and keeps what it did: its findings, progress
// steps, message pumps, last status line and message boxes.
namespace hivewise::testing {
// Apart from the class scanners' harness: both are linked into one test program.
inline namespace registry_walk_support {

constexpr const char* kMissingFileText = "The file (%s) does not exist at the specified location";

struct ScanRun {
    std::vector<Problem> found;
    std::vector<std::string> messages;
    long steps = 0;
    int pumps = 0;
    std::string statusLine;
};

// What a scanner may be handed besides the machine: a hook on every finding (which may
// clear the continue flag, as "Abort Scan" pressed meanwhile would) and the flag's start.
struct ScanOptions {
    int initialFlag = 1;
    bool abortOnFinding = false;
    size_t abortAfter = 1;  // findings taken before the flag is cleared
    std::function<void(const Problem&)> onFinding = nullptr;
};

class RecordingSink : public ProblemSink {
  public:
    void ProblemFound(std::unique_ptr<Problem> problem) override {
        found.push_back(*problem);
        if (options && options->onFinding) options->onFinding(*problem);
        if (options && options->abortOnFinding && found.size() >= options->abortAfter) {
            flag->store(0);
        }
    }
    std::vector<Problem> found;
    const ScanOptions* options = nullptr;
    std::atomic<int>* flag = nullptr;
};

class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    std::vector<std::string> messages;
};

class PumpCountingHost : public NullHostServices {
  public:
    void PumpEvents(int) override { ++pumps; }
    int pumps = 0;
};

inline ScanRun RunScan(Machine& machine, Scanner scanner, const ScanOptions& options = {}) {
    PumpCountingHost host;
    machine.SetHost(&host);
    std::atomic<int> flag{options.initialFlag};
    RecordingSink sink;
    sink.options = &options;
    sink.flag = &flag;
    RecordingPrompts prompts;
    ScanStatus status;
    status.SetRange(1'000'000'000);
    ScanContext context(machine, flag, sink, status);
    context.SetPrompts(&prompts);
    scanner(context);
    machine.SetHost(nullptr);
    return {std::move(sink.found), std::move(prompts.messages), status.Position(), host.pumps,
            status.StatusLine()};
}

}  // namespace registry_walk_support
}  // namespace hivewise::testing
