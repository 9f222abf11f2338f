#pragma once

#include "scan/scan_context.h"

// Scanners of the file references kept in well-known keys of HKEY_LOCAL_MACHINE: each
// walks one key, judges every reference with FileReferenceExists and reports the
// missing ones with the "file does not exist" text.
namespace hivewise {

// Section 4: the program file named by the default value of every
// SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\<name> key.
void ScanAppPaths(ScanContext& context);

// Section 7: every value of SOFTWARE\Microsoft\Windows\Help (file name in the value's
// name, its folder in the data).
void ScanHelpFiles(ScanContext& context);

// Section 6: every value name of SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs.
void ScanSharedDlls(ScanContext& context);

// Section 5: the file of every value of SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts.
void ScanFonts(ScanContext& context);

// Section 3: the "UninstallString" of every entry of the add/remove programs list
// (SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall) that is not a system component.
void ScanUninstallEntries(ScanContext& context);

}  // namespace hivewise
