#pragma once

#include <string>
#include <string_view>

#include "scan/scan_context.h"

// The complete registry scan: drive-letter paths to missing files in the string values
// of a whole registry root, outside the class registrations other sections cover.
namespace hivewise {

constexpr int kSectionCompleteScan = 13;

// The message box of a root the walk cannot open (a fault inside it shows
// kInternalErrorText).
constexpr std::string_view kRegOpenFailedText = "RegOpenKeyEx FAILED";

// Section 13: the walk of the whole of HKEY_LOCAL_MACHINE, run when its SOFTWARE key opens.
void ScanMachineRegistry(ScanContext& context);

// Section 13: the same for HKEY_CURRENT_USER.
void ScanUserRegistry(ScanContext& context);

// Examines every string value of `key` (an open key or a root handle) and of every key
// below it whose name does not contain "classes"; `path` is the key's text path, such as
// "HKEY_USERS". Each key is visited once, however many links lead to it; the key `skip`
// (when not 0) is not entered.
void WalkRegistryTree(ScanContext& context, RegHandle key, const std::string& path,
                      RegHandle skip = 0);

}  // namespace hivewise
