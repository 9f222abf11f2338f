#include <array>
#include <string>
#include <string_view>

#include "scan/scanners/classes_root_walk.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/program_lookup.h"
#include "scan/scanners/startup_scanners.h"

namespace hivewise {
namespace {

using classes_root::After;

constexpr int kSectionSounds = 12;
constexpr std::string_view kAppsKey = "AppEvents\\Schemes\\Apps";
using file_list::kLongUserRoot;
constexpr std::array<std::string_view, 2> kSchemeKeys = {".Current", ".Default"};
constexpr size_t kDataCapacity = 260;

// The sound's file as the player finds it: a bare name in the Windows "media" folder or
// on the search path, ".wav" added when it has no extension.
bool SoundFound(ScanContext& context, const std::string& data) {
    const ReferenceContext& refs = context.Refs();
    std::string path = program_lookup::Trim(program_lookup::Expand(refs, data));
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
        path = program_lookup::Trim(std::string_view(path).substr(1, path.size() - 2));
    }
    if (path.find_first_of("\\/:") == std::string::npos && !path.empty()) {
        const std::string media = context.Files().WindowsDirectory() + "\\media\\" + path;
        if (context.Files().PathFileExists(media)) return true;
        if (path.find('.') == std::string::npos && context.Files().PathFileExists(media + ".wav")) {
            return true;
        }
    }
    return program_lookup::FileFound(refs, path, ".wav");
}

// The sound of one event of one scheme: the default value of its scheme key. Empty data
// is "no sound".
void CheckScheme(ScanContext& context, const std::string& keyPath) {
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyCurrentUser, keyPath, kKeyRead, &key) != kErrorSuccess) return;
    std::string data;
    bool read = file_list::ReadText(registry, key, "", kDataCapacity, &data);
    if (!read || data.empty()) return;
    const std::string location = std::string(kLongUserRoot) + "\\" + keyPath + "\\" + data;
    if (!SoundFound(context, data)) {
        file_list::ReportMissingFile(context, kSectionSounds, data, location,
                                     ResourceText(kIdsDefaultValueName), data);
    }
    context.SetStatusLine(location);
    context.PumpMessages();
}

// Runs `onName(path)` for each sub-key of `path` under the user's root.
template <typename OnName>
void ForEachUserSubKey(ScanContext& context, const std::string& path, OnName&& onName) {
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyCurrentUser, path, kKeyRead, &key) != kErrorSuccess) return;
    classes_root::ForEachSubKey(
        context, key,
        [&](RegHandle, const std::string& name) {
            onName(path + "\\" + name);
            return After::NoStep;
        },
        [] { return After::NoStep; });
}

}  // namespace

void ScanSoundEvents(ScanContext& context) {
    ForEachUserSubKey(context, std::string(kAppsKey), [&](const std::string& app) {
        ForEachUserSubKey(context, app, [&](const std::string& event) {
            for (std::string_view scheme : kSchemeKeys) {
                CheckScheme(context, event + "\\" + std::string(scheme));
            }
        });
    });
}

}  // namespace hivewise
