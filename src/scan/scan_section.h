#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "scan/problem.h"

// The fifteen scan sections: the fixed table the main window, the scan driver, the
// scanners, the log and the repair all speak of.
namespace hivewise {

struct ScanSection {
    int id;
    std::string_view label;        // the check box's text
    std::string_view sectionName;  // the tick's setting name and the section list's row text
    std::string_view tooltip;      // empty: no tooltip
    int scanPosition;              // 1-based order of scanning and of the rows
    std::string_view description;
};

constexpr int kSectionCount = 15;

// The table, indexed by id.
const std::array<ScanSection, kSectionCount>& ScanSections();
// The row of an id, or null for an id outside 0..14.
const ScanSection* FindSection(int id);
// Ids in scan-position order.
std::array<int, kSectionCount> SectionsInScanOrder();

// What the repair of a section's finding takes away: the key at the finding's location
// with everything below it, one value of that key, or the file the finding names.
enum class FindingScope { kNone, kKey, kValue, kFile };
FindingScope ScopeOf(int sectionId);

// The key a registry finding names: its location, but for a sound, whose location is the
// sound key followed by the sound's data (a key that does not exist), the sound key.
std::string FindingKeyPath(const Problem& problem);

}  // namespace hivewise
