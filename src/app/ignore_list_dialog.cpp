#include "app/ignore_list_dialog.h"

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

constexpr int kLoadingRange = 10;
// Sub-key names longer than this do not fit the enumeration buffer and are skipped.
constexpr size_t kSubKeyCapacity = 255;

}  // namespace

std::string RegistryTreeNode::FullPath() const {
    std::string path = text;
    for (const RegistryTreeNode* node = parent; node; node = node->parent)
        path = node->text + "\\" + path;
    return path;
}

IgnoreListDialog::IgnoreListDialog(Machine& machine, UserPrompts& prompts, IgnoreList* mainList)
    : machine_(machine), prompts_(prompts), mainList_(mainList) {}

IgnoreListDialog::~IgnoreListDialog() = default;

void IgnoreListDialog::SetLoading(bool loading) {
    loading_ = loading;
    loadingPosition_ = 0;
    if (onLoadingChanged) onLoadingChanged(loading);
}

void IgnoreListDialog::LoadingTick() {
    if (!loading_) return;
    loadingPosition_ = loadingPosition_ >= kLoadingRange ? 0 : loadingPosition_ + 1;
}

void IgnoreListDialog::Open(const std::string& presetKey) {
    roots_.clear();
    selected_ = nullptr;
    rows_.clear();
    currentRow_ = -1;
    scrollRow_ = -1;
    closed_ = false;
    saved_ = false;
    SetLoading(true);

    for (const char* name : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}) {
        auto root = std::make_unique<RegistryTreeNode>();
        root->text = name;
        LoadChildren(root.get());
        root->hasSubKeys = !root->children.empty();
        roots_.push_back(std::move(root));
    }

    IgnoreList entries;
    LoadIgnoreList(machine_, &entries);
    opened_ = entries;
    for (std::string& entry : entries)
        rows_.push_back({std::move(entry), false});

    if (!presetKey.empty()) {
        std::string key = LongRootLocation(presetKey);
        rows_.push_back({key, false});
        currentRow_ = static_cast<int>(rows_.size()) - 1;
        scrollRow_ = currentRow_;
        WalkTo(key);
    }
    SetLoading(false);
}

void IgnoreListDialog::WalkTo(const std::string& key) {
    const std::vector<std::unique_ptr<RegistryTreeNode>>* level = &roots_;
    size_t pos = 0;
    while (pos <= key.size()) {
        size_t end = key.find('\\', pos);
        if (end == std::string::npos) end = key.size();
        std::string_view part = std::string_view(key).substr(pos, end - pos);
        RegistryTreeNode* found = nullptr;
        for (const auto& child : *level) {
            if (AnsiEqualsNoCase(child->text, part)) {
                found = child.get();
                break;
            }
        }
        if (!found) return;
        SelectItem(found);
        level = &found->children;
        pos = end + 1;
    }
}

void IgnoreListDialog::LoadChildren(RegistryTreeNode* node) {
    if (!node || !node->children.empty()) return;
    std::string path = node->FullPath();
    size_t cut = path.find('\\');
    auto root = RegistryAccess::RootFromName(path.substr(0, cut));
    if (!root) return;
    std::string subKey = cut == std::string::npos ? std::string() : path.substr(cut + 1);

    RegistryAccess registry(machine_);
    FileSystemAccess files(machine_);
    RegHandle key = 0;
    if (registry.OpenKey(*root, subKey, kKeyRead, &key) != kErrorSuccess) return;
    uint32_t count = 0;
    if (registry.QueryInfoKey(key, &count, nullptr) == kErrorSuccess) {
        for (uint32_t i = 0; i < count; ++i) {
            std::string name;
            if (registry.EnumKey(key, i, &name, kSubKeyCapacity) != kErrorSuccess) continue;
            auto child = std::make_unique<RegistryTreeNode>();
            child->text = name;
            child->parent = node;
            RegHandle childKey = 0;
            if (registry.OpenKey(key, name, kKeyRead, &childKey) == kErrorSuccess) {
                uint32_t grandChildren = 0;
                registry.QueryInfoKey(childKey, &grandChildren, nullptr);
                child->hasSubKeys = grandChildren > 0;
                registry.CloseKey(childKey);
                files.ServiceMessageQueue();
            }
            node->children.push_back(std::move(child));
        }
    }
    registry.CloseKey(key);
    node->hasSubKeys = !node->children.empty();
}

void IgnoreListDialog::SelectItem(RegistryTreeNode* node) {
    selected_ = node;
    if (node) LoadChildren(node);
}

void IgnoreListDialog::ExpandItem(RegistryTreeNode* node) {
    LoadChildren(node);
}

void IgnoreListDialog::SetRowChecked(size_t row, bool checked) {
    if (row < rows_.size()) rows_[row].checked = checked;
}

void IgnoreListDialog::Add() {
    if (!selected_) {
        prompts_.Message(std::string(kSelectKeyFirst));
        return;
    }
    std::string path = selected_->FullPath();
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (AnsiEqualsNoCase(rows_[i].path, path)) {
            scrollRow_ = static_cast<int>(i);
            prompts_.Message(std::string(kKeyAlreadyAdded));
            return;
        }
    }
    rows_.push_back({std::move(path), false});
}

void IgnoreListDialog::Remove() {
    bool anyChecked = false;
    for (const IgnoreListRow& row : rows_)
        anyChecked = anyChecked || row.checked;
    if (!anyChecked) {
        prompts_.Message(std::string(kSelectItemsToRemove));
        return;
    }
    std::vector<IgnoreListRow> kept;
    int newCurrent = -1;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].checked) continue;
        if (static_cast<int>(i) == currentRow_) newCurrent = static_cast<int>(kept.size());
        kept.push_back(std::move(rows_[i]));
    }
    rows_ = std::move(kept);
    currentRow_ = newCurrent;
    scrollRow_ = -1;
    prompts_.Notice(std::string(kItemsRemoved));
}

bool IgnoreListDialog::Save() {
    IgnoreList list;
    list.reserve(rows_.size());
    for (const IgnoreListRow& row : rows_)
        list.push_back(row.path);
    if (!SaveIgnoreList(machine_, list)) {
        prompts_.Message(std::string(kIgnoreDataNotSaved));
        return false;
    }
    prompts_.Notice(std::string(kIgnoreDataSaved));
    closed_ = true;
    saved_ = true;
    if (mainList_) LoadIgnoreList(machine_, mainList_);
    return true;
}

void IgnoreListDialog::Cancel() {
    closed_ = true;
}

bool IgnoreListDialog::Changed() const {
    if (rows_.size() != opened_.size()) return true;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].path != opened_[i]) return true;
    }
    return false;
}

bool IgnoreListDialog::CloseKeeping() {
    if (!Changed()) {
        closed_ = true;
        return true;
    }
    return Save();
}

}  // namespace hivewise
