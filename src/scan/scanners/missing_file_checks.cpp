#include "scan/scanners/missing_file_checks.h"

#include <string>

#include "scan/reference_tests.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/registry_scanner.h"

namespace hivewise {

MissingFileChecks::MissingFileChecks(ScanContext& context, int sectionId)
    : context_(context),
      sectionId_(sectionId),
      checks_([this](std::string_view reference, std::string_view location,
                     std::string_view valueName) { CheckNow(reference, location, valueName); }) {}

void MissingFileChecks::Check(std::string_view reference, std::string_view location,
                              std::string_view valueName) {
    checks_.Push(reference, location, valueName);
}

void MissingFileChecks::CheckNow(std::string_view reference, std::string_view location,
                                 std::string_view valueName) {
    // References the walk gave before an abort are dropped, as the walk would have stopped.
    if (!context_.Continue()) return;
    if (FileReferenceExists(context_.Refs(), reference)) return;
    file_list::ReportMissingFile(context_, sectionId_, reference, location, valueName, reference);
}

void MissingFileChecks::Finish() {
    checks_.Finish();
    for (size_t faults = checks_.TakeFaults(); faults > 0; --faults)
        context_.ShowMessage(std::string(kInternalErrorText));
}

}  // namespace hivewise
