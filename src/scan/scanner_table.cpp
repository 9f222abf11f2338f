#include "scan/scan_driver.h"

#if __has_include("scan/scanners/file_list_scanners.h")
#include "scan/scanners/file_list_scanners.h"
#define HIVEWISE_HAVE_FILE_LIST_SCANNERS 1
#endif
#include "scan/scanners/shortcut_scanner.h"
#include "scan/scanners/startup_scanners.h"

namespace hivewise {

// Sections listed in scan order; each section's scanners run in the order given here.
ScannerTable BuiltInScanners() {
    ScannerTable table;
#ifdef HIVEWISE_HAVE_FILE_LIST_SCANNERS
    table[4] = {ScanAppPaths};
    table[7] = {ScanHelpFiles};
    table[6] = {ScanSharedDlls};
    table[5] = {ScanFonts};
    table[3] = {ScanUninstallEntries};
#endif
    table[8] = {ScanStartupPrograms};
    table[12] = {ScanSounds};
    table[14] = {ScanSystemDriveShortcuts};
    // The per-user passes follow the complete scan's walks of the two roots.
#if __has_include("scan/scanners/registry_scanner.h")
    table[13].push_back(ScanUsersHive);
#endif
    table[13].push_back(ScanUserAssist);
    return table;
}

}  // namespace hivewise
