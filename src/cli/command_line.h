#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/backups_command.h"
#include "cli/fullbackup_command.h"
#include "cli/repair_command.h"
#include "cli/scan_command.h"
#include "cli/tools_command.h"

// The one parser of hivewise-cli's command line: the commands, their options and help.
namespace hivewise::cli {

struct CommandLine {
    enum class Command { Reg, Scan, Repair, Backups, FullBackup, Machines, Update, Tool };
    Command command = Command::Scan;
    std::optional<std::string> prefix;  // --prefix DIR
    bool json = false;                  // --json, which every command but reg takes

    std::vector<std::string> regArgs;  // the words after "reg", for reg's own syntax
    ScanOptions scan;
    RepairOptions repair;
    BackupsOptions backups;
    FullBackupOptions fullBackup;
    std::string updateFrom;  // update --from URL
    ToolOptions tool;
};

// Parses argv (argv[0] is the program's name). Nothing to run comes back when the line
// asked for help or the version, which are printed on `out` (status 0), or when it was
// wrong: then the error and a usage line are printed on `err` (status kExitUsage). A
// command that may ask a question is wrong with --json but without --yes: JSON output
// is read by programs, which cannot answer.
std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                            std::ostream& err, int* status);

}  // namespace hivewise::cli
