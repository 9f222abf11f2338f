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
};

// How a command that may write goes on when Wine runs in the prefix.
enum class WhileWineRuns {
    Refuse,    // it would write the registry: say so and load nothing
    ReadOnly,  // it works without writing; `wineRunning` tells it so
};

// Loads the machine the command works on. Prints why and returns null when it cannot.
// Unless loaded read only, a prefix in which Wine runs is refused with the one line that
// says so, before anything is changed; `wineRunning` is set then too.
std::unique_ptr<Machine> LoadMachine(CliContext& ctx, const MachineOptions& options,
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
