#include <algorithm>

#include "platform/files/wildcard.h"
#include "scan/scanners/shell_link_reader.h"
#include "scan/scanners/shortcut_scanner.h"

namespace hivewise {
namespace {

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// What the link object's GetPath gives: the first of the shortcut's target texts that it
// holds, within MAX_PATH. A longer one is dropped rather than cut: a cut path would name
// a file that was never the target.
std::string LinkPath(FileSystemAccess& files, const ShellLinkInfo& info) {
    std::string path = info.localPath;
    if (path.empty() && !info.environmentLocation.empty()) {
        path = files.ExpandEnvironmentStrings(info.environmentLocation, kMaxPath).value_or("");
    }
    if (path.empty()) path = info.itemListPath;
    if (path.size() >= kMaxPath) path.clear();
    return path;
}

}  // namespace

size_t ExpandLongPath(FileSystemAccess& files, const std::string& path, std::string* longPath) {
    longPath->clear();
    if (path.empty() || files.GetFileAttributes(path) == kInvalidFileAttributes) return 0;
    std::string text = path;
    std::replace(text.begin(), text.end(), '/', '\\');
    if (text.size() < 3 || !IsDriveLetter(text[0]) || text[1] != ':' || text[2] != '\\') return 0;

    std::string built = text.substr(0, 3);
    std::string prefix = built;
    size_t at = 3;
    while (at < text.size()) {
        size_t end = text.find('\\', at);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        // A lookup with wildcards would find some other entry's name.
        if (HasWildcards(name)) return 0;
        if (prefix.back() != '\\') prefix += '\\';
        prefix += name;
        auto found = files.FindFiles(prefix);
        if (!found || found->empty()) return 0;
        if (built.back() != '\\') built += '\\';
        built += found->front().name;
    }
    if (built.size() >= kMaxPath || files.GetFileAttributes(built) == kInvalidFileAttributes) {
        return 0;
    }
    *longPath = std::move(built);
    return longPath->size();
}

namespace {

std::string ResolvedTarget(FileSystemAccess& files, const std::string& linkPath) {
    // The short form where the target exists; a missing target keeps its stored form.
    std::string target = linkPath.empty() ? std::string() : files.ShortPath(linkPath);
    if (target.empty()) target = linkPath;
    std::string longForm;
    if (ExpandLongPath(files, target, &longForm) > target.size()) target = std::move(longForm);
    return target;
}

}  // namespace

std::string ShortcutTargets::Resolve(FileSystemAccess& files, const std::string& linkPath) {
    if (auto at = known_.find(linkPath); at != known_.end()) return at->second;
    std::string target = ResolvedTarget(files, linkPath);
    if (known_.size() < kLimit) known_.emplace(linkPath, target);
    return target;
}

long ResolveShortcutFile(FileSystemAccess& files, const std::filesystem::path& hostPath,
                         std::string* target, std::string* description, ShortcutTargets* known) {
    target->clear();
    description->clear();
    ShellLinkInfo info;
    if (!ReadShellLinkFile(hostPath, &info)) return kShellFail;
    const std::string path = LinkPath(files, info);
    *target = known ? known->Resolve(files, path) : ResolvedTarget(files, path);
    *description = info.description.substr(0, kMaxPath - 1);
    return path.empty() ? kShellNoPath : kShellOk;
}

long ResolveShortcut(FileSystemAccess& files, const std::string& shortcut, std::string* target,
                     std::string* description) {
    target->clear();
    description->clear();
    auto host = files.ToHostPath(shortcut);
    if (!host) return kShellFail;
    return ResolveShortcutFile(files, *host, target, description);
}

}  // namespace hivewise
