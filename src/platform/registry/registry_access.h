#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/registry/key_handle_table.h"

// The program's view of the registry: ANSI names and string data, handles, Win32 error
// codes and buffer capacities, over the machine's registry store.
namespace hivewise {

using RegHandle = uint64_t;

constexpr RegHandle kHkeyClassesRoot = 0x80000000;
constexpr RegHandle kHkeyCurrentUser = 0x80000001;
constexpr RegHandle kHkeyLocalMachine = 0x80000002;
constexpr RegHandle kHkeyUsers = 0x80000003;
// Named in registry-editor files only; RegistryAccess opens no handle on it.
constexpr RegHandle kHkeyCurrentConfig = 0x80000005;

// The roots of registry paths, by their long and short names.
struct RootName {
    std::string_view longName;   // "HKEY_LOCAL_MACHINE"
    std::string_view shortName;  // "HKLM"
    RegHandle handle;
};
// The root `text` names: any of its names in any letter case, or, with `exactLongName`,
// only the long name as written. Null when none.
const RootName* FindRootName(std::string_view text, bool exactLongName = false);
// A path taken apart at its first backslash into its root (the exact long name of a root
// RegistryAccess opens) and the rest. Nothing when the root is none of them.
std::optional<std::pair<RegHandle, std::string_view>> SplitRootPath(std::string_view path);

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeyAllAccess = 0xF003F;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kWriteDac = 0x40000;

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorCallNotImplemented = 120;
constexpr long kErrorAlreadyExists = 183;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorBadDb = 1009;
constexpr long kErrorKeyDeleted = 1018;
constexpr long kErrorCantResolveFilename = 1921;

// A saved key's file, checked whole.
struct SavedKeyFile {
    std::string content;
    std::u16string relativeTo;  // the key it was saved from, as its header names it
    bool onlyHeader = false;    // no section: the key did not exist when it was saved
};

// One key of a restore and the file that puts it back.
struct KeyRestore {
    RegHandle root = 0;
    std::string subKey;
    SavedKeyFile file;
};

// Larger saved key files are not read: a prefix's largest registry file is far smaller.
constexpr uintmax_t kMaxSavedKeyFileBytes = uintmax_t{512} << 20;

class RegistryAccess;

// An open key of RegistryAccess, closed when it goes out of scope, so that no path out
// of a function leaks it. Stands for its handle wherever a RegHandle is asked for.
class ScopedKey {
  public:
    explicit ScopedKey(RegistryAccess& registry) : registry_(&registry) {}
    ~ScopedKey() { Reset(); }
    ScopedKey(ScopedKey&& other) noexcept
        : registry_(other.registry_), handle_(std::exchange(other.handle_, 0)) {}
    ScopedKey& operator=(ScopedKey&& other) noexcept;
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    RegHandle Get() const { return handle_; }
    operator RegHandle() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    // Closes the key now (nothing when none is open).
    void Reset();

  private:
    friend class RegistryAccess;
    RegistryAccess* registry_;
    RegHandle handle_ = 0;
};

// The error a failed path lookup answers: a link that does not resolve is not "missing".
long FindStatusError(FindStatus status);

// String data as the program uses it: up to its first terminating zero.
std::string UpToNul(std::string data);

// A key a walk holds without a handle (RegistryAccess's walk calls): empty, or a key of the
// store with the store's number of it, taken when the walk reached it.
class WalkedKey {
  public:
    WalkedKey() = default;
    explicit operator bool() const { return key_ != nullptr; }
    std::optional<size_t> Number() const { return number_; }

  private:
    friend class RegistryAccess;
    WalkedKey(RegKey* key, std::optional<size_t> number) : key_(key), number_(number) {}
    RegKey* key_ = nullptr;
    std::optional<size_t> number_;
};

class RegistryAccess {
  public:
    explicit RegistryAccess(Machine& machine);

    // Primitive operations; each returns a Win32 error code.
    long OpenKey(RegHandle base, std::string_view subKey, uint32_t access, RegHandle* result);
    long CreateKey(RegHandle base, std::string_view subKey, RegHandle* result,
                   bool* created = nullptr);
    long CloseKey(RegHandle key);
    // The same, into a key that closes itself; an open key in `result` is closed first.
    long OpenKey(RegHandle base, std::string_view subKey, uint32_t access, ScopedKey* result);
    long CreateKey(RegHandle base, std::string_view subKey, ScopedKey* result,
                   bool* created = nullptr);
    long QueryInfoKey(RegHandle key, uint32_t* subKeys, uint32_t* values);
    long EnumKey(RegHandle key, uint32_t index, std::string* name, size_t capacity = 255);
    // OpenKey of the sub-key EnumKey names at `index` (as `name`), with the same result;
    // for a walk, which would otherwise look each enumerated name up again.
    long OpenEnumeratedKey(RegHandle key, uint32_t index, std::string_view name, ScopedKey* result);
    // Type and data are optional; `dataCapacity` applies only when data is asked for.
    long EnumValue(RegHandle key, uint32_t index, std::string* name, size_t nameCapacity = 16383,
                   uint32_t* type = nullptr, std::string* data = nullptr,
                   size_t dataCapacity = SIZE_MAX);
    // One value as EnumValue gives it.
    struct EnumeratedValue {
        long status = 0;
        std::string name;
        uint32_t type = 0;
        std::string data;
    };
    // Values read together: they stand while the store's change count does.
    struct ValueBatch {
        uint32_t first = 0;  // the index of values[0]
        uint64_t changeCount = 0;
        std::vector<EnumeratedValue> values;
    };
    // The values from `index` on, up to `count` of them, each as EnumValue (with type and
    // data) gives it, under one look-up of the key: a walk reads every value of a whole
    // registry. The batch ends at the key's last value; its strings' room is reused. Fails,
    // leaving it empty, as the key's look-up fails.
    long EnumValues(RegHandle key, uint32_t index, uint32_t count, size_t nameCapacity,
                    size_t dataCapacity, ValueBatch* batch);
    // The store's change count (RegistryStore::ChangeCount), without the lock.
    uint64_t ChangeCount() const;

    // Walks without handles: a walk that enters every key of a large registry holds its
    // keys as WalkedKeys rather than opening and closing a handle for each. A key lives as
    // long as the store, and a deleted one answers kErrorKeyDeleted as its handles do; an
    // empty one answers kErrorInvalidHandle. Each call takes the store's lock and answers as
    // the call of that name on a handle to the key does.
    WalkedKey Walk(RegHandle key);  // empty when the handle is unknown or its key deleted
    long QueryInfoKey(const WalkedKey& key, uint32_t* subKeys, uint32_t* values);
    long EnumKey(const WalkedKey& key, uint32_t index, std::string* name, size_t capacity = 255);
    long OpenEnumeratedKey(const WalkedKey& key, uint32_t index, std::string_view name,
                           WalkedKey* result);
    long EnumValues(const WalkedKey& key, uint32_t index, uint32_t count, size_t nameCapacity,
                    size_t dataCapacity, ValueBatch* batch);
    // The empty name reads the default value. Fails with kErrorMoreData when the data
    // (string data counted in ANSI bytes) exceeds `capacity`.
    long QueryValue(RegHandle key, std::string_view name, size_t capacity, uint32_t* type,
                    std::string* data);
    // Writes go through RegistryEditor, which holds the rules for what may change.
    // String data is ANSI; a terminating zero is added when missing, as the system does.
    long SetValue(RegHandle key, std::string_view name, uint32_t type, std::string_view data);
    long DeleteKeyTree(RegHandle root, std::string_view path);
    long DeleteValue(RegHandle root, std::string_view path, std::string_view name);
    // The key's tree written to / read from a file (a Windows path of the machine) in the
    // prefix's own registry text format.
    long SaveKey(RegHandle key, const std::string& file);
    long RestoreKey(RegHandle key, const std::string& file, uint32_t flags = 0);
    // A saved key's file read and checked whole (see CheckWholeHive) into `saved`, for
    // RestoreKeys: kErrorFileNotFound when it cannot be read or is larger than
    // kMaxSavedKeyFileBytes, kErrorBadDb when it is not whole.
    long CheckKeyFile(const std::string& file, SavedKeyFile* saved);
    // Puts every checked file back onto its key, or changes nothing: every key is found
    // (or found creatable) and every file read into a tree of its own before the first
    // key is replaced. A file of only a header stands for a key that did not exist: it
    // leaves a missing key missing and is refused over an existing one, which a file cut
    // after its header would otherwise wipe. The files' texts are taken over.
    long RestoreKeys(std::vector<KeyRestore>& items);
    // There is no access control here: changing a key's access list always fails.
    long SetKeySecurity(RegHandle key);
    // Privileges are not needed here; enabling one always succeeds.
    bool EnablePrivilege(const std::string& name);

    // Composite operations.
    static std::optional<RegHandle> RootFromName(std::string_view text);
    bool KeyExists(RegHandle root, std::string_view path);
    std::string ReadStringValue(RegHandle root, std::string_view path, std::string_view valueName);
    bool WriteValue(RegHandle root, std::string_view path, std::string_view valueName,
                    std::string_view text, uint32_t type);
    bool ReadSetting(std::string_view name, std::string* text);
    bool WriteSetting(std::string_view name, std::string_view text);
    unsigned CountSubKeys(RegHandle root, std::string_view path);
    unsigned CountValues(RegHandle root, std::string_view path, bool wholeTree);

    Machine& GetMachine() { return machine_; }
    // The store's key behind a handle or a root; null when the handle is unknown or its
    // key deleted. The caller holds the store's lock while it uses the key.
    RegKey* KeyOf(RegHandle handle);
    // Above the store's number of every key a walk may reach (RegistryStore::NumberOf), as
    // the store stands now.
    size_t KeyNumberLimit() const;

  private:
    // The key of a handle: null with kErrorInvalidHandle or kErrorKeyDeleted in `error`.
    RegKey* Resolve(RegHandle handle, long* error);
    static RegKey* Resolve(const WalkedKey& key, long* error);
    // What the calls of these names answer of a key found, under the store's lock.
    long InfoOf(const RegKey* key, uint32_t* subKeys, uint32_t* values);
    static long SubKeyNameOf(const RegKey* key, uint32_t index, std::string* name, size_t capacity);
    RegKey* EnumeratedChild(RegKey* key, uint32_t index, std::string_view name, long* error);
    // EnumValues of a key found, or its look-up's `error` when it was not.
    long BatchOf(const RegKey* key, long error, uint32_t index, uint32_t count, size_t nameCapacity,
                 size_t dataCapacity, ValueBatch* batch);
    RegKey* Opened(RegKey* parent, std::string_view subKey, long* error);
    static long ValueInto(const RegValue& value, std::string* name, size_t nameCapacity,
                          uint32_t* type, std::string* data, size_t dataCapacity);
    static long ValueInto(const PlainValue& value, std::string* name, size_t nameCapacity,
                          uint32_t* type, std::string* data, size_t dataCapacity);
    // The number of the key's values, and each of them as the ANSI calls give it.
    size_t ValueCount(const RegKey* key);
    long ValueAt(const RegKey* key, size_t index, std::string* name, size_t nameCapacity,
                 uint32_t* type, std::string* data, size_t dataCapacity);
    // Puts a handle just opened (or none) into `result`, closing what it held; returns `error`.
    long Into(ScopedKey* result, RegHandle handle, long error);
    double CountValuesOf(RegHandle key, bool wholeTree, int depth, int* linksLeft);

    Machine& machine_;
    KeyHandleTable& handles_;
    ValuePeek peek_;  // read under the store's lock, like the store
};

// The settings key under HKEY_CURRENT_USER.
constexpr std::string_view kSettingsKey = "SOFTWARE\\Hivewise";

// The value that the ANSI name `ansiName` stands for among `values`: the value of that
// name, else the one value whose name the code page cannot hold and which enumerates as
// that text (its other characters read as '?'). Null when none, or when several do.
const RegValue* FindValueByAnsiName(const std::vector<RegValue>& values, std::string_view ansiName);

}  // namespace hivewise
