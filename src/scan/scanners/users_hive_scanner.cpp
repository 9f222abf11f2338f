#include "scan/scanners/startup_scanners.h"

// The pass over HKEY_USERS is the complete scan's registry walk on another root; it is
// built when that walk is.
#if __has_include("scan/scanners/registry_scanner.h")
#include "scan/scanners/registry_scanner.h"

namespace hivewise {

void ScanUsersHive(ScanContext& context) {
    WalkRegistryTree(context, kHkeyUsers, "HKEY_USERS");
}

}  // namespace hivewise
#endif
