#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/path_resolver.h"
#include "platform/machine/machine.h"

// The file half of the platform layer: files, folders, drives, the environment and
// program launch of a machine, with ANSI Windows paths and the Win32 rules callers
// depend on (attributes, buffer limits, what counts as missing).
namespace hivewise {

constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

// MAX_PATH, terminator included.
constexpr size_t kMaxPath = 260;

struct FindEntry {
    std::string name;       // long name (ANSI; '?' for characters it cannot hold)
    std::string shortName;  // 8.3 name, upper case; the name itself upper-cased when legal 8.3
    uint32_t attributes = 0;
    uint64_t size = 0;
};

class FileSystemAccess {
  public:
    // The name CopyFile's temporary copy starts with, in the target's folder.
    static constexpr std::string_view kCopyPrefix = ".hivewise-copy-";

    explicit FileSystemAccess(Machine& machine) : machine_(machine) {}

    // Folders of the machine, without a trailing backslash.
    std::string WindowsDirectory() const;
    std::string SystemDirectory() const;
    std::string ProgramFilesDirectory() const;
    std::string ExecutableDirectory() const;

    // ExpandEnvironmentStringsA: nothing when the result and its terminator exceed
    // `capacity` bytes.
    std::optional<std::string> ExpandEnvironmentStrings(std::string_view text,
                                                        size_t capacity = 32767) const;

    uint32_t GetFileAttributes(const std::string& path);
    bool IsDirectory(const std::string& path);
    bool PathFileExists(const std::string& path);
    // PathFindOnPathA: the full path found in the system folder, the Windows folder or
    // a folder of PATH.
    std::optional<std::string> PathFindOnPath(const std::string& name);

    DriveType GetDriveType(const std::string& root) const;
    // PathStripToRootA: "C:\", "\" or "\\server\share"; nothing when the path has no root.
    std::optional<std::string> PathStripToRoot(const std::string& path) const;
    bool IsNonFixedDrive(const std::string& path) const;
    std::vector<std::string> DriveRoots(size_t capacity) const;
    int DriveCount() const;

    // FindFirstFileA / FindNextFileA over a pattern: the matching entries in the
    // folder's order. Nothing when the folder cannot be read; empty when none match.
    std::optional<std::vector<FindEntry>> FindFiles(const std::string& pattern);

    bool DeleteFile(const std::string& path);
    // MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT).
    bool DeleteFileOnReboot(const std::string& path);
    // Overwrites an existing target; a failed copy leaves the target as it was.
    bool CopyFile(const std::string& from, const std::string& to);
    // Removes the temporary copies that copies killed before their end left beside `path`.
    void RemoveCopyLeftovers(const std::string& path);
    bool SetNormalAttributes(const std::string& path);
    bool CreateDirectory(const std::string& path);
    bool RemoveDirectory(const std::string& path);
    // GetTempPathA, with its trailing backslash; empty on failure.
    std::string TempPath() const;
    // GetShortPathNameA and GetLongPathNameA; empty on failure.
    std::string ShortPath(const std::string& path);
    std::string LongPath(const std::string& path);

    // Creates every missing folder of the path; true when the path is a folder after.
    bool CreateDirectoryPath(const std::string& path);
    // Deletes the folder's contents (sub-folders too unless `keepSubfolders`).
    bool ClearDirectory(const std::string& folder, bool keepSubfolders);
    bool LaunchProgram(const std::string& file, const std::string& parameters, bool wait);
    void ServiceMessageQueue();

    std::optional<std::filesystem::path> ToHostPath(const std::string& path,
                                                    bool mayNotExist = false);
    std::optional<std::string> ToWindowsPath(const std::filesystem::path& hostPath) const;

    // Whether a host path, its links resolved, lies inside the prefix's folder: what the
    // program may walk, delete or write. Wine links profile folders out to the home folder
    // and drive Z: to the host's root; nothing reached through them is the machine's.
    bool HostPathInPrefix(const std::filesystem::path& hostPath) const;
    // The same for a Windows path, resolved as deletion (the file exists) or copying
    // (`mayNotExist`: only its folder need exist) resolve it; false when it does not resolve.
    bool InPrefix(const std::string& path, bool mayNotExist = false);

  private:
    // The host path of a Windows path within MAX_PATH (`limit` bytes with terminator).
    std::optional<std::filesystem::path> Resolve(const std::string& path, bool mayNotExist,
                                                 size_t limit = kMaxPath);
    std::optional<std::string> ResolveText(const std::string& path, bool mayNotExist,
                                           size_t limit = kMaxPath);
    // The parts of a path whose text and full form fit `limit` bytes with terminator.
    std::optional<WindowsPathParts> PartsWithin(const std::string& path, size_t limit);
    Machine& machine_;
};

// Whether `hostPath` is `folder` or below it once both have their links resolved (for a
// path that does not exist yet, those of its existing part).
bool HostPathInside(const std::filesystem::path& hostPath, const std::filesystem::path& folder);

// The attributes Windows reports for a host file (`name` decides dot-file hiding).
uint32_t HostFileAttributes(const std::filesystem::path& hostPath, std::string_view name);

}  // namespace hivewise
