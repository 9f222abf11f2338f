#include <ostream>

#include "cli/exit_status.h"
#include "cli/reg_common.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_editor.h"

namespace hivewise::cli {
namespace {

constexpr const char* kUsage =
    "Usage: hivewise-cli reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "\n"
    "  KEY      ROOT\\SUBKEY; ROOT is HKLM, HKCU, HKCR or HKU\n"
    "           (without /v, /ve or /va the key and everything below it)\n"
    "  /v NAME  delete the value NAME\n"
    "  /ve      delete the default value\n"
    "  /va      delete every value of the key, keeping its sub-keys\n"
    "  /f       delete without asking\n";

int DeleteKey(CliContext& ctx, Machine& machine, const KeyPath& path, bool force) {
    if (path.components.empty()) return Fail(ctx, kInvalidKey);
    RegistryStore& store = machine.Registry();
    RegKey* parent = RootKeyOf(machine, path.root, false);
    for (size_t i = 0; parent && i + 1 < path.components.size(); ++i) {
        parent = store.Find(parent, path.components[i]);
    }
    // The last component is taken as it is: deleting a link removes the link, never
    // the key it points to.
    RegKey* key = parent ? parent->FindSubKey(path.components.back()) : nullptr;
    if (!key) return Fail(ctx, kNotFound);
    // A whole registry file's branch (HKEY_USERS\.Default, the user's own key) and
    // HKLM's own top-level keys stay, as on Windows.
    RegistryEditor editor(machine);
    if (!editor.MayDeleteTree(key)) return Fail(ctx, kAccessDenied);
    if (!force &&
        !AskYesNo(ctx, "Permanently delete the registry key " + path.Display() + " (Yes/No)?")) {
        return Fail(ctx, kCancelled);
    }
    if (editor.DeleteTree(key) != kErrorSuccess) return Fail(ctx, kAccessDenied);
    return SaveAndReport(ctx, machine);
}

}  // namespace

int RegDelete(CliContext& ctx, const std::vector<std::string>& args) {
    RegArgs parsed;
    if (!ParseRegArgs(args, kSwitchV | kSwitchVe | kSwitchVa | kSwitchF, &parsed)) {
        return FailSyntax(ctx, "delete");
    }
    if (parsed.help) {
        ctx.out << kUsage;
        return 0;
    }
    std::optional<KeyPath> path = ParseKeyPath(parsed.key);
    if (!path) return Fail(ctx, kInvalidKey);
    // Wine owns the registry while it runs: the one status every command gives for that.
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, MachineOptions{}, WhileWineRuns::Refuse, &wineRunning);
    if (!machine) return wineRunning ? kExitWineRunning : kExitFailed;
    if (!parsed.valueName && !parsed.allValues)
        return DeleteKey(ctx, *machine, *path, parsed.force);

    RegistryEditor editor(*machine);
    RegKey* key = OpenKey(*machine, *path);
    if (!key) return Fail(ctx, kNotFound);
    if (parsed.allValues) {
        if (!parsed.force && !AskYesNo(ctx, "Delete all values under the registry key " +
                                                path->Display() + " (Yes/No)?")) {
            return Fail(ctx, kCancelled);
        }
        std::vector<std::u16string> names;
        if (!editor.MayChangeValues(key)) return Fail(ctx, kAccessDenied);
        for (const auto& value : key->Values())
            names.push_back(value.name);
        for (const auto& name : names) {
            if (editor.DeleteValue(key, name) != kErrorSuccess) return Fail(ctx, kAccessDenied);
        }
        return SaveAndReport(ctx, *machine);
    }
    std::u16string name = Utf8ToUtf16(*parsed.valueName);
    if (!key->FindValue(name)) return Fail(ctx, kNotFound);
    if (!editor.MayChangeValues(key)) return Fail(ctx, kAccessDenied);
    if (!parsed.force &&
        !AskYesNo(ctx, "Delete the registry value " + DisplayName(name) + " (Yes/No)?")) {
        return Fail(ctx, kCancelled);
    }
    if (editor.DeleteValue(key, name) != kErrorSuccess) return Fail(ctx, kAccessDenied);
    return SaveAndReport(ctx, *machine);
}

}  // namespace hivewise::cli
