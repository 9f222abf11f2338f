#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"
#include "scan/finding_filter.h"
#include "scan/problem.h"
#include "scan/reference_tests.h"
#include "scan/scan_status.h"

// What every scanner is given: the machine through the platform layer, the continue
// flag, the status line and progress bar, and the hand-over of findings. A scanner uses it
// from the scan thread; the complete scan's walk and the walks that check lists of files
// (scanners/missing_file_checks.h) lend Refs() to a second thread of their own while they
// read the registry (scanners/ordered_hand_off.h). The latter report on the scan thread;
// the complete scan's walk lends Report() to that thread as well, and reports nothing
// itself meanwhile.
namespace hivewise {

// The notice of a fault that ended part of a scan: a key's walk, or a scanner.
constexpr std::string_view kInternalErrorText = "Internal Windows Error, Please restart";

class ScanContext {
  public:
    ScanContext(Machine& machine, std::atomic<int>& continueFlag, ProblemSink& sink,
                ScanStatus& status)
        : machine_(machine),
          snapshot_(machine.Paths()),
          registry_(machine),
          files_(machine),
          refs_{registry_, files_, &answers_},
          filter_(machine),
          continueFlag_(continueFlag),
          sink_(sink),
          status_(status) {}

    Machine& GetMachine() { return machine_; }
    RegistryAccess& Registry() { return registry_; }
    FileSystemAccess& Files() { return files_; }
    const ReferenceContext& Refs() const { return refs_; }

    // False once "Abort Scan" was pressed; scanners test it between items.
    bool Continue() const { return continueFlag_.load(std::memory_order_relaxed) != 0; }
    void SetStatusLine(std::string_view text) { status_.SetStatusLine(text); }
    void SetStatusLine(std::string_view key, std::string_view value) {
        status_.SetStatusLine(key, value);
    }
    void ProgressStep() { status_.Step(); }
    void PumpMessages() { files_.ServiceMessageQueue(); }
    // Hands a finding over to the sink. Wine's own entries and
    // repeats of what this scan reported already are dropped here.
    void Report(std::unique_ptr<Problem> problem) {
        if (filter_.Admit(*problem)) sink_.ProblemFound(std::move(problem));
    }
    // A scanner's notice to the user. The handler, set by the front end, must show it on
    // the window's thread and return once it is closed; without one (a scan with no
    // window) the notice is dropped.
    using NoticeHandler = std::function<void(const std::string& text)>;
    void SetNoticeHandler(NoticeHandler handler) { notice_ = std::move(handler); }
    void ShowMessage(const std::string& text) {
        if (notice_) notice_(text);
    }

  private:
    Machine& machine_;
    // A scan changes no file: a folder found unchanged once is not looked at again.
    PathResolver::Snapshot snapshot_;
    RegistryAccess registry_;
    FileSystemAccess files_;
    // One answer per distinct path for the whole scan, shared by its sections.
    ReferenceCache answers_;
    ReferenceContext refs_;
    FindingFilter filter_;
    std::atomic<int>& continueFlag_;
    ProblemSink& sink_;
    ScanStatus& status_;
    NoticeHandler notice_;
};

// A scanner: walks its part of the registry (or the drive) and reports what is missing.
using Scanner = void (*)(ScanContext& context);

}  // namespace hivewise
