#include "platform/machine/leftover_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace hivewise {
namespace {

// The files saved through a temporary file of the same folder (atomic_file's naming:
// "." + name + "." + six characters of mkstemp).
constexpr std::string_view kSavedFiles[] = {"system.reg", "user.reg", "userdef.reg"};
constexpr size_t kRandomLength = 6;

bool IsRandomPart(std::string_view text) {
    if (text.size() != kRandomLength) return false;
    for (char c : text) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return false;
    }
    return true;
}

}  // namespace

bool IsLeftoverSaveFileName(std::string_view name) {
    if (name.empty() || name[0] != '.') return false;
    name.remove_prefix(1);
    for (std::string_view saved : kSavedFiles) {
        if (name.size() == saved.size() + 1 + kRandomLength &&
            name.substr(0, saved.size()) == saved && name[saved.size()] == '.') {
            return IsRandomPart(name.substr(saved.size() + 1));
        }
    }
    return false;
}

int RemoveLeftoverSaveFiles(const std::filesystem::path& prefix) {
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(prefix, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!IsLeftoverSaveFileName(name)) continue;
        struct stat st {};
        // A link or a folder of that name is nothing we made.
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlink(it->path().c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace hivewise
