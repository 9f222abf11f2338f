#include "scan/scanners/registry_scanner.h"
#include "scan/scanners/startup_scanners.h"

namespace hivewise {

// The pass over HKEY_USERS is the complete scan's registry walk on another root. The
// current user's own branch is HKEY_CURRENT_USER, which the pass before walked.
void ScanUsersHive(ScanContext& context) {
    WalkRegistryTree(context, kHkeyUsers, "HKEY_USERS", kHkeyCurrentUser);
}

}  // namespace hivewise
