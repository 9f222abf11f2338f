#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_context.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_store.h"

// What the reg commands share: key paths as the user types them, their switches, and
// value data turned to and from the text the terminal shows (UTF-8).
namespace hivewise::cli {

inline constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
inline constexpr const char* kInvalidKey = "ERROR: Invalid key name.";
inline constexpr const char* kAccessDenied = "ERROR: Access is denied.";
inline constexpr const char* kCancelled = "The operation was cancelled by the user.";
inline constexpr const char* kSuccess = "The operation completed successfully.";
// Error 87, as the registry answers a key name longer than it keeps.
inline constexpr const char* kInvalidParameter = "ERROR: The parameter is incorrect.";
// The longest key name the registry keeps, in UTF-16 code units.
inline constexpr size_t kMaxKeyNameLength = 255;

enum class RootKey { LocalMachine, CurrentUser, ClassesRoot, Users };

struct KeyPath {
    RootKey root = RootKey::LocalMachine;
    std::string rootName;      // the long name: "HKEY_LOCAL_MACHINE"
    std::string subPath;       // as typed (UTF-8), without outer backslashes
    std::u16string subPath16;  // the same in UTF-16
    std::vector<std::u16string> components;

    // The path reg prints: the long root name and the sub-key as typed.
    std::string Display() const { return subPath.empty() ? rootName : rootName + "\\" + subPath; }
};

// "HKLM\Software\x" and the like; null for an unknown root or an empty component.
std::optional<KeyPath> ParseKeyPath(std::string_view text);

// The store's key that a root stands for. HKEY_CLASSES_ROOT's key is made only when
// `create` is set, so that merely looking does not change the registry.
RegKey* RootKeyOf(Machine& machine, RootKey root, bool create);
// The key a path names, following links; null when it does not exist.
RegKey* OpenKey(Machine& machine, const KeyPath& path);

// Switches of the reg commands; a command names the ones it takes.
enum RegSwitch : unsigned {
    kSwitchV = 1u << 0,          // /v NAME
    kSwitchVe = 1u << 1,         // /ve
    kSwitchVa = 1u << 2,         // /va
    kSwitchRecurse = 1u << 3,    // /s (query)
    kSwitchSeparator = 1u << 4,  // /s SEPARATOR (add)
    kSwitchT = 1u << 5,          // /t TYPE
    kSwitchD = 1u << 6,          // /d DATA
    kSwitchF = 1u << 7,          // /f
};

struct RegArgs {
    std::string key;
    std::optional<std::string> valueName;  // /v; /ve and /v "" give ""
    bool allValues = false;                // /va
    bool recurse = false;
    bool force = false;
    std::optional<std::string> type;
    std::optional<std::string> data;
    std::optional<std::string> separator;
    bool help = false;  // /? or --help given: show the command's usage and nothing else
};

// Parses KEY and the switches in `allowed`. Switches are case-insensitive and start with
// '/' or '-'. False on anything reg would call invalid syntax.
bool ParseRegArgs(const std::vector<std::string>& args, unsigned allowed, RegArgs* parsed);

// "REG_SZ" for 1 and so on; the number in hex for types without a name.
std::string TypeName(uint32_t type);
// The types `reg add` writes; nothing for other names.
std::optional<uint32_t> TypeFromName(std::string_view name);
// "(Default)" for the unnamed value, else the name in UTF-8.
std::string DisplayName(std::u16string_view name);
// The data as reg shows it: strings as text, numbers as 0x..., the rest as hex digits.
std::string FormatData(const RegValue& value);

// Turns the text of /d into the bytes of a value of `type`. On failure `error` holds a
// one-line message and nothing is returned.
std::optional<std::string> EncodeData(uint32_t type, const std::optional<std::string>& text,
                                      const std::optional<std::string>& separator,
                                      std::string* error);

// Prints an error line and returns the failure status.
int Fail(CliContext& ctx, std::string_view message);
// "ERROR: Invalid syntax." with where to find the usage of `command`.
int FailSyntax(CliContext& ctx, std::string_view command);
// Saves what changed and tells the user; the exit status.
int SaveAndReport(CliContext& ctx, Machine& machine);

int RegQuery(CliContext& ctx, const std::vector<std::string>& args);
int RegAdd(CliContext& ctx, const std::vector<std::string>& args);
int RegDelete(CliContext& ctx, const std::vector<std::string>& args);
int RegExport(CliContext& ctx, const std::vector<std::string>& args);
int RegImport(CliContext& ctx, const std::vector<std::string>& args);

}  // namespace hivewise::cli
