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

// A parked copy is replaced only by the same entry parked again. Another entry of the
// same name is parked as "name (2)", "name (3)" ..., and the name it stands for is kept
// under ParkedNames\<area>, where the areas' older readers never look.
constexpr std::string_view kParkedNamesPath = "Software\\Hivewise\\ParkedNames";

// The value is copied to RunLMBkup or RunCUBkup with its type and data as stored, so
// that an expandable command comes back expandable. A value of the same name parked
// before is replaced only when it holds the same type and data. False when nothing was
// parked.
bool ParkStartupEntry(RegistryAccess& registry, const StartupEntry& entry);

// The parking value "path?name" = the class identifier, in BHOBkup; a parking of the
// same name is replaced only when it holds the same class identifier. The object's
// whole key is copied too, as the sub-key of BHOBkup named by the class identifier, so
// that its other values come back with it. False when either could not be written.
bool ParkBho(RegistryAccess& registry, std::string_view classId, std::string_view parkingName);

// A complete copy of the uninstall key `subKeyName` at UninstallBkup\`subKeyName`; an
// older copy there is replaced only when it holds the same. False when the copy is not
// complete.
bool ParkUninstallEntry(RegistryAccess& registry, std::string_view subKeyName);

// The name of the entry parked in `area` (one of the paths above) as `parkingName`:
// itself, or the name that a second parking of that name stands for.
std::string ParkedEntryName(RegistryAccess& registry, std::string_view area,
                            std::string_view parkingName);
// Drops the record of that name, once the parked copy is gone.
void ForgetParkedEntryName(RegistryAccess& registry, std::string_view area,
                           std::string_view parkingName);

// The key path `parent`\`child`.
std::string JoinKey(std::string_view parent, std::string_view child);

}  // namespace hivewise
