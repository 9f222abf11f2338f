#include "scan/scanners/com_scanners.h"

#include <array>

#include "scan/scanners/classes_root_walk.h"
#include "scan/scanners/missing_file_checks.h"

namespace hivewise {
namespace {

using classes_root::After;

constexpr int kSectionClasses = 1;
constexpr int kSectionProgIds = 2;
constexpr std::string_view kClassesKey = "CLSID";
constexpr std::array<std::string_view, 4> kServerKinds = {"InprocServer32", "InprocServer",
                                                          "InprocHandler32", "LocalServer32"};

// Judges the server of one kind of the class `name`; the server key is opened below the
// open "CLSID" key that its path names. The path is made in `path`, whose room serves
// class after class: a class has few of the four kinds, and all four are asked for.
void CheckServer(ScanContext& context, MissingFileChecks& checks, RegHandle classes,
                 const std::string& name, std::string_view kind, std::string& path) {
    RegistryAccess& registry = context.Registry();
    path.assign(kClassesKey).append(1, '\\').append(name).append(1, '\\').append(kind);
    const std::string_view relative = std::string_view(path).substr(kClassesKey.size() + 1);
    ScopedKey server(registry);
    if (registry.OpenKey(classes, relative, kKeyAllAccess, &server) != kErrorSuccess) return;
    std::string data;
    if (!classes_root::ReadDefault(registry, server, &data)) {
        return;
    }
    std::string reference = classes_root::NormaliseServerPath(context.Files(), data);
    checks.Check(reference, classes_root::Location(path), reference);
    classes_root::ShowKey(context, path);
}

}  // namespace

void ScanClassServers(ScanContext& context) {
    RegistryAccess& registry = context.Registry();
    ScopedKey classes(registry);
    if (registry.OpenKey(kHkeyClassesRoot, kClassesKey, kKeyAllAccess, &classes) != kErrorSuccess) {
        classes_root::ShowOpenFailed(context);
        return;
    }
    MissingFileChecks checks(context, kSectionClasses, ResourceText(kIdsDefaultValueName));
    std::string path;
    classes_root::ForEachSubKey(
        context, classes,
        [&](RegHandle key, const std::string& name) {
            for (std::string_view kind : kServerKinds) {
                CheckServer(context, checks, key, name, kind, path);
            }
            return After::Step;
        },
        [] { return After::NoStep; });
    checks.Finish();
}

void ScanProgIds(ScanContext& context) {
    RegistryAccess& registry = context.Registry();
    ScopedKey root(registry);
    if (registry.OpenKey(kHkeyClassesRoot, "", kKeyAllAccess, &root) != kErrorSuccess) return;
    classes_root::ForEachSubKey(
        context, root,
        [&](RegHandle key, const std::string& name) {
            // Entries without a "CLSID" key are no programmatic identifiers.
            std::string path = name + "\\CLSID";
            ScopedKey classKey(registry);
            if (registry.OpenKey(key, path, kKeyAllAccess, &classKey) != kErrorSuccess) {
                return After::Step;
            }
            std::string classText;
            if (!classes_root::ReadDefault(registry, classKey, &classText)) {
                return After::Step;
            }
            // The class is not registered, but the text may still name something that
            // resolves: a programmatic identifier (with or without its version), a key or
            // a file. The class text is what is asked about; the identifier's own name and
            // its "CLSID" key would always resolve, since the scan has just opened them.
            if (!ClassKeyExists(context.Refs(), classText) &&
                !ClassReferenceValid(context.Refs(), classText)) {
                classes_root::Report(
                    context, kSectionProgIds, classText, classes_root::Location(path),
                    ResourceText(kIdsDefaultValueName), classText, kIdsInvalidAppId);
            }
            classes_root::ShowKey(context, path);
            return After::Step;
        },
        [] { return After::Step; });
}

}  // namespace hivewise
