#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "scan/ignore_list_file.h"

// The logic of the "Ignore List" dialog, which edits the user's ignore list.
namespace hivewise {

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

}  // namespace hivewise
