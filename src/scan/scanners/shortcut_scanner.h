#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>

#include "scan/scan_context.h"

// The scan of shortcut files: a walk of a drive's folder tree that reports every small
// ".lnk" file whose target is a missing file on a fixed disk.
namespace hivewise {

// Status codes of the shortcut resolution, as the shell's link object gives them.
constexpr long kShellOk = 0;
constexpr long kShellNoPath = 1;                               // S_FALSE: no file system target
constexpr long kShellFail = static_cast<int32_t>(0x80004005);  // E_FAIL: not a readable link

// Section 14: walks the folder tree below `folder` (a Windows path such as "C:\"). Links
// are followed, but no folder is entered twice, so the walk ends on any tree.
void ScanShortcuts(ScanContext& context, const std::string& folder);

// The section's scanner as the driver calls it: the walk of the system drive's root.
void ScanSystemDriveShortcuts(ScanContext& context);

// Targets resolved during one scan, by the text the shortcut holds: many shortcuts (menu,
// desktop, quick launch) name the same program, and a scan changes no file.
class ShortcutTargets {
  public:
    // What `linkPath` resolves to: its short form where it exists, then that turned into
    // its long form by ExpandLongPath.
    std::string Resolve(FileSystemAccess& files, const std::string& linkPath);

  private:
    // Bounded, so that a drive of countless shortcuts cannot fill the memory.
    static constexpr size_t kLimit = 1 << 16;
    std::unordered_map<std::string, std::string> known_;
};

// The target of the shortcut file `shortcut` (a Windows path) and its description.
// The target is the shortcut's local path, else its environment-variables location
// expanded, else the path of its item list; in short form when it exists, then turned
// into its long form by ExpandLongPath. A shortcut that cannot be read leaves both
// texts empty. Returns the status of the last step.
long ResolveShortcut(FileSystemAccess& files, const std::string& shortcut, std::string* target,
                     std::string* description);
// The same for a shortcut file given by its host path; with `known`, targets resolved
// before are taken from it.
long ResolveShortcutFile(FileSystemAccess& files, const std::filesystem::path& hostPath,
                         std::string* target, std::string* description,
                         ShortcutTargets* known = nullptr);

// The long form of an existing drive path ("C:\PROGRA~1\x" gives "C:\Program Files\x"),
// built name by name as the folders list them. Returns its length, or 0 (leaving
// `longPath` empty) when the path does not exist, is no drive path or has no long form
// within MAX_PATH.
size_t ExpandLongPath(FileSystemAccess& files, const std::string& path, std::string* longPath);

}  // namespace hivewise
