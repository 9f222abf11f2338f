#pragma once

#include <signal.h>

#include <array>
#include <atomic>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_context.h"
#include "platform/machine/machine.h"
#include "scan/problem.h"
#include "scan/scan_driver.h"
#include "scan/scan_section.h"

// `hivewise-cli scan`: the window's scan without the window.
namespace hivewise::cli {

// Ticks of the scan sections, by section id.
using SectionTicks = std::array<bool, kSectionCount>;

// `scan [--sections ID,ID,...] [--json]`.
struct ScanOptions {
    std::optional<SectionTicks> sections;  // without it, the ticks of the settings
    bool json = false;
};

int RunScan(CliContext& ctx, const ScanOptions& options);

// The scan of `scan` on a loaded machine: the ticks of the settings (or `chosen`), the
// ignore list, the scan log, and Ctrl-C as "Abort Scan". The findings go to the
// driver's result store. Without `keepLog` (Wine owns the prefix) no log is written.
// With `progress` a progress line there names the section being scanned.
void ScanMachine(Machine& machine, const std::optional<SectionTicks>& chosen, ScanDriver& driver,
                 bool keepLog = true, std::ostream* progress = nullptr);

// "4,7,13" to ticks; false (with the bad word) on anything that is not a list of ids 0
// to kSectionCount - 1.
bool ParseSections(const std::string& list, SectionTicks* ticks, std::string* bad);

// While it lives, Ctrl-C clears `flag` (as the window's abort buttons do) and nothing else.
class InterruptGuard {
  public:
    explicit InterruptGuard(std::atomic<int>& flag);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    // Whether Ctrl-C was pressed since the latest guard was made.
    static bool Interrupted();

  private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

}  // namespace hivewise::cli
