#include "scan/scanners/missing_file_checks.h"

#include "scan/reference_tests.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/registry_scanner.h"

namespace hivewise {

MissingFileChecks::MissingFileChecks(ScanContext& context, int sectionId,
                                     std::optional<std::string_view> valueName)
    : context_(context),
      sectionId_(sectionId),
      valueName_(valueName),
      checks_([this](std::string_view reference, std::string_view location,
                     std::string_view itemText) { return Finding(reference, location, itemText); },
              [this](std::unique_ptr<Problem> finding) { Report(std::move(finding)); }) {}

void MissingFileChecks::Check(std::string_view reference, std::string_view location,
                              std::string_view itemText) {
    checks_.Push(reference, location, itemText);
}

std::unique_ptr<Problem> MissingFileChecks::Finding(std::string_view reference,
                                                    std::string_view location,
                                                    std::string_view itemText) {
    // References the walk gave before an abort are dropped, as the walk would have stopped.
    if (!context_.Continue() || FileReferenceExists(context_.Refs(), reference)) return nullptr;
    return file_list::MissingFileFinding(sectionId_, itemText, location,
                                         valueName_ ? std::string_view(*valueName_) : reference,
                                         reference);
}

void MissingFileChecks::Report(std::unique_ptr<Problem> finding) {
    if (context_.Continue()) context_.Report(std::move(finding));
}

void MissingFileChecks::Finish() {
    checks_.Finish();
    for (size_t faults = checks_.TakeFaults(); faults > 0; --faults)
        context_.ShowMessage(std::string(kInternalErrorText));
}

}  // namespace hivewise
