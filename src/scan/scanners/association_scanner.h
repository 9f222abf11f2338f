#pragma once

#include <string>
#include <string_view>

#include "platform/registry/registry_access.h"
#include "scan/scan_context.h"

// The file-association scanner: every extension registered under HKEY_CLASSES_ROOT
// whose association leads nowhere.
namespace hivewise {

// Section 11: the extensions, then the verbs' commands and default icons of every class
// (each key of HKEY_CLASSES_ROOT and of the user's Software\Classes, and each program
// under "Applications") that name a program or icon file that is gone.
void ScanFileAssociations(ScanContext& context);

// The commands and icon of the class key `name` of HKEY_CLASSES_ROOT (for "Applications",
// of each program below it).
void CheckClassCommands(ScanContext& context, const std::string& name);

// The same for every class of HKEY_CURRENT_USER\Software\Classes.
void ScanUserClassCommands(ScanContext& context);

// Whether some direct sub-key S of `keyPath` under `root` has a sub-key "ShellNew".
// The search ends, answering false, once the continue flag is cleared.
bool HasShellNewBelow(ScanContext& context, RegHandle root, std::string_view keyPath);

}  // namespace hivewise
