#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// The bundled sample machine (a small prefix with stale entries in every scan section),
// the choice of the machine a run works on, and the program's place inside it.
namespace hivewise {

class Machine;

// Builds a prefix at `target` from a template folder: its registry files, a drive_c
// made from drive_c.manifest (folders, small files, generated shortcuts) and the
// dosdevices links. Built beside `target` and renamed into place at the end, so that a
// failure leaves nothing behind. Fails when `target` exists and is not an empty folder.
bool CreateSampleMachine(const std::filesystem::path& templateDir,
                         const std::filesystem::path& target, std::string* error);

// The shipped template: <exe dir>/../share/hivewise/sample-machine, else
// <sourceDataDir>/sample-machine (the source tree's data folder; when empty, the one the
// build names, if any), else <exe dir>/sample-machine.
std::optional<std::filesystem::path> FindSampleTemplate(
    const std::filesystem::path& executable, const std::filesystem::path& sourceDataDir = {});

struct MachineChoice {
    std::filesystem::path folder;  // empty when no machine could be chosen
    bool isSample = false;         // the bundled sample machine
    std::string error;             // one line, for the user, when `folder` is empty
};

// Which prefix a run works on: `explicitPrefix`, else WINEPREFIX when not empty, else
// ~/.wine when it holds system.reg, else the sample machine under $XDG_DATA_HOME (or
// ~/.local/share)/hivewise/sample-machine, created from the template on first use.
// `env` holds the caller's HOME, WINEPREFIX and XDG_DATA_HOME.
MachineChoice ChooseMachine(std::optional<std::filesystem::path> explicitPrefix,
                            const std::map<std::string, std::string>& env,
                            const std::filesystem::path& executable);

// The sample machine alone: made from the template on first use.
MachineChoice ChooseSampleMachine(const std::map<std::string, std::string>& env,
                                  const std::filesystem::path& executable);
// Where the sample machine lives (or will): $XDG_DATA_HOME (or ~/.local/share)/hivewise/
// sample-machine; nothing without a home.
std::optional<std::filesystem::path> SampleMachineFolder(
    const std::map<std::string, std::string>& env);
// The user's home: HOME, else the account's home folder when HOME is not set at all.
std::filesystem::path HomeFolder(const std::map<std::string, std::string>& env);

// Places the program in the machine: creates its program folder when missing and makes
// hivewise.exe there a symbolic link to `executable`. A stale link is replaced; a file
// of another kind already there is left alone (true: the program file exists).
bool InstallProgram(Machine& machine, const std::filesystem::path& executable, std::string* error);

// The running program's file (/proc/self/exe); empty when it cannot be read.
std::filesystem::path RunningExecutable();

}  // namespace hivewise
