#include <string>
#include <string_view>

#include "scan/scanners/classes_root_walk.h"
#include "scan/scanners/com_scanners.h"

namespace hivewise {
namespace {

using classes_root::After;

constexpr int kSectionProgIds = 2;
constexpr std::string_view kTypeLibKey = "TypeLib";
constexpr size_t kExpandCapacity = 260;

// A library's registration is a handful of keys, four deep. A walk beyond these bounds is
// going round link keys that lead back into the tree (or down a hostile chain), and
// stops there; the continue flag lets the user stop it sooner.
constexpr int kMaxWalkDepth = 512;
constexpr unsigned kMaxKeysPerLibrary = 4096;

struct WalkLimits {
    int depth = 0;
    unsigned keysLeft = kMaxKeysPerLibrary;
};

// The last component with its leading backslash; empty when there is no backslash.
std::string_view LastComponent(std::string_view keyPath) {
    size_t cut = keyPath.rfind('\\');
    return cut == std::string_view::npos ? std::string_view() : keyPath.substr(cut);
}

std::string Expand(FileSystemAccess& files, const std::string& text) {
    auto expanded = files.ExpandEnvironmentStrings(text, kExpandCapacity);
    if (!expanded) expanded = files.ExpandEnvironmentStrings(text);
    return expanded ? std::move(*expanded) : text;
}

// The key's default value, expanded; false when the key or the value cannot be read, so
// that an unreadable value is never reported as an empty path.
bool ReadExpandedDefault(ScanContext& context, const std::string& keyPath, std::string* text) {
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyClassesRoot, keyPath, kKeyRead, &key) != kErrorSuccess) return false;
    std::string data;
    bool read = classes_root::ReadDefault(registry, key, &data);
    if (read) *text = Expand(context.Files(), data);
    return read;
}

void CheckLibraryFile(ScanContext& context, const std::string& keyPath) {
    std::string path;
    // An empty path is judged missing like any other.
    if (ReadExpandedDefault(context, keyPath, &path) &&
        !FileReferenceExists(context.Refs(), path)) {
        classes_root::Report(context, kSectionProgIds, path, classes_root::Location(keyPath),
                             ResourceText(kIdsDefaultValueName), path, kIdsFileMissing);
    }
    classes_root::ShowKey(context, keyPath);
}

void CheckHelpFolder(ScanContext& context, const std::string& keyPath) {
    std::string folder;
    if (!ReadExpandedDefault(context, keyPath, &folder) || folder.empty()) return;
    const std::string location = classes_root::Location(keyPath);
    const std::string valueName = LoadResourceText(kIdsDefaultValueName);
    // A folder written with a trailing backslash is judged first as a file reference.
    if (folder.back() == '\\') {
        folder.pop_back();
        if (FileReferenceExists(context.Refs(), folder)) return;
        if (!context.Files().IsDirectory(folder)) {
            classes_root::Report(context, kSectionProgIds, folder, location, valueName, folder,
                                 kIdsFileMissing);
        }
        classes_root::ShowKey(context, keyPath);
    }
    std::string unquoted;
    for (char c : folder) {
        if (c != '"') unquoted += c;
    }
    if (!context.Files().PathFileExists(unquoted)) {
        classes_root::Report(context, kSectionProgIds, unquoted, location, valueName, unquoted,
                             kIdsDirectoryInvalid);
    }
    classes_root::ShowKey(context, keyPath);
}

void Walk(ScanContext& context, const std::string& keyPath, WalkLimits& limits) {
    if (!context.Continue()) return;
    std::string_view last = LastComponent(keyPath);
    if (AnsiEqualsNoCase(last, "\\win32") || AnsiEqualsNoCase(last, "\\win16") ||
        AnsiEqualsNoCase(last, "\\win64")) {
        CheckLibraryFile(context, keyPath);
        return;
    }
    if (AnsiEqualsNoCase(last, "\\HELPDIR")) {
        CheckHelpFolder(context, keyPath);
        return;
    }
    if (limits.depth >= kMaxWalkDepth || limits.keysLeft == 0) return;
    --limits.keysLeft;
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyClassesRoot, keyPath, kKeyAllAccess, &key) != kErrorSuccess) return;
    ++limits.depth;
    classes_root::ForEachSubKey(
        context, key,
        [&](RegHandle, const std::string& name) {
            Walk(context, keyPath + "\\" + name, limits);
            return After::NoStep;
        },
        [] { return After::NoStep; });
    --limits.depth;
}

}  // namespace

void WalkTypeLibraryKey(ScanContext& context, const std::string& keyPath) {
    WalkLimits limits;
    Walk(context, keyPath, limits);
}

void ScanTypeLibraries(ScanContext& context) {
    RegistryAccess& registry = context.Registry();
    ScopedKey libraries(registry);
    if (registry.OpenKey(kHkeyClassesRoot, kTypeLibKey, kKeyAllAccess, &libraries) !=
        kErrorSuccess) {
        return;
    }
    classes_root::ForEachSubKey(
        context, libraries,
        [&](RegHandle, const std::string& name) {
            WalkTypeLibraryKey(context, std::string(kTypeLibKey) + "\\" + name);
            return After::Step;
        },
        [] { return After::Step; });
}

}  // namespace hivewise
