#include "tools/key_copy.h"

#include <memory>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// The store's key behind a handle; null when the handle is unknown or its key deleted.
RegKey* KeyOf(RegistryAccess& registry, RegHandle handle) {
    Machine& machine = registry.GetMachine();
    RegKey* key = nullptr;
    switch (handle) {
        case kHkeyClassesRoot:
            key = machine.ClassesRoot();
            break;
        case kHkeyCurrentUser:
            key = machine.CurrentUser();
            break;
        case kHkeyLocalMachine:
            key = machine.LocalMachine();
            break;
        case kHkeyUsers:
            key = machine.Users();
            break;
        default:
            key = machine.Handles().Get(handle);
    }
    return key && !key->IsDeleted() ? key : nullptr;
}

bool IsWithin(const RegKey* key, const RegKey* ancestor) {
    for (const RegKey* k = key; k; k = k->Parent()) {
        if (k == ancestor) return true;
    }
    return false;
}

// The last key of `path` below `parent` that exists already (links followed): a
// destination made below it lies wherever that key lies.
RegKey* DeepestExisting(const RegistryStore& store, RegKey* parent, std::u16string_view path) {
    RegKey* deepest = parent;
    for (size_t end = 0; end != std::u16string_view::npos;) {
        end = path.find(u'\\', end + 1);
        RegKey* key = store.Find(parent, path.substr(0, end));
        if (!key) break;
        deepest = key;
    }
    return deepest;
}

void CopyValues(RegistryStore& store, const RegKey& from, RegKey* to) {
    for (const RegValue& value : from.Values())
        store.SetValue(to, value.name, value.type, value.data);
    if (from.ClassName() != to->ClassName()) store.SetClass(to, from.ClassName());
}

long CopyTree(RegistryStore& store, const RegKey& from, RegKey* to, int depth) {
    if (depth > kMaxCopyDepth) return kErrorKeyTreeTooDeep;
    CopyValues(store, from, to);
    // A snapshot of the children: the copy must not see keys it adds itself.
    std::vector<RegKey*> children = from.SubKeys();
    for (RegKey* child : children) {
        bool created = false;
        RegKey* target = store.CreateChild(to, child->Name(), &created);
        if (created) store.Touch(to);
        if (child->IsLink()) {
            // A link is copied as it stands; following it could loop back on itself.
            if (!target->IsLink()) {
                if (target->SubKeyCount() != 0) return kErrorAccessDenied;
                store.SetLink(target, true);
            }
            CopyValues(store, *child, target);
            continue;
        }
        if (target->IsLink()) return kErrorAccessDenied;
        long result = CopyTree(store, *child, target, depth + 1);
        if (result != kErrorSuccess) return result;
    }
    return kErrorSuccess;
}

bool SameValues(const RegKey& a, const RegKey& b) {
    if (a.Values().size() != b.Values().size() || a.ClassName() != b.ClassName() ||
        a.IsLink() != b.IsLink()) {
        return false;
    }
    for (const RegValue& value : a.Values()) {
        const RegValue* other = b.FindValue(value.name);
        if (!other || other->type != value.type || other->data != value.data) return false;
    }
    return true;
}

bool SameTree(const RegKey& a, const RegKey& b, int depth) {
    if (depth > kMaxCopyDepth || !SameValues(a, b)) return false;
    if (a.IsLink()) return true;  // a link's value says all; it is never followed
    if (a.SubKeyCount() != b.SubKeyCount()) return false;
    for (const RegKey* child : a.SubKeys()) {
        const RegKey* other = b.FindSubKey(child->Name());
        if (!other || !SameTree(*child, *other, depth + 1)) return false;
    }
    return true;
}

const RegKey* FindBelow(RegistryAccess& registry, RegHandle root, std::string_view path) {
    RegKey* base = KeyOf(registry, root);
    RegKey* key = base ? registry.GetMachine().Registry().Find(base, AnsiToUtf16(path)) : nullptr;
    return key && !key->IsDeleted() ? key : nullptr;
}

}  // namespace

long CopyKeyTree(RegistryAccess& registry, RegHandle source, RegHandle destinationParent,
                 std::string_view path) {
    RegKey* from = KeyOf(registry, source);
    RegKey* parent = KeyOf(registry, destinationParent);
    if (!from || !parent) return kErrorInvalidHandle;
    RegistryStore& store = registry.GetMachine().Registry();
    std::u16string wide = AnsiToUtf16(path);
    if (IsWithin(DeepestExisting(store, parent, wide), from)) return kErrorInvalidParameter;
    RegKey* to = store.Create(parent, wide);
    if (!to) return kErrorFileNotFound;
    return CopyTree(store, *from, to, 0);
}

bool CopyValueExact(RegistryAccess& registry, RegHandle fromRoot, std::string_view fromPath,
                    std::string_view fromName, RegHandle toRoot, std::string_view toPath,
                    std::string_view toName) {
    RegKey* fromBase = KeyOf(registry, fromRoot);
    RegKey* toBase = KeyOf(registry, toRoot);
    if (!fromBase || !toBase) return false;
    RegistryStore& store = registry.GetMachine().Registry();
    RegKey* from = store.Find(fromBase, AnsiToUtf16(fromPath));
    const RegValue* value = from ? from->FindValue(AnsiToUtf16(fromName)) : nullptr;
    if (!value) return false;
    RegValue copy = *value;
    RegKey* to = store.Create(toBase, AnsiToUtf16(toPath));
    if (!to) return false;
    store.SetValue(to, AnsiToUtf16(toName), copy.type, std::move(copy.data));
    return true;
}

bool SameValueExact(RegistryAccess& registry, RegHandle rootA, std::string_view pathA,
                    std::string_view nameA, RegHandle rootB, std::string_view pathB,
                    std::string_view nameB) {
    auto lock = registry.GetMachine().Registry().Lock();
    const RegKey* a = FindBelow(registry, rootA, pathA);
    const RegKey* b = FindBelow(registry, rootB, pathB);
    const RegValue* first = a ? FindValueByAnsiName(a->Values(), nameA) : nullptr;
    const RegValue* second = b ? FindValueByAnsiName(b->Values(), nameB) : nullptr;
    return first && second && first->type == second->type && first->data == second->data;
}

bool SameKeyTree(RegistryAccess& registry, RegHandle rootA, std::string_view pathA, RegHandle rootB,
                 std::string_view pathB) {
    auto lock = registry.GetMachine().Registry().Lock();
    const RegKey* a = FindBelow(registry, rootA, pathA);
    const RegKey* b = FindBelow(registry, rootB, pathB);
    return a && b && SameTree(*a, *b, 0);
}

}  // namespace hivewise
