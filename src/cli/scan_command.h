#pragma once

#include <signal.h>

#include <array>
#include <atomic>
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

// `args` are the words after "scan": [--sections ID,ID,...] [--json].
int RunScan(CliContext& ctx, const std::vector<std::string>& args);

// The scan of `scan` on a loaded machine: the ticks of the settings (or `chosen`), the
// ignore list, the scan log, and Ctrl-C as "Abort Scan". The findings go to the
// driver's result store. Without `keepLog` (Wine owns the prefix) no log is written.
void ScanMachine(Machine& machine, const std::optional<std::array<bool, kSectionCount>>& chosen,
                 ScanDriver& driver, bool keepLog = true);

// Takes "--sections LIST" or "--sections=LIST" at args[*index] (moving *index past the
// list) into `chosen`. False when args[*index] is something else; `bad` is set, and the
// error printed, when the list is not one of section ids.
bool TakeSectionsArgument(CliContext& ctx, const std::vector<std::string>& args, size_t* index,
                          std::optional<std::array<bool, kSectionCount>>* chosen, bool* bad);

// "4,7,13" to ticks; false (with the bad word) on anything that is not a list of ids 0
// to 14.
bool ParseSections(const std::string& list, std::array<bool, kSectionCount>* ticks,
                   std::string* bad);

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

// Text for a JSON string: ANSI (Windows-1252) turned into UTF-8, with quotes,
// backslashes and control characters escaped.
std::string JsonString(std::string_view ansi);

}  // namespace hivewise::cli
