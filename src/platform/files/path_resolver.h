#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Turns Windows paths of a machine into host paths and back, matching each component
// without regard to case through cached folder listings.
namespace hivewise {

class Machine;
namespace path_detail {
struct Listing;
}

// One entry of a host folder as Windows sees it.
struct FolderEntry {
    std::string hostName;   // the name on the host (UTF-8)
    std::string name;       // the long name in ANSI
    std::string shortName;  // the upper-case 8.3 name; empty when not looked up
};

// An absolute Windows path taken apart, with "." and ".." applied.
struct WindowsPathParts {
    bool unc = false;
    char drive = 0;      // upper case; for drive paths
    std::string server;  // for UNC paths
    std::string share;
    std::vector<std::string> components;

    // "C:\a\b", "C:\" or "\\server\share\a".
    std::string Text() const;
    // The length of Text().
    size_t TextSize() const;
};

class PathResolver {
  public:
    explicit PathResolver(Machine& machine);
    ~PathResolver();

    // The host path of an existing file or folder, or of where a new entry would go
    // (`mayNotExist`: the last component need not exist, its parent must).
    std::optional<std::filesystem::path> ToHost(const std::string& windowsPath,
                                                bool mayNotExist = false);
    // The same for a path already taken apart, as host path text.
    std::optional<std::string> HostPath(const WindowsPathParts& parts, bool mayNotExist = false);
    // The host path of the components exactly as written, without touching the disk;
    // none when no name could be written so.
    std::optional<std::string> WrittenPath(const WindowsPathParts& parts);
    // The Windows path that reaches a host path through the drive table, if any.
    std::optional<std::string> ToWindows(const std::filesystem::path& hostPath) const;

    // The absolute form of a Windows path (relative ones against the program folder),
    // without touching the disk. Empty for text that is no valid path.
    std::optional<WindowsPathParts> Parse(const std::string& windowsPath) const;
    std::optional<std::string> FullPath(const std::string& windowsPath) const;

    // GetShortPathNameA and GetLongPathNameA of an existing file or folder.
    std::optional<std::string> ShortPath(const std::string& windowsPath);
    std::optional<std::string> LongPath(const std::string& windowsPath);

    // The entries of a host folder in the folder's sorted order, with short names.
    std::optional<std::vector<FolderEntry>> List(const std::filesystem::path& hostFolder);
    // Gives `entry` (when not null) the short name its folder's listing holds for its host
    // name; false when the folder cannot be listed.
    bool CompleteEntry(const std::filesystem::path& hostFolder, FolderEntry* entry);
    // The entry of a host folder that an ANSI name (long or short) stands for.
    std::optional<FolderEntry> Lookup(const std::filesystem::path& hostFolder,
                                      const std::string& ansiName);

    // While one lives, a folder listing found current once is trusted without a new look
    // at the folder: for a scan, which changes no file and judges the machine as it was
    // when it began. The layer's own changes still reach the cache (Invalidate).
    class Snapshot {
      public:
        explicit Snapshot(PathResolver& resolver);
        ~Snapshot();
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;

      private:
        PathResolver& resolver_;
    };
    // Whether a snapshot is in force.
    bool Snapshotting() const;

    // Keeps the listing cache current after the layer changed a folder.
    void Invalidate(const std::filesystem::path& hostFolder);
    void InvalidateAll();

  private:
    struct Impl;
    struct FolderRecord;
    // One name looked up in a host folder during a walk.
    struct Step;
    std::optional<std::filesystem::path> Walk(const WindowsPathParts& parts, bool mayNotExist,
                                              std::vector<FolderEntry>* trail);
    std::optional<FolderEntry> LookupInListing(const std::filesystem::path& hostFolder,
                                               const std::string& ansiName);
    using Listing = path_detail::Listing;
    Step LookUp(const std::string& folder, const std::string& ansiName,
                const struct stat* knownDir = nullptr, const Listing* trusted = nullptr);
    std::optional<std::string> WalkFolders(const WindowsPathParts& parts, const std::string& root,
                                           const std::string& written);
    std::optional<std::string> LastStep(const std::string& folder, const std::string& ansiName,
                                        bool mayNotExist, bool* folderMissing,
                                        const struct stat* knownDir = nullptr,
                                        const Listing* trusted = nullptr);
    static std::string WrittenFolder(const std::string& root, const WindowsPathParts& parts);
    // In a snapshot, whether the listing of the folder holding `written` (a folder's path as
    // written), found current, lacks `ansiName`, its last name: a missing folder then costs
    // no look at the disk.
    bool ListedAsMissing(const std::string& written, const std::string& ansiName);
    std::unique_ptr<Impl> impl_;
    Machine& machine_;
};

}  // namespace hivewise
