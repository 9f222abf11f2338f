#pragma once

#include <filesystem>
#include <string>

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

// The target of the shortcut file `shortcut` (a Windows path) and its description.
// The target is the shortcut's local path, else its environment-variables location
// expanded, else the path of its item list; in short form when it exists, then turned
// into its long form by ExpandLongPath. A shortcut that cannot be read leaves both
// texts empty. Returns the status of the last step.
long ResolveShortcut(FileSystemAccess& files, const std::string& shortcut, std::string* target,
                     std::string* description);
// The same for a shortcut file given by its host path.
long ResolveShortcutFile(FileSystemAccess& files, const std::filesystem::path& hostPath,
                         std::string* target, std::string* description);

// The long form of an existing drive path ("C:\PROGRA~1\x" gives "C:\Program Files\x"),
// built name by name as the folders list them. Returns its length, or 0 (leaving
// `longPath` empty) when the path does not exist, is no drive path or has no long form
// within MAX_PATH.
size_t ExpandLongPath(FileSystemAccess& files, const std::string& path, std::string* longPath);

}  // namespace hivewise
