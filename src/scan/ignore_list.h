#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"
#include "scan/exclusion_list.h"
#include "scan/user_prompts.h"

// The user's ignore list: the file Iglist.lst in the program folder and the logic of
// the "Ignore List" dialog that edits it.
namespace hivewise {

constexpr std::string_view kIgnoreListFileName = "Iglist.lst";

// The dialog's messages.
constexpr std::string_view kIgnoreDataSaved = "Ignore Data Saved";
constexpr std::string_view kIgnoreDataNotSaved = "Ignore Data could not be saved";
constexpr std::string_view kSelectKeyFirst = "Please Select a Registry Key from the Tree above";
constexpr std::string_view kKeyAlreadyAdded = "Registry Key already added to the ignore list";
constexpr std::string_view kSelectItemsToRemove = "Please select Item(s) to remove";
constexpr std::string_view kItemsRemoved = "Item(s) removed successfully";
constexpr std::string_view kIgnoreListTitle = "Ignore List";
constexpr std::string_view kIgnoreListPrompt = "Select the Key to ignore and then press Add.";
constexpr std::string_view kIgnoreListColumn = "Full Key Name";
constexpr std::string_view kLoadingText = "Loading ...";

// The file's Windows path: the program folder, a backslash and "Iglist.lst".
std::string IgnoreListPath(const Machine& machine);

// The file's text to entries: each line stripped of blanks, tabs, CR and LF at both
// ends, empty lines skipped. Lines may end with LF, CR LF or CR CR LF.
IgnoreList ParseIgnoreList(std::string_view content);
// Entries to the file's text: every entry followed by CR CR LF, as a text-mode stream
// writes CR LF. Entries that hold a line break or a zero byte cannot be stored and are
// left out.
std::string FormatIgnoreList(const IgnoreList& list);

// Empties `list` and reads Iglist.lst into it; a missing or unreadable file leaves the
// list empty.
void LoadIgnoreList(Machine& machine, IgnoreList* list);
// Replaces Iglist.lst by the list (all or nothing); false when it cannot be written.
bool SaveIgnoreList(Machine& machine, const IgnoreList& list);

// One key of the dialog's registry tree. Children are read when the item is first
// selected or expanded.
struct RegistryTreeNode {
    std::string text;
    RegistryTreeNode* parent = nullptr;
    std::vector<std::unique_ptr<RegistryTreeNode>> children;
    // The key had sub-keys when it was listed, so the view can offer to expand it.
    bool hasSubKeys = false;

    // The item's text after those of its ancestors, joined by backslashes.
    std::string FullPath() const;
};

struct IgnoreListRow {
    std::string path;
    bool checked = false;
};

// The logic of the modal "Ignore List" dialog: a lazy registry tree, the list of
// ignored keys with check boxes, and Add, Remove and Save.
class IgnoreListDialog {
  public:
    // `mainList` is the main window's in-memory list, reloaded from the file after Save.
    IgnoreListDialog(Machine& machine, UserPrompts& prompts, IgnoreList* mainList = nullptr);
    ~IgnoreListDialog();
    IgnoreListDialog(const IgnoreListDialog&) = delete;
    IgnoreListDialog& operator=(const IgnoreListDialog&) = delete;

    // Fills the dialog: the three roots with their direct sub-keys, the file's entries,
    // and the preset key (a finding's location, short root names allowed) appended,
    // made current and walked to in the tree. Runs while Loading() is true.
    void Open(const std::string& presetKey = {});

    // The "Loading ..." window: shown while Open fills the dialog. The view advances
    // its bar with LoadingTick every 200 ms (range 0 to 10, starting over).
    bool Loading() const { return loading_; }
    int LoadingPosition() const { return loadingPosition_; }
    void LoadingTick();
    std::function<void(bool loading)> onLoadingChanged;

    const std::vector<std::unique_ptr<RegistryTreeNode>>& Roots() const { return roots_; }
    RegistryTreeNode* Selected() const { return selected_; }
    // Selects an item, reading its sub-keys first when it has no children yet.
    void SelectItem(RegistryTreeNode* node);
    // Reads an item's sub-keys when it has no children yet, without selecting it.
    void ExpandItem(RegistryTreeNode* node);

    const std::vector<IgnoreListRow>& Rows() const { return rows_; }
    void SetRowChecked(size_t row, bool checked);
    // The list's current row and the row to scroll into view; -1 for none.
    int CurrentRow() const { return currentRow_; }
    int ScrollRow() const { return scrollRow_; }

    void Add();
    void Remove();
    // Writes the list to Iglist.lst. On success says so, closes the dialog and reloads
    // the main window's list; on failure says so and stays open.
    bool Save();
    // Closing without Save: nothing is kept.
    void Cancel();
    // Whether the list differs from the file as it was opened (a preset key added, say).
    bool Changed() const;
    // Closing any way but Cancel (Escape, the close box): what the user added is kept,
    // saved as Save does when the list changed. True when the dialog may close.
    bool CloseKeeping();

    bool Closed() const { return closed_; }
    bool Saved() const { return saved_; }

  private:
    void LoadChildren(RegistryTreeNode* node);
    void SetLoading(bool loading);
    void WalkTo(const std::string& key);

    Machine& machine_;
    UserPrompts& prompts_;
    IgnoreList* mainList_;
    std::vector<std::unique_ptr<RegistryTreeNode>> roots_;
    RegistryTreeNode* selected_ = nullptr;
    std::vector<IgnoreListRow> rows_;
    // The entries of the file when the dialog opened.
    IgnoreList opened_;
    int currentRow_ = -1;
    int scrollRow_ = -1;
    bool loading_ = false;
    int loadingPosition_ = 0;
    bool closed_ = false;
    bool saved_ = false;
};

// A location with short root names ("HKLM\...", "HKCU\...", "HKCLASS\...") turned back
// to the long names; other texts are returned as they are.
std::string LongRootLocation(std::string_view location);

}  // namespace hivewise
