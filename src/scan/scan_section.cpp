#include "scan/scan_section.h"

#include <algorithm>

namespace hivewise {

namespace {

constexpr std::string_view kVxdText =
    "Errors in this section refer to errors in virtual device drivers.  These may cause "
    "sporadic errors and system interruptions.";

constexpr std::array<ScanSection, kSectionCount> kSections = {{
    {0, "Registry Integrity", "Registry Integrity", "Check Registry Integrity", 1,
     "Errors in this section refer to certain corrupt sections of your registry."},
    {1, "ActiveX/Classes Section", "ActiveX/Classes Section", "", 4,
     "Errors in this section refer to invalid entries in your ActiveX/Classes section.  These "
     "may cause errors when attempting to run certain applications."},
    {2, "ProgramID Section", "Program ID Section", "Scan Program ID Section", 11,
     "Errors in this section refer to invalid entries in your ProgramID Section.  These may "
     "cause errors when attempting to run certain applications."},
    {3, "Add Remove Programs", "Add Remove Programs", "Scan Add/Remove Section", 10,
     "Errors in this section refer to programs that have been installed or uninstalled "
     "incorrectly or not completely.  These may cause invalid entries in your add/remove "
     "programs section of your control panel."},
    {4, "Application Paths", "Application Paths", "Scan Application Paths Section", 5,
     "Errors in this section refer to paths to applications within your computer.  These may "
     "cause errors when you attempt to access certain applications."},
    {5, "Windows Fonts", "Windows Fonts", "Scan Installed Windows Fonts", 9,
     "Errors in this section refer to missing fonts.  These may cause errors related to fonts "
     "or programs that utilize certain fonts."},
    {6, "Shared Program Files", "Shared Program Files", "Scan Shared Program Files", 8,
     "Errors in this section refer to Shared DLLs within your registry.  These may cause errors "
     "when attempting to access certain applications, as well as sporadic errors and system "
     "interruptions."},
    {7, "Help Files", "Help Files", "Scan Help Files Paths in Registry", 6,
     "Errors in this section refer to missing help files.  These may cause errors when "
     "attempting to access help documentation for certain programs."},
    {8, "Startup Programs", "Startup Programs", "Scan Startup Programs Section", 2,
     "Errors in this section refer to missing startup entries.  These may cause errors when you "
     "start up your computer."},
    {9, "System Services", "System Services", "Scan System Services Paths", 14, kVxdText},
    {10, "VXD Section", "VXD Section", "Scan VXD Section", 15, kVxdText},
    {11, "File Associations", "File Associations", "Scan InValid File Associations", 12,
     "Errors in this section refer to missing file associations.  These may cause errors when "
     "you attempt to access programs associated with certain types of files."},
    {12, "Sounds Section", "Sounds Section", "Scan System Sounds Section", 3,
     "These refer to missing sound files.  These may cause errors when certain Windows sound "
     "files are called by certain applications."},
    {13, "Complete Registry Scan", "Complete Registry Scan",
     "Perform Complete Registry Scan for Invalid Entries", 13,
     "These are invalid references located throughout your entire registry."},
    {14, "Invalid Shortcuts", "Invalid Shortcuts", "Scan All Drives for Invalid Shortcuts", 7,
     "Errors in this section refer to Windows shortcuts that are not pointing to valid file "
     "locations."},
    {15, "Linux Menu Entries", "Linux Menu Entries",
     "Scan Linux Menu Entries Left by Removed Programs and Prefixes", 16,
     "Errors in this section refer to menu entries, icons and file types that Wine added to "
     "your Linux desktop for programs or prefixes that no longer exist.  These may leave "
     "entries in your menus that do not start anything."},
}};

}  // namespace

const std::array<ScanSection, kSectionCount>& ScanSections() {
    return kSections;
}

const ScanSection* FindSection(int id) {
    if (id < 0 || id >= kSectionCount) return nullptr;
    return &kSections[static_cast<size_t>(id)];
}

std::array<int, kSectionCount> SectionsInScanOrder() {
    std::array<int, kSectionCount> ids{};
    for (const auto& s : kSections)
        ids[static_cast<size_t>(s.scanPosition - 1)] = s.id;
    return ids;
}

FindingScope ScopeOf(int sectionId) {
    switch (sectionId) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 9:
        case 10:
        case 11:
            return FindingScope::kKey;
        case 5:
        case 6:
        case 7:
        case 8:
        case 12:
        case 13:
            return FindingScope::kValue;
        case 14:
            return FindingScope::kFile;
        case 15:
            return FindingScope::kHostFile;
        default:
            return FindingScope::kNone;
    }
}

std::string_view FindingKeyPath(const Problem& problem) {
    const std::string_view location = problem.Location();
    const std::string_view data = problem.ValueData();
    // "<key>\<data>": the key is the location without the data.
    if (problem.sectionId == 12 && !data.empty() && location.size() > data.size() + 1 &&
        location.substr(location.size() - data.size()) == data &&
        location[location.size() - data.size() - 1] == '\\') {
        return location.substr(0, location.size() - data.size() - 1);
    }
    return location;
}

}  // namespace hivewise
