#include "scan/scanners/registry_scanner.h"
#include "scan/scanners/startup_scanners.h"

namespace hivewise {

// The pass over HKEY_USERS is the complete scan's registry walk on another root.
void ScanUsersHive(ScanContext& context) {
    WalkRegistryTree(context, kHkeyUsers, "HKEY_USERS");
}

}  // namespace hivewise
