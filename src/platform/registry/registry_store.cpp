#include "platform/registry/registry_store.h"

#include <chrono>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicks1601To1970 = 11644473600ULL * kTicksPerSecond;
constexpr int kMaxLinkDepth = 16;

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

// Keys taken over from another file have no section of their own to copy.
void ForgetRaw(RegKey& key) {
    key.raw.reset();
    key.dirty = true;
    for (auto& child : key.subkeys)
        ForgetRaw(*child);
}

void MarkDeleted(RegKey& key) {
    key.deleted = true;
    for (auto& child : key.subkeys)
        MarkDeleted(*child);
}

}  // namespace

uint64_t SystemTimeTicks() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return static_cast<uint64_t>(ticks) + kTicks1601To1970;
}

size_t RegKey::SubKeyPosition(std::u16string_view child) const {
    // Loading appends in sorted order, so the last place is the common answer.
    if (subkeys.empty() || CompareNoCase(subkeys.back()->name, child) < 0) return subkeys.size();
    size_t lo = 0, hi = subkeys.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (CompareNoCase(subkeys[mid]->name, child) < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

RegKey* RegKey::FindSubKey(std::u16string_view child) const {
    size_t pos = SubKeyPosition(child);
    if (pos < subkeys.size() && EqualsNoCase(subkeys[pos]->name, child)) return subkeys[pos].get();
    return nullptr;
}

const RegValue* RegKey::FindValue(std::u16string_view valueName) const {
    for (const auto& v : values) {
        if (EqualsNoCase(v.name, valueName)) return &v;
    }
    return nullptr;
}

RegValue* RegKey::FindValue(std::u16string_view valueName) {
    return const_cast<RegValue*>(static_cast<const RegKey*>(this)->FindValue(valueName));
}

std::u16string RegKey::PathFrom(const RegKey* base) const {
    std::vector<const RegKey*> chain;
    for (const RegKey* k = this; k && k != base && k->parent; k = k->parent)
        chain.push_back(k);
    std::u16string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path.push_back(u'\\');
        path += (*it)->name;
    }
    return path;
}

RegistryStore::RegistryStore() : root_(std::make_shared<RegKey>()), clock_(&SystemTimeTicks) {
    root_->name = u"REGISTRY";
    CreateChild(root_.get(), u"Machine");
    CreateChild(root_.get(), u"User");
}

RegKey* RegistryStore::LinkTarget(const RegKey* key) const {
    if (!key || !key->isLink) return nullptr;
    const RegValue* target = key->FindValue(u"SymbolicLinkValue");
    if (!target || target->type != kRegLink) return nullptr;
    std::u16string path = BytesToUtf16(target->data);
    while (!path.empty() && path.back() == u'\0')
        path.pop_back();
    std::u16string_view rest(path);
    std::u16string_view first;
    // Targets are absolute object paths: \Registry\Machine\...
    if (!NextComponent(rest, first) || !EqualsNoCase(first, u"Registry")) return nullptr;
    return Find(root_.get(), rest, true);
}

RegKey* RegistryStore::Find(RegKey* base, std::u16string_view path, bool followLinks) const {
    RegKey* key = base;
    std::u16string_view component;
    int hops = 0;
    while (key && NextComponent(path, component)) {
        key = key->FindSubKey(component);
        while (key && followLinks && key->isLink) {
            if (++hops > kMaxLinkDepth) return nullptr;
            key = LinkTarget(key);
        }
    }
    return key;
}

RegKey* RegistryStore::CreateChild(RegKey* parent, std::u16string_view name, bool* created) {
    size_t pos = parent->SubKeyPosition(name);
    if (pos < parent->subkeys.size() && EqualsNoCase(parent->subkeys[pos]->name, name)) {
        if (created) *created = false;
        return parent->subkeys[pos].get();
    }
    auto child = std::make_shared<RegKey>();
    child->name = std::u16string(name);
    child->parent = parent;
    child->modified = clock_();
    child->dirty = true;
    RegKey* raw = child.get();
    parent->subkeys.insert(parent->subkeys.begin() + static_cast<ptrdiff_t>(pos), std::move(child));
    if (created) *created = true;
    return raw;
}

RegKey* RegistryStore::Create(RegKey* base, std::u16string_view path, bool* created) {
    RegKey* key = base;
    bool any = false;
    std::u16string_view component;
    int hops = 0;
    while (key && NextComponent(path, component)) {
        bool made = false;
        RegKey* next = CreateChild(key, component, &made);
        if (made) Touch(key);
        while (next && next->isLink) {
            if (++hops > kMaxLinkDepth) return nullptr;
            next = LinkTarget(next);
        }
        any = made;
        key = next;
    }
    if (created) *created = any;
    return key;
}

void RegistryStore::Touch(RegKey* key) {
    key->modified = clock_();
    key->dirty = true;
}

void RegistryStore::SetValue(RegKey* key, std::u16string_view name, uint32_t type,
                             std::string data) {
    if (RegValue* existing = key->FindValue(name)) {
        existing->type = type;
        existing->data = std::move(data);
    } else {
        key->values.push_back(RegValue{std::u16string(name), type, std::move(data)});
    }
    Touch(key);
}

bool RegistryStore::DeleteValue(RegKey* key, std::u16string_view name) {
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (EqualsNoCase(it->name, name)) {
            key->values.erase(it);
            Touch(key);
            return true;
        }
    }
    return false;
}

void RegistryStore::DeleteKey(RegKey* key) {
    RegKey* parent = key->parent;
    if (!parent || key->deleted) return;
    size_t pos = parent->SubKeyPosition(key->name);
    if (pos >= parent->subkeys.size() || parent->subkeys[pos].get() != key) return;
    // Keep the key alive for open handles while it leaves the tree.
    std::shared_ptr<RegKey> hold = parent->subkeys[pos];
    parent->subkeys.erase(parent->subkeys.begin() + static_cast<ptrdiff_t>(pos));
    MarkDeleted(*hold);
    Touch(parent);
}

void RegistryStore::ReplaceContents(RegKey* key, RegKey& source) {
    for (auto& child : key->subkeys)
        MarkDeleted(*child);
    key->subkeys = std::move(source.subkeys);
    source.subkeys.clear();
    for (auto& child : key->subkeys) {
        child->parent = key;
        ForgetRaw(*child);
    }
    key->values = std::move(source.values);
    source.values.clear();
    key->className = source.className;
    Touch(key);
}

void RegistryStore::SetClass(RegKey* key, std::optional<std::u16string> className) {
    key->className = std::move(className);
    Touch(key);
}

}  // namespace hivewise
