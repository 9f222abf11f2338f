#include "app/tools/entry_manager.h"

#include "platform/files/file_system_access.h"
#include "platform/machine/prefix_lock.h"
#include "tools/file_version.h"

namespace hivewise {
namespace {

std::string WithVersion(const std::string& name, const std::string& version) {
    return name.empty() ? name : name + " (Version : " + version + ")";
}

}  // namespace

EntryDetails ReadEntryDetails(Machine& machine, const std::string& path) {
    FileVersionDetails version;
    EntryDetails details;
    if (path.empty() || !version.Read(machine, path)) return details;
    details.company = version.CompanyName();
    details.description = version.FileDescription();
    details.fileName = WithVersion(version.InternalName(), version.FileVersion());
    details.productName = WithVersion(version.ProductName(), version.ProductVersion());
    return details;
}

std::string FormatOne(std::string_view format, std::string_view text) {
    std::string out(format);
    size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, text);
    return out;
}

EntryManager::EntryManager(Machine& machine, UserPrompts& prompts, RestoreOpener openRestore)
    : machine_(machine),
      prompts_(prompts),
      registry_(machine),
      openRestore_(std::move(openRestore)) {}

void EntryManager::SetChecked(size_t row, bool checked) {
    if (row < rows_.size()) rows_[row].checked = checked;
}

void EntryManager::Select(int row) {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
    selectionMark_ = row;
    if (!HasDetails()) return;
    detailsFile_ = DetailsPath(static_cast<size_t>(row));
    details_ = ReadEntryDetails(machine_, detailsFile_);
    // Four empty fields alone look like a fault of the window; say why they are empty.
    if (detailsFile_.empty()) {
        detailsNote_ = std::string(kNoProgramFileNote);
    } else if (!details_.Empty()) {
        detailsNote_.clear();
    } else if (!FileSystemAccess(machine_).PathFileExists(detailsFile_)) {
        detailsNote_ = std::string(kProgramFileMissingNote);
    } else {
        detailsNote_ = std::string(kNoVersionDetailsNote);
    }
}

std::string EntryManager::RowLabel(size_t row) const {
    return rows_[row].name;
}

RemovalOutcome EntryManager::RemoveChecked() {
    RemovalOutcome outcome;
    bool any = false;
    for (const EntryRow& row : rows_)
        any = any || row.checked;
    if (!any) {
        prompts_.Message(std::string(kCheckItemToRemoveText));
        outcome.nothingChecked = true;
        return outcome;
    }
    // Nothing is removed that could not be saved: Wine runs (or was started from here and
    // the machine was not read again), the machine was opened read only, or its registry
    // files changed on disk.
    std::string refusal = WineServerRunning(machine_.PrefixDir())
                              ? WineRunningMessage(machine_.PrefixDir())
                              : machine_.SaveRefusal();
    if (!refusal.empty()) {
        prompts_.Message(refusal);
        outcome.refused = true;
        return outcome;
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!rows_[i].checked) continue;
        switch (RemoveRow(i)) {
            case RemoveResult::Removed:
                ++outcome.removed;
                break;
            case RemoveResult::NotParked:
                ++outcome.failed;
                prompts_.Message(FormatOne(kNotBackedUpText, RowLabel(i)));
                break;
            case RemoveResult::NotRemoved:
                ++outcome.failed;
                prompts_.Message(FormatOne(kNotRemovedText, RowLabel(i)));
                break;
        }
    }
    // Only a removal that happened is reported as one.
    if (outcome.removed > 0) prompts_.Notice(std::string(kItemsRemovedText));
    Fill();
    return outcome;
}

bool EntryManager::RestoreItems() {
    if (!openRestore_ || !openRestore_(Mode())) return false;
    Fill();
    return true;
}

}  // namespace hivewise
