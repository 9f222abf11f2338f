#include "platform/registry/registry_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "platform/registry/mapped_memory.h"

namespace hivewise {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicks1601To1970 = 11644473600ULL * kTicksPerSecond;
// Key blocks start small (a store of a few keys costs a page) and double up to this.
constexpr size_t kFirstBlockKeys = 16;
constexpr size_t kMaxBlockKeys = 16384;
constexpr size_t kFirstNameBlockChars = 1024;
constexpr size_t kMaxNameBlockChars = size_t{1} << 20;

// Splits the next component off a '\'-separated path, skipping empty components.
bool NextComponent(std::u16string_view& path, std::u16string_view& component) {
    while (!path.empty() && path.front() == u'\\')
        path.remove_prefix(1);
    if (path.empty()) return false;
    size_t end = path.find(u'\\');
    component = path.substr(0, end);
    path.remove_prefix(end == std::u16string_view::npos ? path.size() : end);
    return true;
}

// Visits `top` and every key below it without recursion.
template <typename F>
void ForEachInTree(RegKey* top, F visit) {
    std::vector<RegKey*> stack{top};
    while (!stack.empty()) {
        RegKey* key = stack.back();
        stack.pop_back();
        visit(key);
        for (RegKey* child : key->SubKeys())
            stack.push_back(child);
    }
}

}  // namespace

uint64_t SystemTimeTicks() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return static_cast<uint64_t>(ticks) + kTicks1601To1970;
}

size_t RegKey::SubKeyPosition(std::u16string_view child) const {
    // Loading appends in sorted order, so the last place is the common answer.
    if (subkeys_.empty() || CompareNoCase(subkeys_.back()->Name(), child) < 0)
        return subkeys_.size();
    size_t lo = 0, hi = subkeys_.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (CompareNoCase(subkeys_[mid]->Name(), child) < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

RegKey* RegKey::FindSubKey(std::u16string_view child) const {
    for (size_t at = lastFound_; at < subkeys_.size() && at <= size_t{lastFound_} + 1; ++at) {
        if (EqualsNoCase(subkeys_[at]->Name(), child)) {
            lastFound_ = static_cast<uint32_t>(at);
            return subkeys_[at]->removed_ ? nullptr : subkeys_[at];
        }
    }
    size_t pos = SubKeyPosition(child);
    RegKey* found = ChildAt(pos, child);
    if (found && pos <= UINT32_MAX) lastFound_ = static_cast<uint32_t>(pos);
    return found;
}

RegKey* RegKey::ChildAt(size_t pos, std::u16string_view child) const {
    if (pos >= subkeys_.size() || subkeys_[pos]->removed_) return nullptr;
    return EqualsNoCase(subkeys_[pos]->Name(), child) ? subkeys_[pos] : nullptr;
}

void RegKey::PlaceChild(size_t pos, RegKey* child) {
    // Names are unique in the list, the removed keys' included.
    if (pos < subkeys_.size() && subkeys_[pos]->removed_ &&
        EqualsNoCase(subkeys_[pos]->Name(), child->Name())) {
        subkeys_[pos] = child;
        return;
    }
    subkeys_.insert(subkeys_.begin() + static_cast<ptrdiff_t>(pos), child);
}

void RegKey::SetName(std::u16string_view name) {
    // A name longer than a file may be is no key's: the store refuses to keep it.
    if (name.size() > kMaxHiveBytes) throw std::length_error("key name too long");
    name_ = name.data();
    nameSize_ = static_cast<uint32_t>(name.size());
}

void RegKey::DropRemoved() const {
    std::erase_if(subkeys_, [](const RegKey* k) { return k->removed_; });
    hasRemovedChildren_ = false;
    lastFound_ = 0;
}

void RegKey::DecodeValues() const {
    if (!lazyValues_) return;
    lazyValues_ = false;
    if (!raw_ || !text_) return;
    if (!values_) values_ = std::make_unique<std::vector<RegValue>>();
    DecodeSectionValues(*text_, *raw_, values_.get());
}

std::vector<RegValue>& RegKey::OwnValues() {
    DecodeValues();
    if (!values_) values_ = std::make_unique<std::vector<RegValue>>();
    return *values_;
}

const std::vector<RegValue>& RegKey::Values() const {
    static const std::vector<RegValue> kNone;
    DecodeValues();
    return values_ ? *values_ : kNone;
}

const RegValue* RegKey::FindValue(std::u16string_view valueName) const {
    for (const auto& v : Values()) {
        if (EqualsNoCase(v.name, valueName)) return &v;
    }
    return nullptr;
}

namespace {

// One key of many thousand values leaves no room of its size behind for the rest of a walk.
template <typename Value>
void LeaveNoLargeRoom(std::vector<Value>& values) {
    constexpr size_t kKeptRoom = 4096;
    if (values.capacity() > kKeptRoom && values.size() <= kKeptRoom) values.shrink_to_fit();
}

}  // namespace

const std::vector<RegValue>& ValuePeek::Of(const RegKey* key) {
    if (!key->lazyValues_ || !key->raw_ || !key->text_) return key->Values();
    // A key stays lazy until its values change, so its section's text is still its values.
    if (key_ != key) {
        key_ = nullptr;
        DecodeSectionValues(*key->text_, *key->raw_, &values_);
        LeaveNoLargeRoom(values_);
        key_ = key;
    }
    return values_;
}

const std::vector<PlainValue>* ValuePeek::PlainOf(const RegKey* key) {
    if (!key->lazyValues_ || !key->raw_ || !key->text_) return nullptr;
    if (plainKey_ != key) {
        plainKey_ = nullptr;
        plain_ = DecodePlainSectionValues(*key->text_, *key->raw_, &plainValues_);
        LeaveNoLargeRoom(plainValues_);
        plainKey_ = key;
    }
    return plain_ ? &plainValues_ : nullptr;
}

const RegValue* ValuePeek::Find(const RegKey* key, std::u16string_view valueName) {
    for (const auto& v : Of(key)) {
        if (EqualsNoCase(v.name, valueName)) return &v;
    }
    return nullptr;
}

std::u16string RegKey::PathFrom(const RegKey* base) const {
    std::vector<const RegKey*> chain;
    for (const RegKey* k = this; k && k != base && k->parent_; k = k->parent_)
        chain.push_back(k);
    std::u16string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path.push_back(u'\\');
        path += (*it)->Name();
    }
    return path;
}

RegistryStore::RegistryStore() : clock_(&SystemTimeTicks) {
    root_ = NewKey();
    root_->SetName(KeepName(u"REGISTRY"));
    CreateChild(root_, u"Machine");
    CreateChild(root_, u"User");
}

RegistryStore::~RegistryStore() {
    for (KeyBlock& block : blocks_) {
        for (size_t i = 0; i < block.used; ++i)
            block.keys[i].~RegKey();
    }
}

bool RegistryStore::AddBlock(size_t capacity) {
    MappedMemory memory(capacity * sizeof(RegKey));
    if (!memory.Data()) return false;
    auto* keys = static_cast<RegKey*>(memory.Data());
    blocks_.push_back(KeyBlock{std::move(memory), keys, capacity, 0});
    return true;
}

void RegistryStore::ReserveForFile(size_t bytes) {
    // Generous: a block's untouched tail costs nothing. A fresh prefix's system.reg holds
    // a key per 190 bytes, and a character of key name per 10.
    const size_t keys = bytes / 128;
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < keys) AddBlock(keys);
    const size_t chars = bytes / 8;
    if (names_.empty() || names_.back().capacity - names_.back().used < chars) AddNameBlock(chars);
    // When either fails, keys and names come in ordinary blocks as they are needed.
}

bool RegistryStore::AddNameBlock(size_t capacity) {
    MappedMemory memory(capacity * sizeof(char16_t));
    if (!memory.Data()) return false;
    names_.push_back(NameBlock{std::move(memory), capacity, 0});
    return true;
}

// Keys are constructed only as they are handed out, so a block's untouched tail costs
// nothing; blocks start small (a store of a few keys costs a page) and double.
RegKey* RegistryStore::NewKey() {
    if (blocks_.empty() || blocks_.back().used == blocks_.back().capacity) {
        size_t capacity = blocks_.empty() ? kFirstBlockKeys
                                          : std::min(blocks_.back().capacity * 2, kMaxBlockKeys);
        if (!AddBlock(capacity)) throw std::bad_alloc();
    }
    KeyBlock& block = blocks_.back();
    block.memory.MakeUpTo((block.used + 1) * sizeof(RegKey));
    return new (&block.keys[block.used++]) RegKey;
}

std::u16string_view RegistryStore::KeepName(std::u16string_view name) {
    if (name.empty()) return {};
    if (names_.empty() || names_.back().capacity - names_.back().used < name.size()) {
        // Blocks start small and double up to 2 MiB; a longer name gets a block of its own.
        size_t capacity = names_.empty() ? kFirstNameBlockChars
                                         : std::min(names_.back().capacity * 2, kMaxNameBlockChars);
        if (!AddNameBlock(std::max(capacity, name.size()))) throw std::bad_alloc();
    }
    NameBlock& block = names_.back();
    block.memory.MakeUpTo((block.used + name.size()) * sizeof(char16_t));
    char16_t* at = static_cast<char16_t*>(block.memory.Data()) + block.used;
    std::copy(name.begin(), name.end(), at);
    block.used += name.size();
    return std::u16string_view(at, name.size());
}

std::optional<size_t> RegistryStore::NumberOf(const RegKey* key) const {
    const std::less<const RegKey*> before;
    size_t first = 0;
    for (const KeyBlock& block : blocks_) {
        if (!before(key, block.keys) && before(key, block.keys + block.used)) {
            return first + static_cast<size_t>(key - block.keys);
        }
        first += block.capacity;
    }
    return std::nullopt;
}

size_t RegistryStore::KeyNumberLimit() const {
    size_t limit = 0;
    for (const KeyBlock& block : blocks_)
        limit += block.capacity;
    return limit;
}

RegKey* RegistryStore::NewDetachedKey() {
    return NewKey();
}

// A file's bytes: a string handed over, or a file read into memory mapped for it.
struct RegistryStore::Text {
    std::string owned;
    MappedMemory memory;
    std::string_view view;
};

const std::string_view* RegistryStore::KeepText(std::string text) {
    auto kept = std::make_unique<Text>();
    kept->owned = std::move(text);
    kept->view = kept->owned;
    texts_.push_back(std::move(kept));
    return &texts_.back()->view;
}

namespace {

// Up to `count` bytes from `offset` on, fewer only at the file's end; -1 on a fault.
ssize_t ReadAt(int fd, char* to, size_t count, size_t offset) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd, to + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// The first `count` bytes of the file into `memory`, the latter half read on a second
// thread for a large file: fresh memory written the first time costs as much as the copy
// itself. Each thread makes its half's pages at once before reading into them.
ssize_t ReadStart(int fd, const MappedMemory& memory, size_t count) {
    char* to = static_cast<char*>(memory.Data());
    if (count < kParallelReadFrom) {
        memory.MakeRange(0, count);
        return ReadAt(fd, to, count, 0);
    }
    const size_t half = count / 2;
    ssize_t tail = 0;
    int tailError = 0;
    std::thread other;
    try {
        other = std::thread([&] {
            memory.MakeRange(half, count);
            tail = ReadAt(fd, to + half, count - half, half);
            tailError = errno;
        });
    } catch (const std::system_error&) {
        memory.MakeRange(0, count);
        return ReadAt(fd, to, count, 0);
    }
    memory.MakeRange(0, half);
    ssize_t head = ReadAt(fd, to, half, 0);
    other.join();
    // A file cut short while read ends where the first part ends.
    if (head < 0 || static_cast<size_t>(head) < half) return head;
    if (tail < 0) {
        errno = tailError;
        return -1;
    }
    return head + tail;
}

}  // namespace

const std::string_view* RegistryStore::ReadText(const std::filesystem::path& path,
                                                std::string* error) {
    // Not blocking: a pipe in the file's place is refused below instead of waited on.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    auto fail = [&](int fd, const char* why = nullptr) -> const std::string_view* {
        if (error) *error = path.filename().string() + ": " + (why ? why : std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return nullptr;
    };
    if (fd < 0) return fail(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(fd);
    // A device, or a file larger than keys can keep places in, would be read until
    // memory runs out or not be read right.
    if (!S_ISREG(st.st_mode)) return fail(fd, "not a regular file");
    if (static_cast<uint64_t>(st.st_size) > kMaxHiveBytes) return fail(fd, "file too large");
    auto kept = std::make_unique<Text>();
    size_t capacity = static_cast<size_t>(st.st_size) + 1;
    kept->memory = MappedMemory(capacity);
    if (!kept->memory.Data()) return fail(fd);
    char* bytes = static_cast<char*>(kept->memory.Data());
    ssize_t start = ReadStart(fd, kept->memory, capacity - 1);
    if (start < 0) return fail(fd);
    size_t used = static_cast<size_t>(start);
    for (;;) {
        if (used == capacity) {
            // The file grew while being read: read the rest the ordinary way.
            std::string all(bytes, used);
            char buf[1 << 16];
            ssize_t n;
            while ((n = ReadAt(fd, buf, sizeof buf, all.size())) != 0) {
                if (n < 0) return fail(fd);
                if (all.size() + static_cast<size_t>(n) > kMaxHiveBytes)
                    return fail(fd, "file too large");
                all.append(buf, static_cast<size_t>(n));
            }
            ::close(fd);
            return KeepText(std::move(all));
        }
        ssize_t n = ReadAt(fd, bytes + used, capacity - used, used);
        if (n < 0) return fail(fd);
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    kept->view = std::string_view(bytes, used);
    texts_.push_back(std::move(kept));
    return &texts_.back()->view;
}

RegKey* RegistryStore::Resolve(RegKey* key, int* hops, FindStatus* status) const {
    while (key && key->isLink_) {
        if (++*hops > kMaxLinkHops) {
            if (status) *status = FindStatus::LinkUnresolved;
            return nullptr;
        }
        const RegValue* target = key->FindValue(u"SymbolicLinkValue");
        if (!target || target->type != kRegLink) {
            if (status) *status = FindStatus::LinkUnresolved;
            return nullptr;
        }
        std::u16string path = BytesToUtf16(target->data);
        while (!path.empty() && path.back() == u'\0')
            path.pop_back();
        std::u16string_view rest(path);
        std::u16string_view first;
        // Targets are absolute object paths: \Registry\Machine\...
        if (!NextComponent(rest, first) || !EqualsNoCase(first, u"Registry")) {
            if (status) *status = FindStatus::LinkUnresolved;
            return nullptr;
        }
        // Every nested lookup shares the one hop budget, so a loop ends.
        FindStatus inner = FindStatus::Found;
        key = FindCounted(root_, rest, true, hops, &inner);
        if (!key && status) *status = inner;
    }
    return key;
}

RegKey* RegistryStore::LinkTarget(const RegKey* key) const {
    if (!key || !key->isLink_) return nullptr;
    int hops = 0;
    return Resolve(const_cast<RegKey*>(key), &hops, nullptr);
}

RegKey* RegistryStore::FindCounted(RegKey* base, std::u16string_view path, bool followLinks,
                                   int* hops, FindStatus* status) const {
    RegKey* key = base;
    std::u16string_view component;
    while (key && NextComponent(path, component)) {
        key = key->FindSubKey(component);
        if (!key) {
            if (status) *status = FindStatus::NotFound;
            return nullptr;
        }
        if (followLinks) key = Resolve(key, hops, status);
    }
    return key;
}

RegKey* RegistryStore::Find(RegKey* base, std::u16string_view path, bool followLinks,
                            FindStatus* status) const {
    if (status) *status = FindStatus::Found;
    int hops = 0;
    return FindCounted(base, path, followLinks, &hops, status);
}

RegKey* RegistryStore::CreateChild(RegKey* parent, std::u16string_view name, bool* created) {
    size_t pos = parent->SubKeyPosition(name);
    if (RegKey* existing = parent->ChildAt(pos, name)) {
        if (created) *created = false;
        return existing;
    }
    RegKey* child = NewKey();
    child->SetName(KeepName(name));
    child->parent_ = parent;
    child->depth_ = parent->depth_ + 1;
    child->modified_ = clock_();
    child->dirty_ = true;
    child->deleted_ = parent->deleted_;
    parent->PlaceChild(pos, child);
    Changed(child);
    if (created) *created = true;
    return child;
}

RegKey* RegistryStore::Create(RegKey* base, std::u16string_view path, bool* created,
                              FindStatus* status) {
    if (status) *status = FindStatus::Found;
    // A path that would lie too deep is refused before any of it is made.
    size_t depth = base->depth_;
    for (std::u16string_view rest = path, part; NextComponent(rest, part);)
        ++depth;
    if (depth > kMaxKeyDepth && !Find(base, path)) {
        if (status) *status = FindStatus::TooDeep;
        return nullptr;
    }
    RegKey* key = base;
    bool any = false;
    std::u16string_view component;
    int hops = 0;
    while (key && NextComponent(path, component)) {
        RegKey* next = key->FindSubKey(component);
        bool made = false;
        if (!next) {
            if (key->depth_ + 1 > kMaxKeyDepth) {
                if (status) *status = FindStatus::TooDeep;
                return nullptr;
            }
            next = CreateChild(key, component, &made);
            Touch(key);
        }
        next = Resolve(next, &hops, status);
        any = made;
        key = next;
    }
    if (created) *created = any;
    return key;
}

void RegistryStore::Changed(const RegKey* key) {
    changeCount_.fetch_add(1, std::memory_order_release);
    int file = FileOf(key);
    if (file >= 0) ++fileChanges_[static_cast<size_t>(file)];
}

void RegistryStore::Touch(RegKey* key) {
    key->DecodeValues();  // the section is written anew from the values
    key->modified_ = clock_();
    key->dirty_ = true;
    Changed(key);
}

void RegistryStore::SetValue(RegKey* key, std::u16string_view name, uint32_t type,
                             std::string data) {
    key->DecodeValues();
    RegValue* existing = const_cast<RegValue*>(key->FindValue(name));
    if (existing) {
        existing->type = type;
        existing->data = std::move(data);
    } else {
        key->OwnValues().push_back(RegValue{std::u16string(name), type, std::move(data)});
    }
    Touch(key);
}

bool RegistryStore::DeleteValue(RegKey* key, std::u16string_view name) {
    std::vector<RegValue>& values = key->OwnValues();
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (EqualsNoCase(it->name, name)) {
            values.erase(it);
            Touch(key);
            return true;
        }
    }
    return false;
}

void RegistryStore::DeleteKey(RegKey* key) {
    RegKey* parent = key->parent_;
    if (!parent || key->deleted_) return;
    size_t pos = parent->SubKeyPosition(key->Name());
    if (pos >= parent->subkeys_.size() || parent->subkeys_[pos] != key) return;
    key->removed_ = true;
    parent->hasRemovedChildren_ = true;
    ForEachInTree(key, [](RegKey* k) { k->deleted_ = true; });
    Touch(parent);
}

void RegistryStore::ReplaceContents(RegKey* key, RegKey* source) {
    key->DecodeValues();
    source->DecodeValues();
    for (RegKey* child : key->subkeys_)
        ForEachInTree(child, [](RegKey* k) { k->deleted_ = true; });
    source->Live();  // drops the source's removed keys
    key->subkeys_ = std::move(source->subkeys_);
    key->hasRemovedChildren_ = false;
    source->subkeys_.clear();
    for (RegKey* child : key->subkeys_) {
        child->parent_ = key;
        // Keys taken over from another file have no section of their own to copy.
        ForEachInTree(child, [](RegKey* k) {
            k->DecodeValues();
            k->raw_.reset();
            k->dirty_ = true;
            k->mount_ = 0;
            k->depth_ = k->parent_->depth_ + 1;
        });
    }
    key->values_ = std::move(source->values_);
    key->className_ = std::move(source->className_);
    Touch(key);
}

void RegistryStore::SetClass(RegKey* key, std::optional<std::u16string> className) {
    key->className_ =
        className ? std::make_unique<const std::u16string>(std::move(*className)) : nullptr;
    Touch(key);
}

void RegistryStore::SetLink(RegKey* key, bool isLink) {
    key->isLink_ = isLink;
    Touch(key);
}

void RegistryStore::Graft(RegKey* parent, std::u16string_view name, RegKey* branch) {
    changeCount_.fetch_add(1, std::memory_order_release);
    branch->SetName(KeepName(name));
    branch->parent_ = parent;
    size_t pos = parent->SubKeyPosition(name);
    if (RegKey* replaced = parent->ChildAt(pos, name)) {
        ForEachInTree(replaced, [](RegKey* k) { k->deleted_ = true; });
        parent->subkeys_[pos] = branch;
    } else {
        parent->PlaceChild(pos, branch);
    }
    ForEachInTree(branch, [](RegKey* k) {
        if (k->parent_) k->depth_ = k->parent_->depth_ + 1;
    });
}

void RegistryStore::Mount(RegKey* key, unsigned file) {
    key->mount_ = static_cast<uint16_t>(file + 1);
    if (fileChanges_.size() <= file) fileChanges_.resize(file + 1, 0);
}

uint64_t RegistryStore::ChangesOf(unsigned file) const {
    return file < fileChanges_.size() ? fileChanges_[file] : 0;
}

int RegistryStore::FileOf(const RegKey* key) const {
    for (const RegKey* k = key; k; k = k->parent_) {
        if (k->deleted_) return -1;
        if (k->mount_) return k->mount_ - 1;
    }
    return -1;
}

}  // namespace hivewise
