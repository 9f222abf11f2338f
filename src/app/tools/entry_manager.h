#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"

// What the three system-tool managers share: a list of registry entries with check
// boxes, the version details of the selected entry's file, "Remove Checked" (each entry
// parked before it is removed) and "Restore Items".
namespace hivewise {

constexpr std::string_view kRemoveCheckedText = "Remove Checked";
constexpr std::string_view kRestoreItemsText = "Restore Items";
constexpr std::string_view kRunSelectedText = "Run Selected";
constexpr std::string_view kCancelButtonText = "Cancel";
constexpr std::string_view kDetailsGroupText = "Details";
constexpr std::string_view kFileNameLabel = "File Name";
constexpr std::string_view kProductNameLabel = "Product Name ";
constexpr std::string_view kDescriptionLabel = "Description ";
constexpr std::string_view kCompanyLabel = "Company ";

constexpr std::string_view kCheckItemToRemoveText = "Please Check an Item to Remove";
constexpr std::string_view kItemsRemovedText = "Item(s) Removed";
// "%s": the entry's name.
constexpr std::string_view kNotBackedUpText = "Could not back up %s; it was not removed.";
constexpr std::string_view kNotRemovedText = "Could not remove %s.";

// The restore dialog's modes, one per manager.
enum class RemovedEntriesMode : int {
    HelperObjects = 0,
    Startup = 1,
    InstalledPrograms = 2,
};

// The four texts of the "Details" group.
struct EntryDetails {
    std::string fileName;
    std::string productName;
    std::string description;
    std::string company;
    bool Empty() const {
        return fileName.empty() && productName.empty() && description.empty() && company.empty();
    }
};

// The details of a file of the machine: company, description, internal name and
// product name from its version resource, the last two with their versions. Empty texts
// for a file without version details.
EntryDetails ReadEntryDetails(Machine& machine, const std::string& path);

// `format` with its one "%s" replaced by `text`.
std::string FormatOne(std::string_view format, std::string_view text);

struct ManagerColumn {
    std::string_view title;
    int width;  // pixels
};

// One list row: its two columns and its check box.
struct EntryRow {
    std::string name;
    std::string path;
    bool checked = false;
};

// Outcome of "Remove Checked", for front ends that report it themselves.
struct RemovalOutcome {
    int removed = 0;
    int failed = 0;
    bool nothingChecked = false;
    bool refused = false;  // Wine runs: nothing was written
};

class EntryManager {
  public:
    // Opens the restore dialog in the given mode; true when it closed through "Restore".
    using RestoreOpener = std::function<bool(RemovedEntriesMode)>;

    EntryManager(Machine& machine, UserPrompts& prompts, RestoreOpener openRestore);
    virtual ~EntryManager() = default;

    virtual std::string_view Title() const = 0;
    virtual ManagerColumn Column(int index) const = 0;
    virtual std::string Explanation() const = 0;
    virtual RemovedEntriesMode Mode() const = 0;
    virtual bool HasDetails() const { return true; }
    virtual bool CanRun() const { return false; }

    // Reads the entries afresh; the details are kept.
    virtual void Fill() = 0;
    const std::vector<EntryRow>& Rows() const { return rows_; }
    void SetChecked(size_t row, bool checked);
    // A row became the focused, selected row: its details are shown.
    void Select(int row);
    // The row last selected, -1 for none.
    int SelectionMark() const { return selectionMark_; }
    const EntryDetails& Details() const { return details_; }
    // The file the details are read from, and why they are empty when they are (the
    // file is missing, or has no version details); both empty before a selection.
    const std::string& DetailsFile() const { return detailsFile_; }
    const std::string& DetailsNote() const { return detailsNote_; }

    // "Remove Checked": parks and removes the checked entries, tells the user, refills.
    RemovalOutcome RemoveChecked();
    // "Restore Items": the restore dialog; the list is refilled when something was restored.
    bool RestoreItems();
    // "Run Selected"; only the startup manager has it.
    virtual void RunSelected() {}

  protected:
    enum class RemoveResult { Removed, NotParked, NotRemoved };
    // Parks and removes the entry of one row.
    virtual RemoveResult RemoveRow(size_t row) = 0;
    // The file whose details a row shows.
    virtual std::string DetailsPath(size_t row) const = 0;
    // The name messages use for a row.
    virtual std::string RowLabel(size_t row) const;
    void ClearRows() {
        rows_.clear();
        selectionMark_ = -1;
    }
    void AddRow(std::string name, std::string path) {
        rows_.push_back(EntryRow{std::move(name), std::move(path), false});
    }

    Machine& machine_;
    UserPrompts& prompts_;
    RegistryAccess registry_;

  private:
    RestoreOpener openRestore_;
    std::vector<EntryRow> rows_;
    EntryDetails details_;
    std::string detailsFile_;
    std::string detailsNote_;
    int selectionMark_ = -1;
};

constexpr std::string_view kNoProgramFileNote = "No program file is named.";
constexpr std::string_view kProgramFileMissingNote = "The file does not exist in this machine.";
constexpr std::string_view kNoVersionDetailsNote = "The file has no version details.";

}  // namespace hivewise
