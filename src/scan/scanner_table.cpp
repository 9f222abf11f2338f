#include "scan/scan_driver.h"
#include "scan/scanners/association_scanner.h"
#include "scan/scanners/com_scanners.h"
#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/menu_entries_scanner.h"
#include "scan/scanners/registry_scanner.h"
#include "scan/scanners/services_scanner.h"
#include "scan/scanners/shortcut_scanner.h"
#include "scan/scanners/startup_scanners.h"

namespace hivewise {

// Sections listed in scan order; each section's scanners run in the order given here.
ScannerTable BuiltInScanners() {
    ScannerTable table;
    table[1] = {ScanClassServers};
    table[4] = {ScanAppPaths};
    table[7] = {ScanHelpFiles};
    table[6] = {ScanSharedDlls};
    table[5] = {ScanFonts};
    table[3] = {ScanUninstallEntries};
    table[2] = {ScanProgIds, ScanTypeLibraries};
    table[11] = {ScanFileAssociations};
    // The per-user passes follow the complete scan's walks of the two roots.
    table[13] = {ScanMachineRegistry, ScanUserRegistry, ScanUsersHive, ScanUserAssist};
    table[9] = {ScanSystemServices};
    table[10] = {ScanVxdSection};
    table[8] = {ScanStartupPrograms};
    table[12] = {ScanSounds};
    table[14] = {ScanSystemDriveShortcuts};
    table[15] = {ScanMenuEntries};
    return table;
}

}  // namespace hivewise
