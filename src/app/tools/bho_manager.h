#pragma once

#include <string>
#include <vector>

#include "app/tools/entry_manager.h"

// The logic of "Manage Browser Helper Objects (BHO)": the objects registered under the
// browser's helper-object key. Removal deletes only that registration; the class and
// its file stay.
namespace hivewise {

constexpr std::string_view kBhoManagerTitle = "Manage Browser Helper Objects (BHO)";

class BhoManager : public EntryManager {
  public:
    BhoManager(Machine& machine, UserPrompts& prompts, RestoreOpener openRestore = {});

    std::string_view Title() const override { return kBhoManagerTitle; }
    ManagerColumn Column(int index) const override;
    std::string Explanation() const override;
    RemovedEntriesMode Mode() const override { return RemovedEntriesMode::HelperObjects; }

    void Fill() override;
    // The class identifier of each row.
    const std::vector<std::string>& ClassIds() const { return classIds_; }

  protected:
    RemoveResult RemoveRow(size_t row) override;
    std::string DetailsPath(size_t row) const override { return Rows()[row].path; }
    std::string RowLabel(size_t row) const override;

  private:
    std::vector<std::string> classIds_;
};

}  // namespace hivewise
