#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/tools/entry_manager.h"
#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"

// The logic of "Restore Removed Registry Entries": the entries one manager parked, put
// back when ticked.
namespace hivewise {

constexpr std::string_view kRemovedEntriesTitle = "Restore Removed Registry Entries";
constexpr std::string_view kSelectItemsToRestoreText = "Select Items to Restore";
constexpr std::string_view kRestoreButtonText = "Restore";
constexpr std::string_view kItemsRestoredText = "Selected Item(s) Restored";
// "%s": the entry's name.
constexpr std::string_view kNotRestoredText = "Could not restore %s";

// One parked entry, as listed and as it is put back.
struct RemovedEntry {
    RegHandle root = kHkeyLocalMachine;  // where it goes back to
    std::string targetKey;
    std::string keyToCreate;       // helper objects: the class identifier
    std::string valueNameToWrite;  // startup: the Run value's name
    std::string dataToWrite;       // startup: its command; helper objects: the object name
    int writesValue = 0;
    std::string parkingName;  // the parked value's or sub-key's name
    // The name the entry had: the parking name, unless another entry of that name was
    // parked before it.
    std::string entryName;
    std::string area;  // the parking area it was listed from

    std::string firstColumn;
    std::string secondColumn;
    bool checked = false;
};

struct RestoreOutcome {
    int restored = 0;
    int failed = 0;
    bool nothingChecked = false;
    bool refused = false;  // Wine runs: nothing was written
};

class RemovedEntriesDialog {
  public:
    RemovedEntriesDialog(Machine& machine, UserPrompts& prompts, RemovedEntriesMode mode);

    RemovedEntriesMode Mode() const { return mode_; }
    ManagerColumn Column(int index) const;

    // Reads the mode's parking areas afresh.
    void Fill();
    const std::vector<RemovedEntry>& Rows() const { return rows_; }
    void SetChecked(size_t row, bool checked);

    // "Restore": puts the ticked entries back and drops their parked copies. An entry
    // that cannot be put back is named and stays parked. True when the dialog closes
    // (something was restored).
    bool Restore(RestoreOutcome* outcome = nullptr);

  private:
    void FillHelperObjects();
    void FillStartup(std::string_view area, RegHandle root, std::string_view target);
    void FillInstalledPrograms();
    bool RestoreRow(const RemovedEntry& row);

    Machine& machine_;
    UserPrompts& prompts_;
    RegistryAccess registry_;
    RemovedEntriesMode mode_;
    std::vector<RemovedEntry> rows_;
};

// The object name and server path of a parked helper-object name "path?name". The split
// is at `serverPath` when the name starts with it and "?", else at the first "?"; a name
// without "?" is all object name.
void SplitHelperParkingName(std::string_view parkingName, std::string_view serverPath,
                            std::string* path, std::string* name);

}  // namespace hivewise
