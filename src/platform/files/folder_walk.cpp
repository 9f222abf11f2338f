#include "platform/files/folder_walk.h"

#include <dirent.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// A folder's entry: its name and whether the listing says it is a plain file.
struct Name {
    std::string name;
    bool plainFile = false;
    bool operator<(const Name& other) const { return name < other.name; }
};

std::vector<Name> ReadNames(const fs::path& folder, bool* ok) {
    std::vector<Name> names;
    DIR* dir = ::opendir(folder.c_str());
    *ok = dir != nullptr;
    if (!dir) return names;
    while (dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back({std::move(name), d->d_type == DT_REG});
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
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
        bool ok = false;
        std::vector<Name> names = ReadNames(folder.path, &ok);
        if (folder.depth == 0) rootRead = ok;
        std::vector<Pending> children;
        std::string folderText = folder.path.native();
        if (folderText.empty() || folderText.back() != '/') folderText += '/';
        WalkEntry entry;
        for (const auto& [name, plainFile] : names) {
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
