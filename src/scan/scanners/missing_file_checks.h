#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "scan/scan_context.h"
#include "scan/scanners/ordered_hand_off.h"

// The file references of one section's walk, checked on a second thread while the walk
// reads on (ordered_hand_off.h), and the missing ones reported back on the walk's thread:
// the findings come in the order the references were given, as if each had been checked
// where the walk met it.
//
// Threads. From the first reference given until Finish returns, the walk's thread leaves
// the context's Refs() to the checks.
namespace hivewise {

class MissingFileChecks {
  public:
    // The findings name the value `valueName`, or, without it, the value named by the
    // reference itself (a list of files kept as value names).
    MissingFileChecks(ScanContext& context, int sectionId,
                      std::optional<std::string_view> valueName);

    // Reports `reference` (the finding's value data) as a missing file of the value at
    // `location`, shown as `itemText`, unless it exists. Nothing once the scan is aborted.
    void Check(std::string_view reference, std::string_view location, std::string_view itemText);
    // Returns once every reference given has been checked. A check that failed on the
    // second thread shows the internal error message, as a key the walk lost does.
    void Finish();

  private:
    // On the checks' thread: the finding when the reference names nothing.
    std::unique_ptr<Problem> Finding(std::string_view reference, std::string_view location,
                                     std::string_view itemText);
    // On the walk's thread, in the order the references were given.
    void Report(std::unique_ptr<Problem> finding);

    ScanContext& context_;
    int sectionId_;
    std::optional<std::string> valueName_;
    // Last, so that it finishes its references before the rest goes.
    OrderedHandOff checks_;
};

}  // namespace hivewise
