#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/mapped_memory.h"

// The registry as a tree in memory. Names keep their case and compare without it;
// sub-keys stay sorted the way the registry enumerates them, values stay in the
// order they were set. Value data is kept exactly as stored (strings as UTF-16LE).
//
// Threads. One writer at a time, and no reader while it writes:
//  - RegistryAccess and Machine::Flush/HasUnsavedChanges take the store's lock (Lock())
//    for each call, so the scan thread may read through RegistryAccess while the window
//    thread writes settings through it;
//  - every store write of a scan ("Last Scan", "Items Found") is finished before the
//    window learns that the scan ended; all other writes come from the window thread;
//  - code that walks RegKey pointers directly (the command line, registry-editor files,
//    the machine's facts) holds Lock() or runs while no scan runs; a scan's walk keeps
//    key pointers between calls (RegistryAccess's WalkedKey) but reads them only through
//    RegistryAccess, under Lock(), as keys outlive their deletion. A key's values are
//    decoded from the file on first use, and its list of sub-keys drops the ones deleted
//    since it was last looked at, so even reading a key is a change inside it.
//
// Who writes. After the machine is loaded, every change goes through RegistryEditor
// (registry_editor.h), which takes Lock() and applies the machine's rules for what its
// files keep; its callers are RegistryAccess, the registry-editor file import, the
// command line's reg commands, repairs, restores and the tools. The mutators below are
// for RegistryEditor and for building trees that are not yet the machine's: the loading
// of the registry files (HiveReader, Machine::Load, bulk and before any other thread
// sees the store; the thread that lists a large file's latter part reads only its text),
// a saved key's file read into a detached tree before it replaces a key,
// and Machine::ClassesRoot, which makes HKLM\Software\Classes under its caller's lock when
// a prefix lacks it.
//
// Keys live as long as their store: a deleted key leaves the tree but stays readable
// (IsDeleted()), which is how handles to it answer "key deleted".
namespace hivewise {

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Keys deeper than this below the tree's root are refused, as Windows refuses them.
constexpr size_t kMaxKeyDepth = 512;
// Links followed while resolving one path before the path counts as unresolvable.
constexpr int kMaxLinkHops = 16;
// Links a walk over a tree enters before it shows further links without entering them:
// links to one another could otherwise multiply the walk without end.
constexpr int kMaxLinksPerWalk = 1024;

struct RegValue {
    std::u16string name;
    uint32_t type = kRegNone;
    std::string data;  // bytes as stored
};

// A value as the ANSI calls give it, decoded straight from a file whose line held it
// plainly: an ASCII name, and an ASCII text (with its terminating zero), a dword or bytes.
struct PlainValue {
    std::string name;
    uint32_t type = kRegNone;
    std::string data;
};

// The largest registry file the store reads: its keys keep their places in 32 bits.
constexpr uint64_t kMaxHiveBytes = UINT32_MAX;

// Where a key's section stood in the file it came from. An untouched key is written
// back from these bytes, so that saving changes nothing it did not have to. Places fit
// 32 bits, as files are at most kMaxHiveBytes: every key of a store carries one.
struct RawSection {
    uint32_t offset = 0;  // start of the blank lines before the section
    uint32_t leadIn = 0;  // length of those blank lines
    uint32_t length = 0;  // length of the section itself, from '[' on
    uint32_t body = 0;    // where the lines after the key line start
};

class RegistryStore;

class RegKey {
  public:
    std::u16string_view Name() const { return {name_, nameSize_}; }
    RegKey* Parent() const { return parent_; }
    size_t Depth() const { return depth_; }
    bool IsLink() const { return isLink_; }
    bool IsDeleted() const { return deleted_; }
    uint64_t Modified() const { return modified_; }  // 100 ns ticks since 1601
    std::optional<std::u16string> ClassName() const {
        return className_ ? std::optional<std::u16string>(*className_) : std::nullopt;
    }

    size_t SubKeyCount() const { return Live().size(); }
    RegKey* SubKey(size_t index) const { return Live()[index]; }
    const std::vector<RegKey*>& SubKeys() const { return Live(); }
    RegKey* FindSubKey(std::u16string_view child) const;

    // The values, decoded from the file on first use.
    const std::vector<RegValue>& Values() const;
    const RegValue* FindValue(std::u16string_view valueName) const;

    // The path below `base` (or below the tree's root when null), joined with '\'.
    std::u16string PathFrom(const RegKey* base) const;

  private:
    friend class RegistryStore;
    friend class HiveReader;
    friend class HiveWriter;
    friend class ValuePeek;

    // Index at which a sub-key of this name stands or would stand (removed sub-keys not
    // yet dropped count).
    size_t SubKeyPosition(std::u16string_view child) const;
    // The live sub-key named `child` at `pos` (from SubKeyPosition), or null.
    RegKey* ChildAt(size_t pos, std::u16string_view child) const;
    // Puts `child` at `pos`, in the place of a removed sub-key of its name waiting there.
    void PlaceChild(size_t pos, RegKey* child);
    // A deleted sub-key stays in the list, marked removed_, until the list is next looked
    // at as a whole: deleting many of thousands of siblings one by one would otherwise move
    // all that follow each time. Look-ups by name pass over it.
    const std::vector<RegKey*>& Live() const {
        if (hasRemovedChildren_) DropRemoved();
        return subkeys_;
    }
    void DropRemoved() const;
    void DecodeValues() const;
    // `name` is kept by the store (RegistryStore::KeepName).
    void SetName(std::u16string_view name);
    // The values to change, decoded first.
    std::vector<RegValue>& OwnValues();

    // A store holds a key for every section of its files: the fields are ordered so that
    // a key takes 112 bytes, a fifth less than with a name view and 64-bit places.
    const char16_t* name_ = nullptr;  // nameSize_ units, kept by the store
    RegKey* parent_ = nullptr;
    mutable std::vector<RegKey*> subkeys_;  // sorted by CompareNoCase; see Live()
    // Most keys of a large registry keep their values only in their file (lazyValues_):
    // the vector is made for those whose values are decoded or set.
    mutable std::unique_ptr<std::vector<RegValue>> values_;
    uint64_t modified_ = 0;
    std::unique_ptr<const std::u16string> className_;  // few keys have one
    const std::string_view* text_ = nullptr;  // the file the raw section and lazy values are in
    std::optional<RawSection> raw_;
    uint32_t nameSize_ = 0;
    uint32_t depth_ = 0;
    uint16_t mount_ = 0;  // 1 + the index of the file whose branch starts here
    bool isLink_ = false;
    bool deleted_ = false;
    bool dirty_ = false;                       // changed since loading: its section is written anew
    mutable bool lazyValues_ = false;          // values not yet decoded from text_
    bool removed_ = false;                     // deleted from its parent's list
    mutable bool hasRemovedChildren_ = false;  // subkeys_ holds removed keys
    // Where the last look-up of a child found it: scanners look up a child several times
    // over, or the next child after it, among thousands of siblings.
    mutable uint32_t lastFound_ = 0;
};

// Reads keys' values without keeping them decoded: a key whose values are still only in
// its file is decoded here, again for each new key, so that a walk over a large
// registry neither holds it twice in memory nor pays for memory it will not reuse.
class ValuePeek {
  public:
    const std::vector<RegValue>& Of(const RegKey* key);
    const RegValue* Find(const RegKey* key, std::u16string_view valueName);
    // The key's values as the ANSI calls give them, when they are still only in its file
    // and every value line of its section is plain, as nearly all are; null otherwise, and
    // Of() serves. Saves a walk the UTF-16 between the file and the ANSI text.
    const std::vector<PlainValue>* PlainOf(const RegKey* key);

  private:
    const RegKey* key_ = nullptr;
    std::vector<RegValue> values_;
    const RegKey* plainKey_ = nullptr;
    bool plain_ = false;  // plainKey_'s values are plainValues_
    std::vector<PlainValue> plainValues_;
};

// How a path lookup ended.
enum class FindStatus { Found, NotFound, LinkUnresolved, TooDeep };

class RegistryStore {
  public:
    RegistryStore();
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // The top of the tree ("REGISTRY"), holding "Machine" and "User".
    RegKey* Root() const { return root_; }

    // Looks a path ('\'-separated, relative to `base`) up. Links met on the way are
    // followed unless `followLinks` is false. Null when any component is missing or a
    // link does not resolve within kMaxLinkHops; `status` says which.
    RegKey* Find(RegKey* base, std::u16string_view path, bool followLinks = true,
                 FindStatus* status = nullptr) const;

    // Creates the missing keys of a path and returns the last one. Null when a link on
    // the way does not resolve or the key would lie deeper than kMaxKeyDepth.
    RegKey* Create(RegKey* base, std::u16string_view path, bool* created = nullptr,
                   FindStatus* status = nullptr);
    RegKey* CreateChild(RegKey* parent, std::u16string_view name, bool* created = nullptr);

    void SetValue(RegKey* key, std::u16string_view name, uint32_t type, std::string data);
    bool DeleteValue(RegKey* key, std::u16string_view name);
    // Removes the key and its whole sub-tree; the keys stay readable, marked deleted.
    void DeleteKey(RegKey* key);
    // Replaces a key's values and sub-keys by those of `source` (a key of this store,
    // detached from the tree), which is left empty.
    void ReplaceContents(RegKey* key, RegKey* source);
    void SetClass(RegKey* key, std::optional<std::u16string> className);
    void SetLink(RegKey* key, bool isLink);

    // Marks the key changed now, as the registry does on every change.
    void Touch(RegKey* key);
    // The target of a link key, or null when it has none or it does not resolve.
    RegKey* LinkTarget(const RegKey* key) const;

    // Room for the keys and names of a file of `bytes` about to be read, in one block each.
    void ReserveForFile(size_t bytes);
    // A new key outside the tree, for a file to be read into before it is grafted.
    RegKey* NewDetachedKey();
    // A number of the key's own, below KeyNumberLimit(), from its place among the store's
    // keys: for a walk to keep the keys it entered as bits. Null for a key not of this store.
    std::optional<size_t> NumberOf(const RegKey* key) const;
    size_t KeyNumberLimit() const;
    // Puts a detached branch at `parent\name`, replacing (deleting) a key already there.
    void Graft(RegKey* parent, std::u16string_view name, RegKey* branch);
    // Marks `key` as the base of the registry file `file` (0, 1, ...): changes below it
    // count for that file until the next file base.
    void Mount(RegKey* key, unsigned file);
    // Changes made below the base of `file` since the store was made.
    uint64_t ChangesOf(unsigned file) const;
    // The file whose branch holds `key`, or -1 when no file saves it.
    int FileOf(const RegKey* key) const;

    // Keeps a file's text for as long as the store lives; keys loaded from it point in.
    const std::string_view* KeepText(std::string text);
    // Reads a whole file and keeps its text. Null, with `error` set, when it cannot.
    const std::string_view* ReadText(const std::filesystem::path& path, std::string* error);

    // The lock of the threads contract above.
    std::unique_lock<std::recursive_mutex> Lock() const {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }
    // Every change to the tree, counted, and read without the lock: what a reader read
    // under Lock() still stands while the count is unchanged, which spares a walk the lock
    // for each value.
    uint64_t ChangeCount() const { return changeCount_.load(std::memory_order_acquire); }

    // The clock for modification times; tests set a fixed one.
    void SetClock(uint64_t (*clock)()) { clock_ = clock; }
    uint64_t Now() const { return clock_(); }

  private:
    friend class HiveReader;

    RegKey* NewKey();
    bool AddBlock(size_t capacity);
    bool AddNameBlock(size_t capacity);
    // A copy of a key's name that lives as long as the store.
    std::u16string_view KeepName(std::u16string_view name);
    RegKey* Resolve(RegKey* key, int* hops, FindStatus* status) const;
    RegKey* FindCounted(RegKey* base, std::u16string_view path, bool followLinks, int* hops,
                        FindStatus* status) const;
    void Changed(const RegKey* key);

    // Keys in blocks that never move, so that pointers to keys stay valid.
    struct KeyBlock {
        MappedMemory memory;
        RegKey* keys;
        size_t capacity;
        size_t used;
    };
    std::vector<KeyBlock> blocks_;
    // Key names back to back, in blocks that never move: a name costs its characters.
    struct NameBlock {
        MappedMemory memory;
        size_t capacity;  // in characters
        size_t used;
    };
    std::vector<NameBlock> names_;
    struct Text;
    std::vector<std::unique_ptr<Text>> texts_;
    std::vector<uint64_t> fileChanges_;
    RegKey* root_ = nullptr;
    uint64_t (*clock_)();
    mutable std::recursive_mutex mutex_;
    std::atomic<uint64_t> changeCount_{0};
};

// The current time as 100 ns ticks since 1601.
uint64_t SystemTimeTicks();

}  // namespace hivewise
