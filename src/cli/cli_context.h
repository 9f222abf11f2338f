#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"

// What every command of hivewise-cli is given, and the helpers they share.
namespace hivewise::cli {

struct CliContext {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::optional<std::string> prefixOption;  // --prefix DIR
    bool json = false;                        // --json: one JSON object on stdout
    // Set by hivewise-cli's own main, whose process ends right after the command.
    bool processEndsAfter = false;
};

// Frees a machine at the end of its command, unless the process ends right after it
// anyway: the end of the process frees a large registry at once, where taking it apart
// key by key costs a tenth of a scan.
class MachineRelease {
  public:
    MachineRelease() = default;
    explicit MachineRelease(bool leaveToExit) : leaveToExit_(leaveToExit) {}
    void operator()(Machine* machine) const {
        if (!leaveToExit_) delete machine;
    }

  private:
    bool leaveToExit_ = false;
};
using LoadedMachine = std::unique_ptr<Machine, MachineRelease>;

// Hands what a command built to the end of the process, as MachineRelease does, or frees
// it now when the process goes on.
template <class T>
void LeaveToExit(const CliContext& ctx, std::unique_ptr<T> object) {
    if (ctx.processEndsAfter) (void)object.release();
}

// How a command that may write goes on when Wine runs in the prefix.
enum class WhileWineRuns {
    Refuse,    // it would write the registry: say so and load nothing
    ReadOnly,  // it works without writing; `wineRunning` tells it so
};

// Loads the machine the command works on. Prints why and returns null when it cannot.
// Unless loaded read only, a prefix in which Wine runs is refused with the one line that
// says so, before anything is changed; `wineRunning` is set then too.
LoadedMachine LoadMachine(CliContext& ctx, const MachineOptions& options,
                          WhileWineRuns whileWineRuns = WhileWineRuns::Refuse,
                          bool* wineRunning = nullptr);

// Writes a message as exactly one line, whatever line breaks it holds.
void PrintError(std::ostream& err, std::string_view text);

// Asks a Yes/No question on `err` and reads the answer from `in`, so that stdout carries
// only results. The end of the input counts as No, so that an unattended run never
// changes anything it was not told to; with --json nothing is asked and the answer is No.
bool AskYesNo(CliContext& ctx, const std::string& question);

// `hivewise-cli reg ...`; `args` are the words after "reg".
int RunReg(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
