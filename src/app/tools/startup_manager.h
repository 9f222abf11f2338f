#pragma once

#include <string>
#include <vector>

#include "app/tools/entry_manager.h"
#include "tools/parked_entries.h"

// The logic of "Manage Startup Programs": the values of the machine's and the user's
// Run keys.
namespace hivewise {

constexpr std::string_view kStartupManagerTitle = "Manage Startup Programs";
constexpr std::string_view kSelectItemToRunText = "Please Select an Item to run";
constexpr std::string_view kCouldNotLaunchText = "Could not launch application";

// The file of a run path whose details are shown: lower case, cut after the first
// ".exe", without double quotes.
std::string StartupDetailsPath(const std::string& runPath);

class StartupProgramManager : public EntryManager {
  public:
    StartupProgramManager(Machine& machine, UserPrompts& prompts, RestoreOpener openRestore = {});

    std::string_view Title() const override { return kStartupManagerTitle; }
    ManagerColumn Column(int index) const override;
    std::string Explanation() const override;
    RemovedEntriesMode Mode() const override { return RemovedEntriesMode::Startup; }
    bool CanRun() const override { return true; }

    // The machine's entries first, then the user's, each in the Run key's order.
    void Fill() override;
    const std::vector<StartupEntry>& Entries() const { return entries_; }
    // Starts the selected entry's command: the whole run path first, then split at each
    // space in turn into a program and its parameters.
    void RunSelected() override;

  protected:
    RemoveResult RemoveRow(size_t row) override;
    std::string DetailsPath(size_t row) const override;

  private:
    std::vector<StartupEntry> entries_;
};

}  // namespace hivewise
