#include "platform/registry/registry_editor.h"

#include <vector>

#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"

namespace hivewise {
namespace {

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
    RegKey* base = registry.KeyOf(root);
    RegKey* key = base ? registry.GetMachine().Registry().Find(base, AnsiToUtf16(path)) : nullptr;
    return key && !key->IsDeleted() ? key : nullptr;
}

RegKey* FindKey(Machine& machine, std::string_view keyPath) {
    auto path = ParseRegPath(machine, AnsiToUtf16(keyPath));
    if (!path || !path->base) return nullptr;
    RegKey* key = machine.Registry().Find(path->base, path->lookup);
    return key && !key->IsDeleted() ? key : nullptr;
}

}  // namespace

long RegistryEditor::CreateKey(RegKey* base, std::u16string_view path, RegKey** result,
                               bool* created) {
    auto lock = machine_.Registry().Lock();
    RegistryStore& store = machine_.Registry();
    if (created) *created = false;
    if (!base || base->IsDeleted()) return kErrorKeyDeleted;
    // Where the new keys would begin: a key that no file saves takes none, since they
    // would be lost when the program ends.
    RegKey* existing = base;
    std::u16string_view rest(path);
    while (!rest.empty()) {
        size_t cut = rest.find(u'\\');
        std::u16string_view part = rest.substr(0, cut);
        if (!part.empty()) {
            FindStatus status;
            RegKey* next = store.Find(existing, part, true, &status);
            if (!next) {
                if (status != FindStatus::NotFound) return FindStatusError(status);
                if (!MayCreateSubKeys(existing)) return kErrorAccessDenied;
                break;
            }
            existing = next;
        }
        rest.remove_prefix(cut == std::u16string_view::npos ? rest.size() : cut + 1);
    }
    FindStatus status;
    RegKey* key = store.Create(base, path, created, &status);
    if (!key) return FindStatusError(status);
    *result = key;
    return kErrorSuccess;
}

long RegistryEditor::CreateSubKey(RegKey* parent, std::u16string_view name, RegKey** result,
                                  bool* created) {
    auto lock = machine_.Registry().Lock();
    if (created) *created = false;
    if (!parent || parent->IsDeleted()) return kErrorKeyDeleted;
    if (RegKey* child = parent->FindSubKey(name)) {
        *result = child;
        return kErrorSuccess;
    }
    if (!MayCreateSubKeys(parent)) return kErrorAccessDenied;
    if (parent->Depth() + 1 > kMaxKeyDepth) return kErrorInvalidParameter;
    RegistryStore& store = machine_.Registry();
    *result = store.CreateChild(parent, name, created);
    store.Touch(parent);
    return kErrorSuccess;
}

long RegistryEditor::SetValue(RegKey* key, std::u16string_view name, uint32_t type,
                              std::string data) {
    auto lock = machine_.Registry().Lock();
    if (!key || key->IsDeleted()) return kErrorKeyDeleted;
    if (!MayChangeValues(key)) return kErrorAccessDenied;
    machine_.Registry().SetValue(key, name, type, std::move(data));
    return kErrorSuccess;
}

long RegistryEditor::DeleteValue(RegKey* key, std::u16string_view name) {
    auto lock = machine_.Registry().Lock();
    if (!key || key->IsDeleted()) return kErrorKeyDeleted;
    if (!key->FindValue(name)) return kErrorFileNotFound;
    if (!MayChangeValues(key)) return kErrorAccessDenied;
    return machine_.Registry().DeleteValue(key, name) ? kErrorSuccess : kErrorFileNotFound;
}

long RegistryEditor::DeleteTree(RegKey* key) {
    auto lock = machine_.Registry().Lock();
    if (!key || key->IsDeleted()) return kErrorKeyDeleted;
    if (!MayDeleteTree(key)) return kErrorAccessDenied;
    machine_.Registry().DeleteKey(key);
    return kErrorSuccess;
}

long RegistryEditor::MakeLink(RegKey* key) {
    auto lock = machine_.Registry().Lock();
    if (!key || key->IsDeleted()) return kErrorKeyDeleted;
    if (key->IsLink()) return kErrorSuccess;
    if (!MayChangeValues(key) || key->SubKeyCount() != 0) return kErrorAccessDenied;
    machine_.Registry().SetLink(key, true);
    return kErrorSuccess;
}

long RegistryEditor::Replace(RegKey* key, RegKey* loaded) {
    auto lock = machine_.Registry().Lock();
    if (!key || key->IsDeleted()) return kErrorKeyDeleted;
    if (!MayReplace(key)) return kErrorAccessDenied;
    machine_.Registry().ReplaceContents(key, loaded);
    return kErrorSuccess;
}

bool RegistryEditor::MayCreateSubKeys(const RegKey* parent) const {
    return machine_.SavesNewSubKeys(parent);
}

bool RegistryEditor::MayChangeValues(const RegKey* key) const {
    return machine_.IsSavedKey(key);
}

bool RegistryEditor::MayDeleteTree(const RegKey* key) const {
    return machine_.RoleOf(key) == Machine::KeyRole::Ordinary;
}

bool RegistryEditor::MayReplace(const RegKey* key) const {
    // A file's base (a user's hive, .Default) may be restored whole; keys above one may not.
    return MayChangeValues(key) || MayCreateSubKeys(key);
}

long RegistryEditor::CopyTree(RegKey* from, RegKey* destinationParent, std::u16string_view path) {
    auto lock = machine_.Registry().Lock();
    if (!from || !destinationParent || from->IsDeleted() || destinationParent->IsDeleted())
        return kErrorInvalidHandle;
    if (IsWithin(DeepestExisting(machine_.Registry(), destinationParent, path), from))
        return kErrorInvalidParameter;
    RegKey* to = nullptr;
    long result = CreateKey(destinationParent, path, &to);
    if (result != kErrorSuccess) return result;
    return CopyInto(*from, to, 0);
}

long RegistryEditor::CopyValues(const RegKey& from, RegKey* to) {
    for (const RegValue& value : from.Values()) {
        long result = SetValue(to, value.name, value.type, value.data);
        if (result != kErrorSuccess) return result;
    }
    if (from.ClassName() != to->ClassName()) machine_.Registry().SetClass(to, from.ClassName());
    return kErrorSuccess;
}

long RegistryEditor::CopyInto(const RegKey& from, RegKey* to, int depth) {
    if (depth > kMaxCopyDepth) return kErrorKeyTreeTooDeep;
    long result = CopyValues(from, to);
    if (result != kErrorSuccess) return result;
    // A snapshot of the children: the copy must not see keys it adds itself.
    std::vector<RegKey*> children = from.SubKeys();
    for (RegKey* child : children) {
        RegKey* target = nullptr;
        result = CreateSubKey(to, child->Name(), &target);
        if (result != kErrorSuccess) return result;
        if (child->IsLink()) {
            // A link is copied as it stands; following it could loop back on itself.
            result = MakeLink(target);
            if (result == kErrorSuccess) result = CopyValues(*child, target);
            if (result != kErrorSuccess) return result;
            continue;
        }
        if (target->IsLink()) return kErrorAccessDenied;
        result = CopyInto(*child, target, depth + 1);
        if (result != kErrorSuccess) return result;
    }
    return kErrorSuccess;
}

long CopyKeyTree(RegistryAccess& registry, RegHandle source, RegHandle destinationParent,
                 std::string_view path) {
    auto lock = registry.GetMachine().Registry().Lock();
    RegKey* from = registry.KeyOf(source);
    RegKey* parent = registry.KeyOf(destinationParent);
    if (!from || !parent) return kErrorInvalidHandle;
    return RegistryEditor(registry.GetMachine()).CopyTree(from, parent, AnsiToUtf16(path));
}

bool CopyValueExact(RegistryAccess& registry, RegHandle fromRoot, std::string_view fromPath,
                    std::string_view fromName, RegHandle toRoot, std::string_view toPath,
                    std::string_view toName) {
    auto lock = registry.GetMachine().Registry().Lock();
    RegKey* fromBase = registry.KeyOf(fromRoot);
    RegKey* toBase = registry.KeyOf(toRoot);
    if (!fromBase || !toBase) return false;
    RegKey* from = registry.GetMachine().Registry().Find(fromBase, AnsiToUtf16(fromPath));
    const RegValue* value = from ? from->FindValue(AnsiToUtf16(fromName)) : nullptr;
    if (!value) return false;
    RegValue copy = *value;
    RegistryEditor editor(registry.GetMachine());
    RegKey* to = nullptr;
    if (editor.CreateKey(toBase, AnsiToUtf16(toPath), &to) != kErrorSuccess) return false;
    return editor.SetValue(to, AnsiToUtf16(toName), copy.type, std::move(copy.data)) ==
           kErrorSuccess;
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

std::optional<RegValue> ReadExactValue(Machine& machine, std::string_view keyPath,
                                       std::string_view valueName) {
    auto lock = machine.Registry().Lock();
    RegKey* key = FindKey(machine, keyPath);
    if (!key) return std::nullopt;
    // The name as a scan enumerated it: one the code page cannot hold is still found.
    const RegValue* value = FindValueByAnsiName(key->Values(), valueName);
    if (!value) return std::nullopt;
    return *value;
}

bool WriteExactValue(Machine& machine, std::string_view keyPath, const RegValue& value) {
    auto lock = machine.Registry().Lock();
    RegKey* key = FindKey(machine, keyPath);
    if (!key) return false;
    return RegistryEditor(machine).SetValue(key, value.name, value.type, value.data) ==
           kErrorSuccess;
}

}  // namespace hivewise
