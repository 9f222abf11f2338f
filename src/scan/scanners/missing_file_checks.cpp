#include "scan/scanners/missing_file_checks.h"

#include "scan/reference_tests.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/registry_scanner.h"

namespace hivewise {
namespace {

// A section's list of a few thousand files gains from the second thread from early on.
constexpr OrderedHandOff::Limits kLimits{.handledAtOnce = 512};

}  // namespace

MissingFileChecks::MissingFileChecks(ScanContext& context, int sectionId,
                                     std::optional<std::string_view> valueName)
    : context_(context),
      sectionId_(sectionId),
      valueName_(valueName),
      checks_([this](std::string_view reference, std::string_view,
                     std::string_view) { return IsMissing(reference); },
              [this](std::string_view reference, std::string_view location,
                     std::string_view itemText) { Report(reference, location, itemText); },
              kLimits) {}

void MissingFileChecks::Check(std::string_view reference, std::string_view location,
                              std::string_view itemText) {
    checks_.Push(reference, location, itemText);
}

bool MissingFileChecks::IsMissing(std::string_view reference) {
    // References the walk gave before an abort are dropped, as the walk would have stopped.
    return context_.Continue() && !FileReferenceExists(context_.Refs(), reference);
}

void MissingFileChecks::Report(std::string_view reference, std::string_view location,
                               std::string_view itemText) {
    if (!context_.Continue()) return;
    file_list::ReportMissingFile(context_, sectionId_, itemText, location,
                                 valueName_ ? std::string_view(*valueName_) : reference, reference);
}

void MissingFileChecks::Finish() {
    checks_.Finish();
    for (size_t faults = checks_.TakeFaults(); faults > 0; --faults)
        context_.ShowMessage(std::string(kInternalErrorText));
}

}  // namespace hivewise
