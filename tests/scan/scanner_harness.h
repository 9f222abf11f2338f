#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/host_services.h"
#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"
#include "scan/scan_context.h"

// Runs one scanner over a machine and records what it did: its findings, progress steps,
// pumps, message boxes (the host's and the scanner's own) and last status line.
namespace hivewise::testing {

struct ScanRun {
    std::vector<Problem> found;
    long steps = 0;
    int pumps = 0;
    std::vector<std::string> messages;
    std::string statusLine;
    unsigned statusLines = 0;  // status lines shown
};

class RecordingHost : public NullHostServices {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void PumpEvents(int) override {
        ++pumps;
        if (onPump) onPump();
    }
    std::vector<std::string> messages;
    int pumps = 0;
    std::function<void()> onPump;
};

// Takes every finding; `onFinding` runs after each one (a test clears the flag there, as
// "Abort Scan" pressed while the finding is shown would).
class RecordingSink : public ProblemSink {
  public:
    void ProblemFound(std::unique_ptr<Problem> problem) override {
        found.push_back(*problem);
        if (onFinding) onFinding();
    }
    std::vector<Problem> found;
    std::function<void()> onFinding;
};

struct RunOptions {
    int initialFlag = 1;
    // Clears the continue flag after this many findings (0: never).
    size_t abortAfterFindings = 0;
    // Clears the continue flag after this many pumps (0: never).
    int abortAfterPumps = 0;
    // Runs on every finding, before the abort above is considered.
    std::function<void(const Problem&)> onFinding = nullptr;
};

template <typename Body>
ScanRun RunWithContext(Machine& machine, const RunOptions& options, Body&& body) {
    RecordingHost host;
    RecordingSink sink;
    std::atomic<int> flag{options.initialFlag};
    sink.onFinding = [&] {
        if (options.onFinding) options.onFinding(sink.found.back());
        if (options.abortAfterFindings > 0 && sink.found.size() >= options.abortAfterFindings)
            flag.store(0);
    };
    if (options.abortAfterPumps > 0) {
        host.onPump = [&] {
            if (host.pumps >= options.abortAfterPumps) flag.store(0);
        };
    }
    machine.SetHost(&host);
    ScanStatus status;
    status.SetRange(1'000'000'000);
    ScanContext context(machine, flag, sink, status);
    // A scanner's own notices, kept with the host's message boxes.
    context.SetNoticeHandler([&](const std::string& text) { host.messages.push_back(text); });
    body(context);
    machine.SetHost(nullptr);
    return {std::move(sink.found),    status.Position(),   host.pumps,
            std::move(host.messages), status.StatusLine(), status.LineVersion()};
}

inline ScanRun RunScanner(Machine& machine, Scanner scanner, const RunOptions& options = {}) {
    return RunWithContext(machine, options, [&](ScanContext& context) { scanner(context); });
}

inline void ExpectFinding(const Problem& p, int section, const std::string& item,
                          const std::string& location, const std::string& valueName,
                          const std::string& valueData, const std::string& description) {
    EXPECT_EQ(p.sectionId, section);
    EXPECT_EQ(p.ItemText(), item);
    EXPECT_EQ(p.Location(), location);
    EXPECT_EQ(p.ValueName(), valueName);
    EXPECT_EQ(p.ValueData(), valueData);
    EXPECT_EQ(p.Description(), description);
    EXPECT_EQ(p.isChecked, 1);
    EXPECT_EQ(p.sequence, 0);
}

// A run as most scanner tests want it: aborted on the first finding, or never started.
inline ScanRun RunScanner(Machine& machine, Scanner scanner, bool abortOnFirst,
                          int initialFlag = 1) {
    return RunScanner(machine, scanner,
                      RunOptions{.initialFlag = initialFlag,
                                 .abortAfterFindings = abortOnFirst ? size_t{1} : size_t{0}});
}

// A machine with drive C: fixed and D: a CD-ROM, and Program Files where Windows has it;
// tests add files in SetUp and keys when they load it.
class DrivesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(prefix.Dir() / "cdrom");
        std::filesystem::create_directory_symlink("../cdrom", prefix.Dir() / "dosdevices" / "d:");
    }
    std::unique_ptr<Machine> Load(const std::string& machineKeys,
                                  const std::string& userKeys = "") {
        prefix.SystemReg(R"(
[Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"ProgramFilesDir"="C:\\Program Files"

[Software\\Wine\\Drives] 1700000000
"d:"="cdrom"
)" + machineKeys);
        prefix.UserReg(userKeys);
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        return machine;
    }

    TempPrefix prefix;
};

// Registry-file sections under Software\Classes from `keys`, whose section headers are
// written as "[path]" with single backslashes; other lines are kept as they stand.
inline std::string ClassesSections(std::string_view keys) {
    std::string text;
    size_t pos = 0;
    while (pos < keys.size()) {
        size_t end = keys.find('\n', pos);
        if (end == std::string_view::npos) end = keys.size();
        std::string_view line = keys.substr(pos, end - pos);
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            text += "[Software\\\\Classes";
            for (char c : line.substr(0, line.size() - 1)) {
                if (c == '[') c = '\\';
                text += c;
                if (c == '\\') text += '\\';
            }
            text += "] 1700000000\n";
        } else {
            text += std::string(line) + "\n";
        }
        pos = end + 1;
    }
    return text;
}

constexpr const char* kFileMissingText = "The file (%s) does not exist at the specified location";
constexpr const char* kInvalidAppIdText =
    "The Application ID (%s) is not valid.  (%s does not exist)";
constexpr const char* kDirectoryInvalidText =
    "The Directory path is not valid. (%s does not exist)";

}  // namespace hivewise::testing
