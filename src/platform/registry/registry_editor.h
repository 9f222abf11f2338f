#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/registry_access.h"

// The one way the registry changes once the machine is loaded. Every call holds the
// store's lock and asks the machine what its files keep (Machine::RoleOf and the rules
// built on it): a change no registry file would save, or one that would delete a file's
// base or HKLM's own top-level keys, is refused with kErrorAccessDenied. Names, types and
// data bytes are taken as stored (UTF-16 names, raw bytes), below RegistryAccess's ANSI view.
namespace hivewise {

// The deepest key tree copied; deeper trees fail with kErrorKeyTreeTooDeep.
constexpr int kMaxCopyDepth = 512;
// ERROR_CANTWRITE: the copy could not be written completely.
constexpr long kErrorKeyTreeTooDeep = 1013;

class RegistryEditor {
  public:
    explicit RegistryEditor(Machine& machine) : machine_(machine) {}

    // Creates the missing keys of `path` below `base` and returns the last one in
    // `result`. Refused when the first new key would not be saved or would lie deeper
    // than kMaxKeyDepth; a link that does not resolve answers kErrorCantResolveFilename.
    long CreateKey(RegKey* base, std::u16string_view path, RegKey** result,
                   bool* created = nullptr);
    // The same for one sub-key of `parent`, taken by name (no path, no links followed).
    long CreateSubKey(RegKey* parent, std::u16string_view name, RegKey** result,
                      bool* created = nullptr);
    long SetValue(RegKey* key, std::u16string_view name, uint32_t type, std::string data);
    // kErrorFileNotFound when the key has no such value.
    long DeleteValue(RegKey* key, std::u16string_view name);
    // Removes the key and everything below it; only ordinary keys may go.
    long DeleteTree(RegKey* key);
    // Makes an empty, saved key a link (its SymbolicLinkValue set by the caller).
    long MakeLink(RegKey* key);
    // Replaces the key's values and sub-keys by those of `loaded`, a detached tree of the
    // store read from a saved key's file. A file's base may be replaced whole.
    long Replace(RegKey* key, RegKey* loaded);
    // What the calls above would allow, for asking before a question or a long read:
    // new sub-keys made (a file would save them), values set or deleted (a file saves
    // the key), the tree deleted (an ordinary key), the contents replaced (a saved key
    // or a file's base).
    bool MayCreateSubKeys(const RegKey* parent) const;
    bool MayChangeValues(const RegKey* key) const;
    bool MayDeleteTree(const RegKey* key) const;
    bool MayReplace(const RegKey* key) const;
    // Copies the tree of `from` to `path` below `destinationParent`, creating the missing
    // keys. Sub-keys that are links are copied as links, never followed. What was copied
    // before a failure stays; a destination inside the source is refused.
    long CopyTree(RegKey* from, RegKey* destinationParent, std::u16string_view path);

    Machine& GetMachine() { return machine_; }

  private:
    long CopyInto(const RegKey& from, RegKey* to, int depth);
    long CopyValues(const RegKey& from, RegKey* to);

    Machine& machine_;
};

// Exact copies through handles, for parking removed entries and putting them back.

// CopyTree from the key of `source` to `path` below the key of `destinationParent`.
long CopyKeyTree(RegistryAccess& registry, RegHandle source, RegHandle destinationParent,
                 std::string_view path);
// Copies one value (type and bytes) from `fromPath` to `toPath` (created when missing),
// named `toName` there. False when the source value or key is missing or the write is
// refused.
bool CopyValueExact(RegistryAccess& registry, RegHandle fromRoot, std::string_view fromPath,
                    std::string_view fromName, RegHandle toRoot, std::string_view toPath,
                    std::string_view toName);
// Whether the value `nameA` of `pathA` and the value `nameB` of `pathB` both exist with
// the same type and bytes.
bool SameValueExact(RegistryAccess& registry, RegHandle rootA, std::string_view pathA,
                    std::string_view nameA, RegHandle rootB, std::string_view pathB,
                    std::string_view nameB);
// Whether the two key trees both exist and hold the same: values (names, types, bytes),
// class names, links and sub-keys, to kMaxCopyDepth levels.
bool SameKeyTree(RegistryAccess& registry, RegHandle rootA, std::string_view pathA, RegHandle rootB,
                 std::string_view pathB);

// A value read and written exactly as stored, so that an undo puts back what was there.
// `keyPath` has a long or short root name; `valueName` is ANSI (empty: the default
// value), found as a scan enumerated it. Nothing when the key or the value is missing.
std::optional<RegValue> ReadExactValue(Machine& machine, std::string_view keyPath,
                                       std::string_view valueName);
// Sets the value in the existing key (a missing key is not created); false when the key
// does not exist or the write is refused.
bool WriteExactValue(Machine& machine, std::string_view keyPath, const RegValue& value);

}  // namespace hivewise
