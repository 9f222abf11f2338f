#include "platform/machine/machine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/files/atomic_file.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/leftover_files.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

constexpr const char16_t* kDefaultSid = u"S-1-5-21-0-0-0-1000";

struct HiveSource {
    const char* file;
    std::u16string relativeTo;  // empty: taken from the file
};

void RecordStat(HiveFile& hive, const struct stat& st) {
    hive.mtime = st.st_mtim;
    hive.size = st.st_size;
    hive.inode = st.st_ino;
}

bool SameStat(const HiveFile& hive, const struct stat& st) {
    return hive.mtime.tv_sec == st.st_mtim.tv_sec && hive.mtime.tv_nsec == st.st_mtim.tv_nsec &&
           hive.size == st.st_size && hive.inode == st.st_ino;
}

// The key at a path of the tree ("REGISTRY\\User\\S-1-..."), made when missing.
RegKey* KeyAt(RegistryStore& store, std::u16string_view path) {
    // The first component is the tree's own root ("REGISTRY").
    size_t first = path.find(u'\\');
    std::u16string_view rest =
        first == std::u16string_view::npos ? std::u16string_view{} : path.substr(first + 1);
    return rest.empty() ? store.Root() : store.Create(store.Root(), rest);
}

std::string ArchOf(const std::string& header) {
    size_t at = header.find("#arch=");
    if (at == std::string::npos) return "win32";
    size_t end = header.find('\n', at);
    return header.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6);
}

}  // namespace

Machine::Machine() = default;
Machine::~Machine() = default;

Machine::LoadResult Machine::Load(const std::filesystem::path& prefixIn,
                                  const MachineOptions& options) {
    LoadResult result;
    std::error_code ec;
    std::filesystem::path prefix = std::filesystem::absolute(prefixIn, ec);
    if (ec) prefix = prefixIn;
    prefix = prefix.lexically_normal();
    if (!prefix.empty() && prefix.filename().empty()) prefix = prefix.parent_path();
    if (!std::filesystem::is_directory(prefix, ec)) {
        result.error = prefix.string() + " is not a folder.";
        return result;
    }
    if (!std::filesystem::is_regular_file(prefix / "system.reg", ec)) {
        result.error = prefix.string() + " is not a Wine prefix (it has no system.reg).";
        return result;
    }
    std::unique_ptr<Machine> machine(new Machine());
    machine->prefix_ = prefix;
    machine->options_ = options;
    if (options.lockPrefix && !options.readOnly) {
        machine->lock_ = PrefixLock::Acquire(prefix, &result.error);
        if (!machine->lock_) return result;
        RemoveLeftoverSaveFiles(prefix);
    }

    const HiveSource sources[] = {{"system.reg", u"REGISTRY\\Machine"},
                                  {"user.reg", u""},
                                  {"userdef.reg", u"REGISTRY\\User\\.Default"}};
    std::string arch = "win32";
    RegistryStore& store = machine->store_;
    for (const auto& source : sources) {
        HiveFile hive;
        hive.fileName = source.file;
        std::filesystem::path path = prefix / source.file;
        RegKey* branch = store.NewDetachedKey();
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            // The store keeps the text: untouched sections and values are read from it.
            const std::string_view* text = store.ReadText(path, &result.error);
            if (!text) return result;
            HiveInfo info;
            HiveParseError perr;
            if (!ReadHive(store, branch, text, &info, &perr)) {
                result.error = std::string(source.file) + ", line " + std::to_string(perr.line) +
                               ": " + perr.message + ". Nothing was loaded.";
                return result;
            }
            hive.existed = true;
            RecordStat(hive, st);
            hive.header = std::move(info.header);
            hive.trailer = std::move(info.trailer);
            hive.relativeTo = source.relativeTo.empty() ? info.relativeTo : source.relativeTo;
            if (hive.fileName == "system.reg") arch = ArchOf(hive.header);
        } else {
            hive.relativeTo = source.relativeTo;
        }
        hive.base = branch;
        if (hive.fileName == "user.reg") {
            std::u16string rel = hive.relativeTo;
            size_t cut = rel.rfind(u'\\');
            bool valid = cut != std::u16string::npos &&
                         EqualsNoCase(std::u16string_view(rel).substr(0, cut), u"REGISTRY\\User");
            machine->userSid_ = valid ? rel.substr(cut + 1) : kDefaultSid;
            hive.relativeTo = u"REGISTRY\\User\\" + machine->userSid_;
        }
        if (!hive.existed) hive.header = NewHiveHeader(hive.relativeTo, arch);
        machine->hives_.push_back(std::move(hive));
    }
    for (size_t i = 0; i < machine->hives_.size(); ++i) {
        HiveFile& hive = machine->hives_[i];
        std::u16string_view path = hive.relativeTo;
        size_t cut = path.rfind(u'\\');
        RegKey* parent = KeyAt(store, cut == std::u16string_view::npos ? u"" : path.substr(0, cut));
        store.Graft(parent, cut == std::u16string_view::npos ? path : path.substr(cut + 1),
                    hive.base);
        store.Mount(hive.base, static_cast<unsigned>(i));
    }
    for (size_t i = 0; i < machine->hives_.size(); ++i)
        machine->hives_[i].savedChanges = store.ChangesOf(static_cast<unsigned>(i));

    machine->paths_ = std::make_unique<PathResolver>(*machine);
    machine->handles_ = std::make_unique<KeyHandleTable>();
    machine->RefreshDerivedFacts();
    result.machine = std::move(machine);
    return result;
}

RegKey* Machine::LocalMachine() const {
    return hives_.empty() ? store_.Root()->FindSubKey(u"Machine") : hives_[0].base;
}
RegKey* Machine::Users() const {
    return store_.Root()->FindSubKey(u"User");
}
RegKey* Machine::CurrentUser() const {
    RegKey* users = Users();
    return users ? users->FindSubKey(userSid_) : nullptr;
}

RegKey* Machine::ClassesRoot() {
    RegKey* found = store_.Find(LocalMachine(), u"Software\\Classes");
    return found ? found : store_.Create(LocalMachine(), u"Software\\Classes");
}

std::string Machine::Arch() const {
    return hives_.empty() ? "win32" : ArchOf(hives_[0].header);
}

const Drive* Machine::FindDrive(char letter) const {
    char upper = (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 32) : letter;
    for (const auto& d : drives_) {
        if (d.letter == upper) return &d;
    }
    return nullptr;
}

std::optional<std::string> Machine::GetEnv(const std::string& name) const {
    auto it = env_.find(name);
    if (it == env_.end()) return std::nullopt;
    return it->second;
}

void Machine::RefreshDerivedFacts() {
    drives_ = ReadDrives(prefix_, store_, LocalMachine());
    env_ = BuildEnvironment(store_, LocalMachine(), CurrentUser(), userSid_);
    version_ = ReadVersionFacts(store_, LocalMachine(), CurrentUser());
    if (paths_) paths_->InvalidateAll();
}

Machine::KeyRole Machine::RoleOf(const RegKey* key) const {
    if (!key || key->IsDeleted()) return KeyRole::Unsaved;
    for (const auto& hive : hives_) {
        for (const RegKey* k = hive.base; k; k = k->Parent()) {
            if (k == key) return KeyRole::Base;
        }
    }
    if (store_.FileOf(key) < 0) return KeyRole::Unsaved;
    if (key->Parent() && key->Parent() == LocalMachine()) return KeyRole::TopLevel;
    return KeyRole::Ordinary;
}

bool Machine::IsSavedKey(const RegKey* key) const {
    KeyRole role = RoleOf(key);
    return role == KeyRole::TopLevel || role == KeyRole::Ordinary;
}

bool Machine::SavesNewSubKeys(const RegKey* parent) const {
    // HKEY_LOCAL_MACHINE holds only its own top-level keys: Windows refuses new ones, and
    // what could not be deleted again must not be made.
    return parent && !parent->IsDeleted() && store_.FileOf(parent) >= 0 && parent != LocalMachine();
}

bool Machine::SavesNewKeysAt(RegKey* base, std::u16string_view path) const {
    RegKey* existing = base;
    while (!path.empty()) {
        size_t cut = path.find(u'\\');
        std::u16string_view part = path.substr(0, cut);
        path.remove_prefix(cut == std::u16string_view::npos ? path.size() : cut + 1);
        if (part.empty()) continue;
        RegKey* next = existing ? store_.Find(existing, part) : nullptr;
        if (!next) return SavesNewSubKeys(existing);
        existing = next;
    }
    return true;
}

bool Machine::NeedsWrite(const HiveFile& hive, size_t index) const {
    if (store_.ChangesOf(static_cast<unsigned>(index)) == hive.savedChanges) return false;
    return hive.existed || hive.base->SubKeyCount() > 0 || !hive.base->Values().empty();
}

bool Machine::HasUnsavedChanges() const {
    auto lock = store_.Lock();
    for (size_t i = 0; i < hives_.size(); ++i) {
        if (NeedsWrite(hives_[i], i)) return true;
    }
    return false;
}

std::string Machine::RefusalFor(const std::vector<size_t>& files) const {
    if (options_.readOnly) {
        return "The prefix was opened read only, so nothing is written to it. Open it again to "
               "make changes.";
    }
    if (WineServerRunning(prefix_)) return WineRunningMessage(prefix_);
    // Every file is checked before any is written, so that a refusal leaves all alone.
    for (size_t i : files) {
        const HiveFile& hive = hives_[i];
        struct stat st {};
        bool exists = ::stat((prefix_ / hive.fileName).c_str(), &st) == 0;
        if (exists != hive.existed || (exists && !SameStat(hive, st))) {
            return hive.fileName + " in " + prefix_.string() +
                   " changed on disk since Hivewise read it; nothing was saved.";
        }
    }
    return {};
}

std::string Machine::SaveRefusal() const {
    auto lock = store_.Lock();
    std::vector<size_t> all(hives_.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return RefusalFor(all);
}

Machine::SaveResult Machine::Flush() {
    SaveResult result;
    auto lock = store_.Lock();
    std::vector<size_t> pending;
    for (size_t i = 0; i < hives_.size(); ++i) {
        if (NeedsWrite(hives_[i], i)) pending.push_back(i);
    }
    if (pending.empty()) return result;
    result.error = RefusalFor(pending);
    if (!result.error.empty()) {
        result.ok = false;
        return result;
    }
    // Every file is written and flushed before the first one replaces its old self.
    std::vector<StagedFile> staged(pending.size());
    for (size_t n = 0; n < pending.size(); ++n) {
        const HiveFile& hive = hives_[pending[n]];
        HiveText content = WriteHiveText(*hive.base, hive.header, hive.trailer);
        if (!staged[n].Write(prefix_ / hive.fileName, content.Pieces(), &result.error)) {
            result.ok = false;
            return result;
        }
    }
    for (size_t n = 0; n < pending.size(); ++n) {
        HiveFile& hive = hives_[pending[n]];
        std::filesystem::path path = prefix_ / hive.fileName;
        if (!staged[n].Commit(&result.error)) {
            result.ok = false;
            return result;
        }
        struct stat after {};
        if (::stat(path.c_str(), &after) == 0) RecordStat(hive, after);
        hive.existed = true;
        hive.savedChanges = store_.ChangesOf(static_cast<unsigned>(pending[n]));
        result.wroteAny = true;
    }
    return result;
}

}  // namespace hivewise
