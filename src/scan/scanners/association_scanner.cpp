#include "scan/scanners/association_scanner.h"

#include <string>

#include "scan/scanners/classes_root_walk.h"

namespace hivewise {
namespace {

using classes_root::After;

constexpr int kSectionAssociations = 11;

// Whether E\<sub> exists under HKEY_CLASSES_ROOT.
bool HasSubKey(RegistryAccess& registry, const std::string& extension, std::string_view sub) {
    return registry.KeyExists(kHkeyClassesRoot, extension + "\\" + std::string(sub));
}

// What the extension E leads to; the finding's value name and data when it leads nowhere.
bool LeadsNowhere(ScanContext& context, const std::string& extension, std::string* valueName,
                  std::string* valueData) {
    RegistryAccess& registry = context.Registry();
    const std::string progId = registry.ReadStringValue(kHkeyClassesRoot, extension, "");
    if (!progId.empty()) {
        if (ClassReferenceValid(context.Refs(), progId)) return false;
        if (HasSubKey(registry, extension, "ShellEx")) return false;
        *valueName = LoadResourceText(kIdsDefaultValueName);
        *valueData = progId;
        return true;
    }
    const std::string handler =
        registry.ReadStringValue(kHkeyClassesRoot, extension + "\\PersistentHandler", "");
    if (!handler.empty()) {
        if (ClassKeyExists(context.Refs(), handler)) return false;
        if (HasSubKey(registry, extension, "ShellEx")) return false;
        *valueName = "PersistentHandler";
        *valueData = handler;
        return true;
    }
    // The first of these found ends the search.
    if (HasSubKey(registry, extension, "Shell") || HasSubKey(registry, extension, "ShellEx") ||
        HasSubKey(registry, extension, "DefaultIcon") ||
        HasShellNewBelow(context, kHkeyClassesRoot, extension)) {
        return false;
    }
    *valueName = "ShellEx";
    valueData->clear();
    return true;
}

}  // namespace

bool HasShellNewBelow(ScanContext& context, RegHandle root, std::string_view keyPath) {
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(root, keyPath, kKeyAllAccess, &key) != kErrorSuccess) return false;
    bool found = false;
    uint32_t count = 0;
    if (registry.QueryInfoKey(key, &count, nullptr) != kErrorSuccess) count = 0;
    std::string name;
    for (uint32_t index = 0; index < count && !found && context.Continue(); ++index) {
        if (registry.EnumKey(key, index, &name, classes_root::kSubKeyNameCapacity) !=
            kErrorSuccess) {
            continue;
        }
        found = registry.KeyExists(root, std::string(keyPath) + "\\" + name + "\\ShellNew");
    }
    return found;
}

void ScanFileAssociations(ScanContext& context) {
    RegistryAccess& registry = context.Registry();
    ScopedKey root(registry);
    if (registry.OpenKey(kHkeyClassesRoot, "", kKeyAllAccess, &root) != kErrorSuccess) {
        classes_root::ShowOpenFailed(context);
        return;
    }
    classes_root::ForEachSubKey(
        context, root,
        [&](RegHandle, const std::string& extension) {
            CheckClassCommands(context, extension);
            if (extension.empty() || extension.front() != '.') return After::Step;
            // A declared content or perceived type is enough for the shell; such entries
            // are passed over without a step.
            if (!registry.ReadStringValue(kHkeyClassesRoot, extension, "Content Type").empty() ||
                !registry.ReadStringValue(kHkeyClassesRoot, extension, "PerceivedType").empty()) {
                return After::NoStep;
            }
            std::string valueName;
            std::string valueData;
            if (LeadsNowhere(context, extension, &valueName, &valueData)) {
                classes_root::Report(context, kSectionAssociations, extension,
                                     classes_root::Location(extension), std::move(valueName),
                                     std::move(valueData), kIdsInvalidAppId);
            }
            classes_root::ShowKey(context, extension);
            return After::Step;
        },
        [] { return After::Step; });
    ScanUserClassCommands(context);
}

}  // namespace hivewise
