#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The registry as a tree in memory. Names keep their case and compare without it;
// sub-keys stay sorted the way the registry enumerates them, values stay in the
// order they were set. Value data is kept exactly as stored (strings as UTF-16LE).
namespace hivewise {

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

struct RegValue {
    std::u16string name;
    uint32_t type = kRegNone;
    std::string data;  // bytes as stored
};

// Where a key's section stood in the file it came from. An untouched key is written
// back from these bytes, so that saving changes nothing it did not have to.
struct RawSection {
    uint32_t offset = 0;  // start of the blank lines before the section
    uint32_t leadIn = 0;  // length of those blank lines
    uint32_t length = 0;  // length of the section itself, from '[' on
};

struct RegKey : std::enable_shared_from_this<RegKey> {
    std::u16string name;
    RegKey* parent = nullptr;
    std::vector<std::shared_ptr<RegKey>> subkeys;  // sorted by CompareNoCase
    std::vector<RegValue> values;                  // in the order they were set
    uint64_t modified = 0;                         // 100 ns ticks since 1601
    std::optional<std::u16string> className;
    bool isLink = false;
    bool deleted = false;  // detached from the tree; handles to it answer "key deleted"
    bool dirty = false;    // changed since loading: its section is written anew
    std::optional<RawSection> raw;

    RegKey* FindSubKey(std::u16string_view child) const;
    // Index at which a sub-key of this name stands or would stand.
    size_t SubKeyPosition(std::u16string_view child) const;
    const RegValue* FindValue(std::u16string_view valueName) const;
    RegValue* FindValue(std::u16string_view valueName);
    // The path below `base` (or below the tree's root when null), joined with '\'.
    std::u16string PathFrom(const RegKey* base) const;
};

class RegistryStore {
  public:
    RegistryStore();

    // The top of the tree ("REGISTRY"), holding "Machine" and "User".
    RegKey* Root() const { return root_.get(); }

    // Looks a path ('\'-separated, relative to `base`) up. Links met on the way are
    // followed unless `followLinks` is false. Null when any component is missing.
    RegKey* Find(RegKey* base, std::u16string_view path, bool followLinks = true) const;

    // Creates the missing keys of a path and returns the last one.
    RegKey* Create(RegKey* base, std::u16string_view path, bool* created = nullptr);
    RegKey* CreateChild(RegKey* parent, std::u16string_view name, bool* created = nullptr);

    void SetValue(RegKey* key, std::u16string_view name, uint32_t type, std::string data);
    bool DeleteValue(RegKey* key, std::u16string_view name);
    // Removes the key and its whole sub-tree; handles to any of them stay valid.
    void DeleteKey(RegKey* key);
    // Replaces a key's values and sub-keys by those of `source`, which is consumed.
    void ReplaceContents(RegKey* key, RegKey& source);
    void SetClass(RegKey* key, std::optional<std::u16string> className);

    // Marks the key changed now, as the registry does on every change.
    void Touch(RegKey* key);
    // The target of a link key, or null when it has none or it does not resolve.
    RegKey* LinkTarget(const RegKey* key) const;

    // The clock for modification times; tests set a fixed one.
    void SetClock(uint64_t (*clock)()) { clock_ = clock; }
    uint64_t Now() const { return clock_(); }

  private:
    std::shared_ptr<RegKey> root_;
    uint64_t (*clock_)();
};

// The current time as 100 ns ticks since 1601.
uint64_t SystemTimeTicks();

}  // namespace hivewise
