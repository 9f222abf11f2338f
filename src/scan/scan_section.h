#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "scan/problem.h"

// The sixteen scan sections: the fixed table the main window, the scan driver, the
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

constexpr int kSectionCount = 16;

// The table, indexed by id.
const std::array<ScanSection, kSectionCount>& ScanSections();
// The row of an id, or null for an id outside 0..15.
const ScanSection* FindSection(int id);
// Ids in scan-position order.
std::array<int, kSectionCount> SectionsInScanOrder();

// What the repair of a section's finding takes away: the key at the finding's location
// with everything below it, one value of that key, the file the finding names inside the
// machine, or a file of the user's desktop outside it (with Wine's record of it).
enum class FindingScope { kNone, kKey, kValue, kFile, kHostFile };
FindingScope ScopeOf(int sectionId);

// The key a registry finding names: its location, but for a sound, whose location is the
// sound key followed by the sound's data (a key that does not exist), the sound key.
std::string_view FindingKeyPath(const Problem& problem);

}  // namespace hivewise
