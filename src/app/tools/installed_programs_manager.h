#pragma once

#include <string>
#include <vector>

#include "app/tools/entry_manager.h"

// The logic of "Manage Installed Programs": the entries of the add/remove programs list.
// Removal deletes only the uninstall registration, after a complete copy was parked.
namespace hivewise {

constexpr std::string_view kInstalledProgramsTitle = "Manage Installed Programs";

class InstalledProgramsManager : public EntryManager {
  public:
    InstalledProgramsManager(Machine& machine, UserPrompts& prompts,
                             RestoreOpener openRestore = {});

    std::string_view Title() const override { return kInstalledProgramsTitle; }
    ManagerColumn Column(int index) const override;
    std::string Explanation() const override;
    RemovedEntriesMode Mode() const override { return RemovedEntriesMode::InstalledPrograms; }
    bool HasDetails() const override { return false; }

    // Entries with a "DisplayName" that are not system components.
    void Fill() override;
    // The registration sub-key of each row.
    const std::vector<std::string>& SubKeys() const { return subKeys_; }

  protected:
    RemoveResult RemoveRow(size_t row) override;
    std::string DetailsPath(size_t) const override { return {}; }

  private:
    std::vector<std::string> subKeys_;
};

}  // namespace hivewise
