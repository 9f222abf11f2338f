#pragma once

#include <string>
#include <string_view>

#include "platform/registry/registry_access.h"

// Where removed entries are parked under the product's key of HKEY_CURRENT_USER, and
// the operations that park them. Every removal parks its entry first, so that the
// restore dialog can put it back.
namespace hivewise {

constexpr std::string_view kRunKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kUserRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kBhoKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr std::string_view kUninstallKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::string_view kCurrentVersionKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

constexpr std::string_view kRunLMBkupPath = "Software\\Hivewise\\RunLMBkup";
constexpr std::string_view kRunCUBkupPath = "Software\\Hivewise\\RunCUBkup";
constexpr std::string_view kBhoBkupPath = "Software\\Hivewise\\BHOBkup";
constexpr std::string_view kUninstallBkupPath = "Software\\Hivewise\\UninstallBkup";

// One row of the startup program manager: a value of a Run key.
struct StartupEntry {
    int machineWide = 0;      // 1: HKEY_LOCAL_MACHINE's Run key; 0: the user's
    std::string programName;  // the value's name
    std::string runPath;      // its data, as text
};

// The value is copied to RunLMBkup or RunCUBkup with its type and data as stored, so
// that an expandable command comes back expandable. A later parking of the same name
// replaces the older copy. False when nothing was parked.
bool ParkStartupEntry(RegistryAccess& registry, const StartupEntry& entry);

// The parking value "path?name" = the class identifier, in BHOBkup. The object's whole
// key is copied too, as the sub-key of BHOBkup named by the class identifier, so that
// its other values come back with it. False when either could not be written.
bool ParkBho(RegistryAccess& registry, std::string_view classId, std::string_view parkingName);

// A complete copy of the uninstall key `subKeyName` at UninstallBkup\`subKeyName`,
// replacing an older copy. False when the copy is not complete.
bool ParkUninstallEntry(RegistryAccess& registry, std::string_view subKeyName);

// The key path `parent`\`child`.
std::string JoinKey(std::string_view parent, std::string_view child);

}  // namespace hivewise
