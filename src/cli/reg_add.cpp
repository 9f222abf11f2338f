#include <ostream>

#include "cli/exit_status.h"
#include "cli/reg_common.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_editor.h"
#include "report/output_text.h"

namespace hivewise::cli {
namespace {

constexpr const char* kUsage =
    "Usage: hivewise-cli reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "\n"
    "  KEY           ROOT\\SUBKEY; ROOT is HKLM, HKCU, HKCR or HKU; missing keys are made\n"
    "  /v NAME       the value to set\n"
    "  /ve           set the default value\n"
    "  /t TYPE       REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
    "                REG_QWORD, REG_BINARY or REG_NONE\n"
    "  /s SEPARATOR  the character between the strings of REG_MULTI_SZ data (\\0 without it)\n"
    "  /d DATA       the data: text; a decimal or 0x number; hex digits for REG_BINARY\n"
    "  /f            overwrite an existing value without asking\n";

}  // namespace

int RegAdd(CliContext& ctx, const std::vector<std::string>& args) {
    RegArgs parsed;
    unsigned allowed = kSwitchV | kSwitchVe | kSwitchT | kSwitchSeparator | kSwitchD | kSwitchF;
    if (!ParseRegArgs(args, allowed, &parsed)) return FailSyntax(ctx, "add");
    if (parsed.help) {
        ctx.out << kUsage;
        return 0;
    }
    // Text that is not UTF-8 would be stored as something the user never typed.
    if (!IsStrictUtf8(parsed.key)) return Fail(ctx, "ERROR: The key name is not valid UTF-8 text.");
    if (parsed.valueName && !IsStrictUtf8(*parsed.valueName)) {
        return Fail(ctx, "ERROR: The value name of /v is not valid UTF-8 text.");
    }
    if (parsed.data && !IsStrictUtf8(*parsed.data)) {
        return Fail(ctx, "ERROR: The data of /d is not valid UTF-8 text; nothing was written.");
    }
    if (parsed.separator && !IsStrictUtf8(*parsed.separator)) {
        return Fail(ctx, "ERROR: The separator of /s is not valid UTF-8 text.");
    }
    std::optional<KeyPath> path = ParseKeyPath(parsed.key);
    if (!path) return Fail(ctx, kInvalidKey);
    // The registry keeps no longer key names; an import refuses them too.
    for (const auto& component : path->components) {
        if (component.size() > kMaxKeyNameLength) return Fail(ctx, kInvalidParameter);
    }

    // Data without a value name goes to the default value.
    bool setsValue = parsed.valueName || parsed.type || parsed.data || parsed.separator;
    std::u16string name = Utf8ToUtf16(parsed.valueName.value_or(std::string()));
    uint32_t type = kRegSz;
    if (parsed.type) {
        std::optional<uint32_t> known = TypeFromName(*parsed.type);
        if (!known) return Fail(ctx, "ERROR: Invalid value type " + *parsed.type + ".");
        type = *known;
    }
    if (parsed.separator && type != kRegMultiSz) return FailSyntax(ctx, "add");
    std::string error;
    std::optional<std::string> data = EncodeData(type, parsed.data, parsed.separator, &error);
    if (!data) return Fail(ctx, error);
    // HKEY_LOCAL_MACHINE and HKEY_USERS are no keys of their own that could hold values.
    if (setsValue && path->subPath.empty() &&
        (path->root == RootKey::LocalMachine || path->root == RootKey::Users)) {
        return Fail(ctx, kAccessDenied);
    }

    // Wine owns the registry while it runs: the one status every command gives for that.
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, MachineOptions{}, WhileWineRuns::Refuse, &wineRunning);
    if (!machine) return wineRunning ? kExitWineRunning : kExitFailed;
    RegistryEditor editor(*machine);

    RegKey* key = OpenKey(*machine, *path);
    if (key && setsValue) {
        if (const RegValue* old = key->FindValue(name)) {
            std::string question = "Value " + DisplayName(name) + " exists, overwrite(Yes/No)?";
            if (!parsed.force && !AskYesNo(ctx, question)) return Fail(ctx, kCancelled);
            // The same data again changes nothing, so the prefix is not rewritten.
            if (old->type == type && old->data == *data) return SaveAndReport(ctx, *machine);
        }
    }
    if (!key) {
        RegKey* base = RootKeyOf(*machine, path->root, true);
        // Keys that reg delete could not remove again are refused, as Windows does.
        long error = base ? editor.CreateKey(base, path->subPath16, &key) : kErrorAccessDenied;
        if (error == kErrorInvalidParameter) {
            return Fail(ctx, "ERROR: " + path->Display() + " lies deeper than " +
                                 std::to_string(kMaxKeyDepth) + " levels.");
        }
        if (error != kErrorSuccess) return Fail(ctx, kAccessDenied);
    }
    // Nothing is saved on failure, so keys made above are dropped with the machine.
    if (!editor.MayChangeValues(key)) {
        return Fail(ctx, "ERROR: Access is denied. No registry file of the prefix holds " +
                             path->Display() + ".");
    }
    if (setsValue && editor.SetValue(key, name, type, std::move(*data)) != kErrorSuccess) {
        return Fail(ctx, kAccessDenied);
    }
    return SaveAndReport(ctx, *machine);
}

}  // namespace hivewise::cli
