#pragma once

#include <string_view>

#include "platform/registry/registry_access.h"
#include "scan/scan_context.h"

// The file-association scanner: every extension registered under HKEY_CLASSES_ROOT
// whose association leads nowhere.
namespace hivewise {

// Section 11.
void ScanFileAssociations(ScanContext& context);

// Whether some direct sub-key S of `keyPath` under `root` has a sub-key "ShellNew".
// The search ends, answering false, once the continue flag is cleared.
bool HasShellNewBelow(ScanContext& context, RegHandle root, std::string_view keyPath);

}  // namespace hivewise
