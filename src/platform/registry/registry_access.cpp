#include "platform/registry/registry_access.h"

#include <algorithm>

#include "platform/files/atomic_file.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "platform/registry/registry_editor.h"

namespace hivewise {
namespace {

bool IsStringType(uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Value data as the ANSI functions deliver it: string types converted, others as stored.
size_t AnsiDataSize(const RegValue& value) {
    return IsStringType(value.type) ? value.data.size() / 2 : value.data.size();
}

// Into the caller's buffer, so that a walk reuses one buffer instead of allocating.
void AnsiDataInto(const RegValue& value, std::string& out) {
    if (IsStringType(value.type)) {
        Utf16BytesToAnsiInto(value.data, out);
    } else {
        out.assign(value.data);
    }
}

}  // namespace

long FindStatusError(FindStatus status) {
    switch (status) {
        case FindStatus::LinkUnresolved:
            return kErrorCantResolveFilename;
        case FindStatus::TooDeep:
            return kErrorInvalidParameter;
        default:
            return kErrorFileNotFound;
    }
}

std::string UpToNul(std::string data) {
    size_t nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    return data;
}

ScopedKey& ScopedKey::operator=(ScopedKey&& other) noexcept {
    if (this != &other) {
        Reset();
        registry_ = other.registry_;
        handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
}

void ScopedKey::Reset() {
    if (handle_ != 0) registry_->CloseKey(std::exchange(handle_, 0));
}

RegistryAccess::RegistryAccess(Machine& machine) : machine_(machine), handles_(machine.Handles()) {}

RegKey* RegistryAccess::Resolve(RegHandle handle, long* error) {
    RegKey* key = nullptr;
    switch (handle) {
        case kHkeyClassesRoot:
            key = machine_.ClassesRoot();
            break;
        case kHkeyCurrentUser:
            key = machine_.CurrentUser();
            break;
        case kHkeyLocalMachine:
            key = machine_.LocalMachine();
            break;
        case kHkeyUsers:
            key = machine_.Users();
            break;
        default:
            key = handles_.Get(handle);
    }
    if (!key) {
        *error = kErrorInvalidHandle;
        return nullptr;
    }
    if (key->IsDeleted()) {
        *error = kErrorKeyDeleted;
        return nullptr;
    }
    *error = kErrorSuccess;
    return key;
}

RegKey* RegistryAccess::KeyOf(RegHandle handle) {
    auto lock = machine_.Registry().Lock();  // the classes root is made on first use
    long error;
    return Resolve(handle, &error);
}

RegKey* RegistryAccess::Resolve(const WalkedKey& key, long* error) {
    *error = !key.key_               ? kErrorInvalidHandle
             : key.key_->IsDeleted() ? kErrorKeyDeleted
                                     : kErrorSuccess;
    return *error == kErrorSuccess ? key.key_ : nullptr;
}

WalkedKey RegistryAccess::Walk(RegHandle handle) {
    auto lock = machine_.Registry().Lock();
    long error;
    RegKey* key = Resolve(handle, &error);
    if (!key) return {};
    return WalkedKey(key, machine_.Registry().NumberOf(key));
}

size_t RegistryAccess::KeyNumberLimit() const {
    auto lock = machine_.Registry().Lock();
    return machine_.Registry().KeyNumberLimit();
}

RegKey* RegistryAccess::Opened(RegKey* parent, std::string_view subKey, long* error) {
    FindStatus status;
    RegKey* key = machine_.Registry().Find(parent, AnsiToUtf16(subKey), true, &status);
    // Deeper keys than Windows allows are not opened, so that walks stay bounded.
    *error = !key                          ? FindStatusError(status)
             : key->Depth() > kMaxKeyDepth ? kErrorInvalidParameter
                                           : kErrorSuccess;
    return *error == kErrorSuccess ? key : nullptr;
}

long RegistryAccess::OpenKey(RegHandle base, std::string_view subKey, uint32_t /*access*/,
                             RegHandle* result) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* parent = Resolve(base, &error);
    if (!parent) return error;
    RegKey* key = Opened(parent, subKey, &error);
    if (!key) return error;
    *result = handles_.Add(key);
    return kErrorSuccess;
}

long RegistryAccess::CreateKey(RegHandle base, std::string_view subKey, RegHandle* result,
                               bool* created) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* parent = Resolve(base, &error);
    if (!parent) return error;
    RegKey* key = nullptr;
    error = RegistryEditor(machine_).CreateKey(parent, AnsiToUtf16(subKey), &key, created);
    if (error != kErrorSuccess) return error;
    *result = handles_.Add(key);
    return kErrorSuccess;
}

long RegistryAccess::OpenKey(RegHandle base, std::string_view subKey, uint32_t access,
                             ScopedKey* result) {
    // Into a new handle first: the base may be the key `result` holds.
    RegHandle handle = 0;
    long error = OpenKey(base, subKey, access, &handle);
    return Into(result, handle, error);
}

long RegistryAccess::CreateKey(RegHandle base, std::string_view subKey, ScopedKey* result,
                               bool* created) {
    RegHandle handle = 0;
    long error = CreateKey(base, subKey, &handle, created);
    return Into(result, handle, error);
}

long RegistryAccess::Into(ScopedKey* result, RegHandle handle, long error) {
    result->Reset();
    result->registry_ = this;
    result->handle_ = handle;
    return error;
}

long RegistryAccess::CloseKey(RegHandle key) {
    if (key >= kHkeyClassesRoot && key <= kHkeyUsers) return kErrorSuccess;
    return handles_.Remove(key) ? kErrorSuccess : kErrorInvalidHandle;
}

long RegistryAccess::InfoOf(const RegKey* key, uint32_t* subKeys, uint32_t* values) {
    if (subKeys) *subKeys = static_cast<uint32_t>(key->SubKeyCount());
    if (values) *values = static_cast<uint32_t>(ValueCount(key));
    return kErrorSuccess;
}

long RegistryAccess::QueryInfoKey(RegHandle handle, uint32_t* subKeys, uint32_t* values) {
    long error;
    auto lock = machine_.Registry().Lock();
    const RegKey* key = Resolve(handle, &error);
    return key ? InfoOf(key, subKeys, values) : error;
}

long RegistryAccess::QueryInfoKey(const WalkedKey& walked, uint32_t* subKeys, uint32_t* values) {
    long error;
    auto lock = machine_.Registry().Lock();
    const RegKey* key = Resolve(walked, &error);
    return key ? InfoOf(key, subKeys, values) : error;
}

long RegistryAccess::SubKeyNameOf(const RegKey* key, uint32_t index, std::string* name,
                                  size_t capacity) {
    if (index >= key->SubKeyCount()) return kErrorNoMoreItems;
    std::u16string_view wide = key->SubKey(index)->Name();
    if (wide.size() > capacity) return kErrorMoreData;  // one ANSI byte per unit
    if (name) Utf16ToAnsiInto(wide, *name);
    return kErrorSuccess;
}

long RegistryAccess::EnumKey(RegHandle handle, uint32_t index, std::string* name, size_t capacity) {
    long error;
    auto lock = machine_.Registry().Lock();
    const RegKey* key = Resolve(handle, &error);
    return key ? SubKeyNameOf(key, index, name, capacity) : error;
}

long RegistryAccess::EnumKey(const WalkedKey& walked, uint32_t index, std::string* name,
                             size_t capacity) {
    long error;
    auto lock = machine_.Registry().Lock();
    const RegKey* key = Resolve(walked, &error);
    return key ? SubKeyNameOf(key, index, name, capacity) : error;
}

RegKey* RegistryAccess::EnumeratedChild(RegKey* key, uint32_t index, std::string_view name,
                                        long* error) {
    RegKey* child = index < key->SubKeyCount() ? key->SubKey(index) : nullptr;
    // The child itself is what a look-up of its name finds when that name reads back
    // unchanged (plain ASCII, no separator) and it is no link to follow.
    auto plain = [](char16_t c) { return c < 0x80 && c != u'\\'; };
    if (child && !child->IsLink() && !name.empty() && child->Name().size() == name.size() &&
        std::all_of(child->Name().begin(), child->Name().end(), plain) &&
        std::equal(name.begin(), name.end(), child->Name().begin(),
                   [](char a, char16_t b) { return static_cast<char16_t>(a) == b; })) {
        *error = child->Depth() > kMaxKeyDepth ? kErrorInvalidParameter : kErrorSuccess;
        return *error == kErrorSuccess ? child : nullptr;
    }
    return Opened(key, name, error);
}

long RegistryAccess::OpenEnumeratedKey(RegHandle handle, uint32_t index, std::string_view name,
                                       ScopedKey* result) {
    RegHandle opened = 0;
    long error;
    {
        auto lock = machine_.Registry().Lock();
        RegKey* key = Resolve(handle, &error);
        if (!key) return error;
        if (RegKey* child = EnumeratedChild(key, index, name, &error)) opened = handles_.Add(child);
    }
    return Into(result, opened, error);
}

long RegistryAccess::OpenEnumeratedKey(const WalkedKey& walked, uint32_t index,
                                       std::string_view name, WalkedKey* result) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* key = Resolve(walked, &error);
    RegKey* child = key ? EnumeratedChild(key, index, name, &error) : nullptr;
    *result = child ? WalkedKey(child, machine_.Registry().NumberOf(child)) : WalkedKey();
    return error;
}

long RegistryAccess::EnumValue(RegHandle handle, uint32_t index, std::string* name,
                               size_t nameCapacity, uint32_t* type, std::string* data,
                               size_t dataCapacity) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* key = Resolve(handle, &error);
    if (!key) return error;
    if (index >= ValueCount(key)) return kErrorNoMoreItems;
    return ValueAt(key, index, name, nameCapacity, type, data, dataCapacity);
}

long RegistryAccess::BatchOf(const RegKey* key, long error, uint32_t index, uint32_t count,
                             size_t nameCapacity, size_t dataCapacity, ValueBatch* batch) {
    batch->first = index;
    batch->changeCount = machine_.Registry().ChangeCount();
    if (!key) {
        batch->values.clear();
        return error;
    }
    const size_t values = ValueCount(key);
    const size_t from = std::min<size_t>(index, values);
    batch->values.resize(std::min<size_t>(count, values - from));
    for (size_t i = 0; i < batch->values.size(); ++i) {
        EnumeratedValue& entry = batch->values[i];
        entry.status = ValueAt(key, from + i, &entry.name, nameCapacity, &entry.type, &entry.data,
                               dataCapacity);
    }
    return kErrorSuccess;
}

long RegistryAccess::EnumValues(RegHandle handle, uint32_t index, uint32_t count,
                                size_t nameCapacity, size_t dataCapacity, ValueBatch* batch) {
    long error;
    auto lock = machine_.Registry().Lock();
    const RegKey* key = Resolve(handle, &error);
    return BatchOf(key, error, index, count, nameCapacity, dataCapacity, batch);
}

long RegistryAccess::EnumValues(const WalkedKey& walked, uint32_t index, uint32_t count,
                                size_t nameCapacity, size_t dataCapacity, ValueBatch* batch) {
    long error;
    auto lock = machine_.Registry().Lock();
    const RegKey* key = Resolve(walked, &error);
    return BatchOf(key, error, index, count, nameCapacity, dataCapacity, batch);
}

size_t RegistryAccess::ValueCount(const RegKey* key) {
    const std::vector<PlainValue>* plain = peek_.PlainOf(key);
    return plain ? plain->size() : peek_.Of(key).size();
}

long RegistryAccess::ValueAt(const RegKey* key, size_t index, std::string* name,
                             size_t nameCapacity, uint32_t* type, std::string* data,
                             size_t dataCapacity) {
    if (const std::vector<PlainValue>* plain = peek_.PlainOf(key)) {
        return ValueInto((*plain)[index], name, nameCapacity, type, data, dataCapacity);
    }
    return ValueInto(peek_.Of(key)[index], name, nameCapacity, type, data, dataCapacity);
}

uint64_t RegistryAccess::ChangeCount() const {
    return machine_.Registry().ChangeCount();
}

// One value into EnumValue's results, or kErrorMoreData when its name or data do not fit.
long RegistryAccess::ValueInto(const RegValue& value, std::string* name, size_t nameCapacity,
                               uint32_t* type, std::string* data, size_t dataCapacity) {
    if (value.name.size() > nameCapacity) return kErrorMoreData;  // one ANSI byte per unit
    if (data) {
        if (AnsiDataSize(value) > dataCapacity) return kErrorMoreData;
        AnsiDataInto(value, *data);
    }
    if (name) Utf16ToAnsiInto(value.name, *name);
    if (type) *type = value.type;
    return kErrorSuccess;
}

long RegistryAccess::ValueInto(const PlainValue& value, std::string* name, size_t nameCapacity,
                               uint32_t* type, std::string* data, size_t dataCapacity) {
    if (value.name.size() > nameCapacity) return kErrorMoreData;
    if (data) {
        if (value.data.size() > dataCapacity) return kErrorMoreData;
        data->assign(value.data);
    }
    if (name) name->assign(value.name);
    if (type) *type = value.type;
    return kErrorSuccess;
}

long RegistryAccess::QueryValue(RegHandle handle, std::string_view name, size_t capacity,
                                uint32_t* type, std::string* data) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* key = Resolve(handle, &error);
    if (!key) return error;
    if (const std::vector<PlainValue>* plain = peek_.PlainOf(key)) {
        // Plain names are ASCII, which no other byte folds to: a name that lost characters
        // to the code page cannot stand for one.
        auto found = std::find_if(plain->begin(), plain->end(), [&](const PlainValue& value) {
            return AnsiEqualsNoCase(value.name, name);
        });
        if (found == plain->end()) return kErrorFileNotFound;
        if (found->data.size() > capacity) return kErrorMoreData;
        if (type) *type = found->type;
        if (data) data->assign(found->data);
        return kErrorSuccess;
    }
    const RegValue* value = FindValueByAnsiName(peek_.Of(key), name);
    if (!value) return kErrorFileNotFound;
    if (AnsiDataSize(*value) > capacity) return kErrorMoreData;
    if (type) *type = value->type;
    if (data) AnsiDataInto(*value, *data);
    return kErrorSuccess;
}

long RegistryAccess::SetValue(RegHandle handle, std::string_view name, uint32_t type,
                              std::string_view data) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* key = Resolve(handle, &error);
    if (!key) return error;
    std::string stored;
    if (IsStringType(type)) {
        std::string text(data);
        if (!text.empty() && text.back() != '\0') text.push_back('\0');
        stored = Utf16ToBytes(AnsiToUtf16(text));
    } else {
        stored = std::string(data);
    }
    return RegistryEditor(machine_).SetValue(key, AnsiToUtf16(name), type, std::move(stored));
}

long RegistryAccess::DeleteKeyTree(RegHandle root, std::string_view path) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* base = Resolve(root, &error);
    if (!base) return error;
    std::u16string wide = AnsiToUtf16(path);
    while (!wide.empty() && wide.back() == u'\\')
        wide.pop_back();
    size_t cut = wide.rfind(u'\\');
    FindStatus status = FindStatus::Found;
    RegKey* parent = cut == std::u16string::npos
                         ? base
                         : machine_.Registry().Find(base, std::u16string_view(wide).substr(0, cut),
                                                    true, &status);
    if (!parent) return FindStatusError(status);
    std::u16string_view last = cut == std::u16string::npos
                                   ? std::u16string_view(wide)
                                   : std::u16string_view(wide).substr(cut + 1);
    // The roots and the hives themselves are never deleted.
    if (last.empty()) return kErrorAccessDenied;
    // The last component is taken as it is: deleting a link removes the link.
    RegKey* key = parent->FindSubKey(last);
    if (!key) return kErrorFileNotFound;
    return RegistryEditor(machine_).DeleteTree(key);
}

long RegistryAccess::DeleteValue(RegHandle root, std::string_view path, std::string_view name) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* base = Resolve(root, &error);
    if (!base) return error;
    FindStatus status;
    RegKey* key = machine_.Registry().Find(base, AnsiToUtf16(path), true, &status);
    if (!key) return FindStatusError(status);
    const RegValue* value = FindValueByAnsiName(key->Values(), name);
    if (!value) return kErrorFileNotFound;
    std::u16string wideName = value->name;
    return RegistryEditor(machine_).DeleteValue(key, wideName);
}

long RegistryAccess::SaveKey(RegHandle handle, const std::string& file) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* key = Resolve(handle, &error);
    if (!key) return error;
    auto host = machine_.Paths().ToHost(file, true);
    if (!host) return kErrorFileNotFound;
    std::error_code ec;
    if (std::filesystem::exists(*host, ec)) return kErrorAlreadyExists;
    std::string header = SavedKeyHeader(u"REGISTRY\\" + key->PathFrom(nullptr), machine_.Arch());
    // Sections are written anew: the raw text of a loaded key belongs to its hive file.
    // Written in its pieces, not joined first: a whole hive would be in memory twice.
    HiveText content = WriteHiveText(*key, header, SavedKeyTrailer(), false);
    StagedFile staged;
    if (!staged.Write(*host, content.Pieces(), nullptr) || !staged.Commit(nullptr)) {
        return kErrorAccessDenied;
    }
    machine_.Paths().Invalidate(host->parent_path());
    return kErrorSuccess;
}

long RegistryAccess::RestoreKey(RegHandle handle, const std::string& file, uint32_t /*flags*/) {
    long error;
    auto lock = machine_.Registry().Lock();
    RegKey* key = Resolve(handle, &error);
    if (!key) return error;
    auto host = machine_.Paths().ToHost(file);
    if (!host) return kErrorFileNotFound;
    std::string content;
    if (!ReadWholeFile(*host, &content, nullptr)) return kErrorFileNotFound;
    if (!RegistryEditor(machine_).MayReplace(key)) return kErrorAccessDenied;
    RegistryStore& store = machine_.Registry();
    RegKey* loaded = store.NewDetachedKey();
    HiveInfo info;
    HiveParseError perr;
    if (!ReadHive(store, loaded, store.KeepText(std::move(content)), &info, &perr))
        return kErrorBadDb;
    return RegistryEditor(machine_).Replace(key, loaded);
}

long RegistryAccess::CheckKeyFile(const std::string& file, SavedKeyFile* saved) {
    auto host = machine_.Paths().ToHost(file);
    if (!host) return kErrorFileNotFound;
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(*host, ec);
    if (ec || size > kMaxSavedKeyFileBytes) return kErrorFileNotFound;
    if (!ReadWholeFile(*host, &saved->content, nullptr)) return kErrorFileNotFound;
    if (saved->content.size() > kMaxSavedKeyFileBytes) return kErrorFileNotFound;
    WholeHive whole;
    HiveParseError perr;
    if (!CheckWholeHive(saved->content, &whole, &perr)) return kErrorBadDb;
    saved->relativeTo = std::move(whole.relativeTo);
    saved->onlyHeader = whole.sections == 0;
    return kErrorSuccess;
}

long RegistryAccess::RestoreKeys(std::vector<KeyRestore>& items) {
    auto lock = machine_.Registry().Lock();
    RegistryStore& store = machine_.Registry();
    struct Target {
        RegKey* found = nullptr;  // the key, or its deepest existing ancestor
        std::u16string missing;   // the part of the path still to be created
        std::u16string path;      // the whole path, to tell overlapping targets apart
        RegKey* loaded = nullptr;
        bool skip = false;
    };
    std::vector<Target> targets(items.size());
    // First every key is looked for; nothing is created yet.
    for (size_t i = 0; i < items.size(); ++i) {
        long error;
        RegKey* key = Resolve(items[i].root, &error);
        if (!key) return error;
        std::u16string path = AnsiToUtf16(items[i].subKey);
        std::u16string_view rest(path);
        size_t missingParts = 0;
        while (!rest.empty()) {
            size_t cut = rest.find(u'\\');
            std::u16string_view part = rest.substr(0, cut);
            std::u16string_view after =
                rest.substr(cut == std::u16string_view::npos ? rest.size() : cut + 1);
            if (!part.empty()) {
                if (missingParts == 0) {
                    FindStatus status;
                    RegKey* next = store.Find(key, part, true, &status);
                    if (next) {
                        key = next;
                    } else if (status != FindStatus::NotFound) {
                        return FindStatusError(status);
                    } else {
                        targets[i].missing = std::u16string(rest);
                    }
                }
                if (!targets[i].missing.empty()) ++missingParts;
            }
            rest = after;
        }
        Target& target = targets[i];
        target.found = key;
        target.path = key->PathFrom(nullptr);
        if (!target.missing.empty()) target.path += u"\\" + target.missing;
        if (target.missing.empty()) {
            if (items[i].file.onlyHeader) return kErrorBadDb;
            if (!RegistryEditor(machine_).MayReplace(key)) return kErrorAccessDenied;
        } else if (items[i].file.onlyHeader) {
            target.skip = true;
        } else if (!RegistryEditor(machine_).MayCreateSubKeys(key)) {
            return kErrorAccessDenied;
        } else if (key->Depth() + missingParts > kMaxKeyDepth) {
            return kErrorInvalidParameter;
        }
    }
    // One key restored twice, or inside another restored key, would be lost to the other.
    for (size_t i = 0; i < targets.size(); ++i) {
        for (size_t j = 0; j < targets.size(); ++j) {
            const std::u16string& a = targets[i].path;
            const std::u16string& b = targets[j].path;
            if (i == j || targets[i].skip || targets[j].skip || b.size() < a.size()) continue;
            if (EqualsNoCase(a, std::u16string_view(b).substr(0, a.size())) &&
                (b.size() == a.size() || b[a.size()] == u'\\')) {
                return kErrorInvalidParameter;
            }
        }
    }
    // Then every file into a tree of its own.
    for (size_t i = 0; i < items.size(); ++i) {
        if (targets[i].skip) continue;
        RegKey* loaded = store.NewDetachedKey();
        HiveInfo info;
        HiveParseError perr;
        if (!ReadHive(store, loaded, store.KeepText(std::move(items[i].file.content)), &info,
                      &perr)) {
            return kErrorBadDb;
        }
        targets[i].loaded = loaded;
    }
    // Only now does the registry change, by steps that cannot fail after the checks above.
    RegistryEditor editor(machine_);
    for (Target& target : targets) {
        if (target.skip) continue;
        RegKey* key = target.found;
        if (!target.missing.empty()) {
            long error = editor.CreateKey(key, target.missing, &key);
            if (error != kErrorSuccess) return error;
        }
        long error = editor.Replace(key, target.loaded);
        if (error != kErrorSuccess) return error;
    }
    return kErrorSuccess;
}

long RegistryAccess::SetKeySecurity(RegHandle /*key*/) {
    return kErrorCallNotImplemented;
}

bool RegistryAccess::EnablePrivilege(const std::string& /*name*/) {
    return true;
}

const RootName* FindRootName(std::string_view text, bool exactLongName) {
    static constexpr RootName kRoots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM", kHkeyLocalMachine},
        {"HKEY_CURRENT_USER", "HKCU", kHkeyCurrentUser},
        {"HKEY_CLASSES_ROOT", "HKCR", kHkeyClassesRoot},
        {"HKEY_USERS", "HKU", kHkeyUsers},
        {"HKEY_CURRENT_CONFIG", "HKCC", kHkeyCurrentConfig},
    };
    for (const RootName& root : kRoots) {
        if (exactLongName
                ? text == root.longName
                : AnsiEqualsNoCase(text, root.longName) || AnsiEqualsNoCase(text, root.shortName)) {
            return &root;
        }
    }
    return nullptr;
}

std::optional<RegHandle> RegistryAccess::RootFromName(std::string_view text) {
    const RootName* root = FindRootName(text, true);
    if (!root || root->handle == kHkeyCurrentConfig) return std::nullopt;
    return root->handle;
}

std::optional<std::pair<RegHandle, std::string_view>> SplitRootPath(std::string_view path) {
    size_t cut = path.find('\\');
    if (cut == std::string_view::npos) return std::nullopt;
    auto root = RegistryAccess::RootFromName(path.substr(0, cut));
    if (!root) return std::nullopt;
    return std::pair(*root, path.substr(cut + 1));
}

bool RegistryAccess::KeyExists(RegHandle root, std::string_view path) {
    ScopedKey key(*this);
    return OpenKey(root, path, kKeyRead, &key) == kErrorSuccess;
}

std::string RegistryAccess::ReadStringValue(RegHandle root, std::string_view path,
                                            std::string_view valueName) {
    ScopedKey key(*this);
    if (OpenKey(root, path, kKeyRead, &key) != kErrorSuccess) return "";
    std::string data;
    long status = QueryValue(key, valueName, 255, nullptr, &data);
    return status == kErrorSuccess ? UpToNul(std::move(data)) : "";
}

bool RegistryAccess::WriteValue(RegHandle root, std::string_view path, std::string_view valueName,
                                std::string_view text, uint32_t type) {
    ScopedKey key(*this);
    if (OpenKey(root, path, kKeyWrite, &key) != kErrorSuccess) return false;
    return SetValue(key, valueName, type, text) == kErrorSuccess;
}

bool RegistryAccess::ReadSetting(std::string_view name, std::string* text) {
    if (name.empty() || !text) return false;
    ScopedKey key(*this);
    if (OpenKey(kHkeyCurrentUser, kSettingsKey, kKeyAllAccess, &key) != kErrorSuccess) return false;
    std::string data;
    if (QueryValue(key, name, 260, nullptr, &data) != kErrorSuccess) return false;
    *text = UpToNul(std::move(data));
    return true;
}

bool RegistryAccess::WriteSetting(std::string_view name, std::string_view text) {
    if (name.empty()) return false;
    ScopedKey key(*this);
    if (OpenKey(kHkeyCurrentUser, kSettingsKey, kKeyAllAccess, &key) != kErrorSuccess) return false;
    return SetValue(key, name, kRegSz, text) == kErrorSuccess;
}

unsigned RegistryAccess::CountSubKeys(RegHandle root, std::string_view path) {
    ScopedKey key(*this);
    if (OpenKey(root, path, kKeyAllAccess, &key) != kErrorSuccess) return 0;
    uint32_t count = 0;
    if (QueryInfoKey(key, &count, nullptr) != kErrorSuccess) count = 0;
    return count;
}

double RegistryAccess::CountValuesOf(RegHandle key, bool wholeTree, int depth, int* linksLeft) {
    uint32_t subKeys = 0, values = 0;
    if (QueryInfoKey(key, &subKeys, &values) != kErrorSuccess) return 0;
    double sum = values;
    if (!wholeTree || depth >= static_cast<int>(kMaxKeyDepth)) return sum;
    for (uint32_t i = 0; i < subKeys; ++i) {
        std::string name;
        if (EnumKey(key, i, &name, 255) != kErrorSuccess) continue;
        // Links lead elsewhere in the tree; a walk follows only so many, so that links
        // to one another cannot make it endless.
        {
            auto lock = machine_.Registry().Lock();
            RegKey* parent = KeyOf(key);
            RegKey* child = parent ? parent->FindSubKey(AnsiToUtf16(name)) : nullptr;
            if (child && child->IsLink() && --*linksLeft < 0) continue;
        }
        ScopedKey child(*this);
        if (OpenKey(key, name, kKeyAllAccess, &child) != kErrorSuccess) continue;
        sum += CountValuesOf(child, true, depth + 1, linksLeft);
    }
    return sum;
}

unsigned RegistryAccess::CountValues(RegHandle root, std::string_view path, bool wholeTree) {
    ScopedKey key(*this);
    if (OpenKey(root, path, kKeyAllAccess, &key) != kErrorSuccess) return 0;
    int linksLeft = kMaxLinksPerWalk;
    return static_cast<unsigned>(CountValuesOf(key, wholeTree, 0, &linksLeft));
}

const RegValue* FindValueByAnsiName(const std::vector<RegValue>& values,
                                    std::string_view ansiName) {
    std::u16string wide = AnsiToUtf16(ansiName);
    for (const RegValue& value : values) {
        if (EqualsNoCase(value.name, wide)) return &value;
    }
    // Only a name with '?' can be one that lost characters on its way to ANSI.
    if (ansiName.find('?') == std::string_view::npos) return nullptr;
    const RegValue* found = nullptr;
    std::string text;
    for (const RegValue& value : values) {
        Utf16ToAnsiInto(value.name, text);
        if (!AnsiEqualsNoCase(text, ansiName) || AnsiToUtf16(text) == value.name) continue;
        if (found) return nullptr;
        found = &value;
    }
    return found;
}

}  // namespace hivewise
