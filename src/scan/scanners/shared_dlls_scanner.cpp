#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/missing_file_checks.h"

namespace hivewise {
namespace {

constexpr int kSectionSharedDlls = 6;
constexpr std::string_view kSharedDllsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

}  // namespace

void ScanSharedDlls(ScanContext& context) {
    using namespace file_list;
    const std::string location = std::string(kLongMachineRoot) + "\\" + std::string(kSharedDllsKey);
    // The path is the value's name; its data, a use counter, does not matter here.
    MissingFileChecks checks(context, kSectionSharedDlls, std::nullopt);
    WalkKey(context, kSharedDllsKey, Items::Values,
            [&](RegHandle, uint32_t, const std::string& name) {
                checks.Check(name, location, name);
                context.SetStatusLine(location, name);
                context.PumpMessages();
                return After::Step;
            });
    checks.Finish();
}

}  // namespace hivewise
