#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/file_list_walk.h"

namespace hivewise {
namespace {

constexpr int kSectionHelpFiles = 7;
constexpr std::string_view kHelpKey = "SOFTWARE\\Microsoft\\Windows\\Help";
constexpr size_t kFolderCapacity = 260;

}  // namespace

void ScanHelpFiles(ScanContext& context) {
    using namespace file_list;
    const std::string location = std::string(kLongMachineRoot) + "\\" + std::string(kHelpKey);
    WalkKey(context, kHelpKey, Items::Values,
            [&](RegHandle key, uint32_t index, const std::string& name) {
                std::string folder;
                if (!ReadTextAt(context.Registry(), key, index, kFolderCapacity, &folder)) {
                    return After::Step;
                }
                // Installers write the folder with a trailing backslash; it is the same folder.
                while (!folder.empty() && folder.back() == '\\')
                    folder.pop_back();
                std::string combined = folder + "\\" + name;
                if (!FileReferenceExists(context.Refs(), combined)) {
                    ReportMissingFile(context, kSectionHelpFiles, combined, location, name,
                                      combined);
                }
                context.SetStatusLine(location, name);
                context.PumpMessages();
                return After::Step;
            });
}

}  // namespace hivewise
