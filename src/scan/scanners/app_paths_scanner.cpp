#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/missing_file_checks.h"

namespace hivewise {
namespace {

constexpr int kSectionAppPaths = 4;
constexpr std::string_view kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr size_t kDefaultValueCapacity = 255;

// Only the two spellings installers write are replaced here; the reference test's own
// expansion covers the rest.
std::string NormaliseAppPath(FileSystemAccess& files, std::string text) {
    using file_list::ReplaceAllWith;
    auto windows = [&] { return files.WindowsDirectory(); };
    auto programFiles = [&] { return files.ProgramFilesDirectory(); };
    text = ReplaceAllWith(std::move(text), "%SystemRoot%", windows);
    text = ReplaceAllWith(std::move(text), "%systemroot%", windows);
    text = ReplaceAllWith(std::move(text), "%ProgramFiles%", programFiles);
    text = ReplaceAllWith(std::move(text), "%programfiles%", programFiles);
    return text;
}

}  // namespace

void ScanAppPaths(ScanContext& context) {
    using namespace file_list;
    RegistryAccess& registry = context.Registry();
    MissingFileChecks checks(context, kSectionAppPaths, ResourceText(kIdsDefaultValueName));
    WalkKey(context, kAppPathsKey, Items::SubKeys,
            [&](RegHandle walked, uint32_t, const std::string& name) {
                // The entry's key, opened below the walked key that its path names.
                ScopedKey entry(registry);
                if (registry.OpenKey(walked, name, kKeyAllAccess, &entry) != kErrorSuccess) {
                    return After::Step;
                }
                std::string path = std::string(kAppPathsKey) + "\\" + name;
                std::string data;
                if (!ReadText(registry, entry, "", kDefaultValueCapacity, &data)) {
                    return After::Step;
                }
                std::string reference = NormaliseAppPath(context.Files(), std::move(data));
                std::string location = std::string(kLongMachineRoot) + "\\" + path;
                checks.Check(reference, location, reference);
                context.SetStatusLine(std::move(location));
                context.PumpMessages();
                return After::Step;
            });
    checks.Finish();
}

}  // namespace hivewise
