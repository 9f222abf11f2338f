#pragma once

#include <iosfwd>

// hivewise-cli: the program's logic without a window, for scripts and tests.
namespace hivewise {

// Runs the command line `argv` (argv[0] is the program name) and returns the exit
// status of cli/exit_status.h. Answers to questions are read from `in`. A caller whose
// process ends right after (`processEndsAfter`) leaves the loaded registry and the
// findings to that end instead of freeing them object by object.
int RunCli(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err,
           bool processEndsAfter = false);

}  // namespace hivewise
