#include "platform/files/scratch_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

bool InsidePrefix(const Machine& machine, const fs::path& hostPath) {
    return HostPathInside(hostPath, machine.PrefixDir());
}

// The host path of the folder's parent when that parent is inside the prefix, creating the
// missing folders of it only below an ancestor that is.
std::optional<fs::path> ParentInsidePrefix(Machine& machine, const WindowsPathParts& parts) {
    WindowsPathParts parent = parts;
    parent.components.pop_back();
    WindowsPathParts existing = parent;
    for (;;) {
        auto host = machine.Paths().HostPath(existing, false);
        if (host) {
            if (!InsidePrefix(machine, *host)) return std::nullopt;
            break;
        }
        if (existing.components.empty()) return std::nullopt;
        existing.components.pop_back();
    }
    FileSystemAccess files(machine);
    if (!files.CreateDirectoryPath(parent.Text())) return std::nullopt;
    auto host = files.ToHostPath(parent.Text());
    // Checked again: a folder made since may have been replaced by a link.
    if (!host || !InsidePrefix(machine, *host)) return std::nullopt;
    return host;
}

// The host path of `folder` when it is a real folder (no link) inside the prefix.
std::optional<fs::path> RealFolderInsidePrefix(Machine& machine, const std::string& folder) {
    auto host = FileSystemAccess(machine).ToHostPath(folder);
    struct stat st {};
    if (!host || ::lstat(host->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    if (!InsidePrefix(machine, *host)) return std::nullopt;
    return host;
}

}  // namespace

bool PrepareScratchFolder(Machine& machine, const std::string& folder, bool keepSubfolders) {
    auto parts = machine.Paths().Parse(folder);
    if (!parts || parts->components.empty()) return false;
    auto parent = ParentInsidePrefix(machine, *parts);
    if (!parent) return false;
    auto host = FileSystemAccess(machine).ToHostPath(folder, true);
    if (!host || host->parent_path() != *parent) return false;
    struct stat st {};
    if (::lstat(host->c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // The link goes, never what it points to.
            bool removed = ::unlink(host->c_str()) == 0;
            machine.Paths().Invalidate(*parent);
            if (!removed) return false;
        } else if (!S_ISDIR(st.st_mode)) {
            return false;
        }
    }
    if (::lstat(host->c_str(), &st) != 0) {
        bool made = ::mkdir(host->c_str(), 0777) == 0;
        machine.Paths().Invalidate(*parent);
        if (!made) return false;
    }
    return ClearScratchFolder(machine, folder, keepSubfolders);
}

bool ClearScratchFolder(Machine& machine, const std::string& folder, bool keepSubfolders) {
    if (!RealFolderInsidePrefix(machine, folder)) return false;
    return FileSystemAccess(machine).ClearDirectory(folder, keepSubfolders);
}

}  // namespace hivewise
