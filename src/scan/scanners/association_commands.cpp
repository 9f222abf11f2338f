#include <string>
#include <string_view>

#include "platform/machine/text.h"
#include "scan/scanners/association_scanner.h"
#include "scan/scanners/classes_root_walk.h"
#include "scan/scanners/program_lookup.h"

namespace hivewise {
namespace {

using classes_root::After;

constexpr int kSectionAssociations = 11;
constexpr std::string_view kUserClassesKey = "Software\\Classes";
using file_list::kLongUserRoot;
// Commands may be long; longer data than this is passed over rather than cut, since a
// cut command would name a program that was never registered.
constexpr size_t kCommandCapacity = 2048;

// Where a class key lives: HKEY_CLASSES_ROOT itself, or the user's own classes.
struct ClassesScope {
    RegHandle root;
    std::string_view rootName;
};

// The default value of a key when it is text; empty when it is missing, of another type
// or too long.
std::string ReadDefaultText(RegistryAccess& registry, RegHandle root, const std::string& path) {
    ScopedKey key(registry);
    if (registry.OpenKey(root, path, kKeyRead, &key) != kErrorSuccess) return {};
    uint32_t type = 0;
    std::string data;
    long status = registry.QueryValue(key, "", kCommandCapacity, &type, &data);
    if (status != kErrorSuccess || (type != kRegSz && type != kRegExpandSz)) return {};
    return UpToNul(std::move(data));
}

// Judges one command or icon key; an empty value names nothing (the verb may be carried
// out by a handler instead).
template <typename Judge>
void CheckEntry(ScanContext& context, const ClassesScope& scope, const std::string& className,
                const std::string& keyPath, Judge&& judge) {
    const std::string text = ReadDefaultText(context.Registry(), scope.root, keyPath);
    if (text.empty()) return;
    const std::string location = std::string(scope.rootName) + "\\" + keyPath;
    program_lookup::Judged judged = judge(context.Refs(), text);
    if (!judged.present) {
        classes_root::Report(context, kSectionAssociations, className, location,
                             ResourceText(kIdsDefaultValueName), judged.file, kIdsInvalidAppId);
    }
    context.SetStatusLine(location);
    context.PumpMessages();
}

// The verbs' commands and the default icon of one class key.
void CheckClass(ScanContext& context, const ClassesScope& scope, const std::string& keyPath,
                const std::string& className) {
    RegistryAccess& registry = context.Registry();
    const std::string shellPath = keyPath + "\\shell";
    ScopedKey shell(registry);
    if (registry.OpenKey(scope.root, shellPath, kKeyRead, &shell) == kErrorSuccess) {
        classes_root::ForEachSubKey(
            context, shell,
            [&](RegHandle, const std::string& verb) {
                CheckEntry(context, scope, className, shellPath + "\\" + verb + "\\command",
                           program_lookup::ProgramOfCommand);
                return After::NoStep;
            },
            [] { return After::NoStep; });
    }
    CheckEntry(context, scope, className, keyPath + "\\DefaultIcon", program_lookup::IconFile);
}

// A key directly below the classes: a class of its own, or "Applications", whose every
// sub-key is the class of one program.
void CheckClassesKey(ScanContext& context, const ClassesScope& scope, std::string_view basePath,
                     const std::string& name) {
    const std::string keyPath = basePath.empty() ? name : std::string(basePath) + "\\" + name;
    if (!AnsiEqualsNoCase(name, "Applications")) {
        CheckClass(context, scope, keyPath, name);
        return;
    }
    RegistryAccess& registry = context.Registry();
    ScopedKey applications(registry);
    if (registry.OpenKey(scope.root, keyPath, kKeyRead, &applications) != kErrorSuccess) return;
    classes_root::ForEachSubKey(
        context, applications,
        [&](RegHandle, const std::string& program) {
            CheckClass(context, scope, keyPath + "\\" + program, name + "\\" + program);
            return After::NoStep;
        },
        [] { return After::NoStep; });
}

}  // namespace

void CheckClassCommands(ScanContext& context, const std::string& name) {
    CheckClassesKey(context, {kHkeyClassesRoot, classes_root::kLongClassesRoot}, "", name);
}

void ScanUserClassCommands(ScanContext& context) {
    RegistryAccess& registry = context.Registry();
    ScopedKey classes(registry);
    if (registry.OpenKey(kHkeyCurrentUser, kUserClassesKey, kKeyRead, &classes) != kErrorSuccess) {
        return;
    }
    const ClassesScope scope{kHkeyCurrentUser, kLongUserRoot};
    classes_root::ForEachSubKey(
        context, classes,
        [&](RegHandle, const std::string& name) {
            CheckClassesKey(context, scope, kUserClassesKey, name);
            return After::NoStep;
        },
        [] { return After::NoStep; });
}

}  // namespace hivewise
