#include "platform/files/folder_walk.h"

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// A folder's entries: their names back to back in one text, and for each where its name
// lies and whether the listing says it is a plain file. Sorting the small records
// instead of a string per name costs a fraction of what moving strings about does.
class Names {
  public:
    struct Entry {
        size_t at = 0;
        uint32_t size = 0;  // a file name has at most 255 bytes
        bool plainFile = false;
    };
    void Add(std::string_view name, bool plainFile) {
        entries_.push_back({text_.size(), static_cast<uint32_t>(name.size()), plainFile});
        text_ += name;
    }
    void Sort() {
        std::sort(entries_.begin(), entries_.end(),
                  [this](const Entry& a, const Entry& b) { return Name(a) < Name(b); });
    }
    std::string_view Name(const Entry& entry) const {
        return std::string_view(text_).substr(entry.at, entry.size);
    }
    const std::vector<Entry>& Entries() const { return entries_; }

  private:
    std::string text_;
    std::vector<Entry> entries_;
};

// The entries of `folder` in name order; false when it cannot be read.
bool ReadNames(const fs::path& folder, Names* names) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* d = ::readdir(dir)) {
        std::string_view name = d->d_name;
        if (name != "." && name != "..") names->Add(name, d->d_type == DT_REG);
    }
    ::closedir(dir);
    names->Sort();
    return true;
}

}  // namespace

bool WalkFolder(const fs::path& root, const std::function<WalkAction(const WalkEntry&)>& visit,
                WalkDetail detail) {
    const bool lean = detail == WalkDetail::Lean;
    struct stat rootStat {};
    if (::stat(root.c_str(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode)) return false;
    std::set<std::pair<dev_t, ino_t>> seen{{rootStat.st_dev, rootStat.st_ino}};

    // Folders still to list, deepest last; an explicit stack keeps deep trees off the
    // call stack.
    struct Pending {
        fs::path path;
        fs::path relative;
        int depth;
    };
    std::vector<Pending> stack{{root, fs::path{}, 0}};
    bool rootRead = false;
    while (!stack.empty()) {
        Pending folder = std::move(stack.back());
        stack.pop_back();
        Names names;
        bool ok = ReadNames(folder.path, &names);
        if (folder.depth == 0) rootRead = ok;
        std::vector<Pending> children;
        std::string folderText = folder.path.native();
        if (folderText.empty() || folderText.back() != '/') folderText += '/';
        WalkEntry entry;
        for (const Names::Entry& listed : names.Entries()) {
            std::string_view name = names.Name(listed);
            const bool plainFile = listed.plainFile;
            // One entry reused: its path keeps its room from name to name.
            entry.path.assign(folderText).append(name);
            if (!lean) entry.relative = folder.relative / name;
            entry.st = {};
            entry.statted = true;
            entry.isDirectory = false;
            entry.isLink = false;
            entry.revisited = false;
            entry.depth = folder.depth;
            if (lean && plainFile) {
                entry.statted = false;
                entry.st.st_mode = S_IFREG;
                WalkAction action = visit(entry);
                if (action == WalkAction::Stop) return false;
                continue;
            }
            struct stat link {};
            if (::lstat(entry.path.c_str(), &link) != 0) continue;
            entry.isLink = S_ISLNK(link.st_mode);
            entry.st = link;
            if (entry.isLink) ::stat(entry.path.c_str(), &entry.st);  // dangling: keep the link
            entry.isDirectory = S_ISDIR(entry.st.st_mode);
            if (entry.isDirectory) {
                entry.revisited = !seen.insert({entry.st.st_dev, entry.st.st_ino}).second;
            }
            WalkAction action = visit(entry);
            if (action == WalkAction::Stop) return false;
            if (entry.isDirectory && !entry.revisited && action == WalkAction::Continue) {
                children.push_back({entry.path, entry.relative, folder.depth + 1});
            }
        }
        // Children go on the stack in reverse so that they are walked in name order.
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            stack.push_back(std::move(*it));
        }
    }
    return rootRead;
}

}  // namespace hivewise
