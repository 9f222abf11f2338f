#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "platform/machine/machine_finder.h"

// The main window's choice of the machine it works on: every machine found for the user
// and any other prefix folder. Switching is the front end's: it loads the chosen machine
// as a start would and puts the window up again on it.
namespace hivewise {

constexpr std::string_view kWorkingOnText = "Working on:";
constexpr std::string_view kOtherFolderText = "Other folder...";
constexpr std::string_view kChoosePrefixTitle = "Choose the folder of a Wine prefix";

// The machine to switch to.
struct MachineRequest {
    std::filesystem::path folder;
    bool isSample = false;
    // Wine runs in it: it is opened without ever being written.
    bool readOnly = false;
};

class MachineChooser {
  public:
    // `switchTo` loads the request and answers whether the switch happens; on false the
    // chooser stays on the current machine. The current machine is listed even when the
    // finder did not find it.
    MachineChooser(std::vector<FoundMachine> machines, const std::filesystem::path& current,
                   bool currentIsSample, AppPrompts& prompts,
                   std::function<bool(const MachineRequest&)> switchTo);

    // One entry per machine (UTF-8), then "Other folder...".
    std::vector<std::string> Entries() const;
    // The machine's folder, its Windows and its registry's size, for a tooltip.
    std::string Details(int index) const;
    int CurrentIndex() const { return current_; }
    // The current machine's name as the machine list gives it (UTF-8).
    std::string CurrentName() const;
    const std::vector<FoundMachine>& Machines() const { return machines_; }

    // The user picked entry `index`. The current one does nothing; "Other folder..."
    // asks for a folder, which must hold a prefix's registry. True when the switch was
    // made.
    bool Choose(int index);

  private:
    bool Request(const FoundMachine& machine);

    std::vector<FoundMachine> machines_;
    int current_ = 0;
    AppPrompts& prompts_;
    std::function<bool(const MachineRequest&)> switchTo_;
};

// Loads a requested machine as a start does: the sample machine made on first use, the
// prefix locked, and opened read only when asked or when Wine runs in it now.
Machine::LoadResult LoadRequestedMachine(const MachineRequest& request,
                                         const std::map<std::string, std::string>& env,
                                         const std::filesystem::path& executable);

}  // namespace hivewise
