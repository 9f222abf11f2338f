#include "scan/scan_driver.h"

#if __has_include("scan/scanners/file_list_scanners.h")
#include "scan/scanners/file_list_scanners.h"
#define HIVEWISE_HAVE_FILE_LIST_SCANNERS 1
#endif
#if __has_include("scan/scanners/com_scanners.h")
#include "scan/scanners/com_scanners.h"
#define HIVEWISE_HAVE_COM_SCANNERS 1
#endif
#if __has_include("scan/scanners/association_scanner.h")
#include "scan/scanners/association_scanner.h"
#define HIVEWISE_HAVE_ASSOCIATION_SCANNER 1
#endif
#include "scan/scanners/registry_scanner.h"
#include "scan/scanners/services_scanner.h"

namespace hivewise {

// Sections listed in scan order; each section's scanners run in the order given here.
ScannerTable BuiltInScanners() {
    ScannerTable table;
#ifdef HIVEWISE_HAVE_COM_SCANNERS
    table[1] = {ScanClassServers};
#endif
#ifdef HIVEWISE_HAVE_FILE_LIST_SCANNERS
    table[4] = {ScanAppPaths};
    table[7] = {ScanHelpFiles};
    table[6] = {ScanSharedDlls};
    table[5] = {ScanFonts};
    table[3] = {ScanUninstallEntries};
#endif
#ifdef HIVEWISE_HAVE_COM_SCANNERS
    table[2] = {ScanProgIds, ScanTypeLibraries};
#endif
#ifdef HIVEWISE_HAVE_ASSOCIATION_SCANNER
    table[11] = {ScanFileAssociations};
#endif
    table[13] = {ScanMachineRegistry, ScanUserRegistry};
    table[9] = {ScanSystemServices};
    table[10] = {ScanVxdSection};
    return table;
}

}  // namespace hivewise
