#pragma once

#include <array>
#include <optional>
#include <string_view>

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

}  // namespace hivewise
