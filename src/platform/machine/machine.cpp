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

// Puts a loaded branch at its place in the tree, replacing what stood there.
void Graft(RegistryStore& store, std::u16string_view path, std::shared_ptr<RegKey> branch) {
    std::u16string_view parentPath = path;
    std::u16string_view name = path;
    size_t cut = path.rfind(u'\\');
    if (cut != std::u16string_view::npos) {
        parentPath = path.substr(0, cut);
        name = path.substr(cut + 1);
    } else {
        parentPath = {};
    }
    RegKey* parent = store.Root();
    std::u16string_view rest = parentPath;
    // The first component is the tree's own root ("REGISTRY").
    size_t first = rest.find(u'\\');
    rest = first == std::u16string_view::npos ? std::u16string_view{} : rest.substr(first + 1);
    if (!rest.empty()) parent = store.Create(parent, rest);
    branch->name = std::u16string(name);
    branch->parent = parent;
    size_t pos = parent->SubKeyPosition(name);
    if (pos < parent->subkeys.size() && EqualsNoCase(parent->subkeys[pos]->name, name)) {
        parent->subkeys[pos] = std::move(branch);
    } else {
        parent->subkeys.insert(parent->subkeys.begin() + static_cast<ptrdiff_t>(pos),
                               std::move(branch));
    }
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
    for (const auto& source : sources) {
        HiveFile hive;
        hive.fileName = source.file;
        std::filesystem::path path = prefix / source.file;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (!ReadWholeFile(path, &hive.original, &result.error)) return result;
            HiveParseError perr;
            auto parsed = ParseHive(hive.original, &perr);
            if (!parsed) {
                result.error = std::string(source.file) + ", line " + std::to_string(perr.line) +
                               ": " + perr.message + ". Nothing was loaded.";
                return result;
            }
            hive.existed = true;
            RecordStat(hive, st);
            hive.header = std::move(parsed->header);
            hive.trailer = std::move(parsed->trailer);
            hive.base = std::move(parsed->base);
            hive.relativeTo = source.relativeTo.empty() ? parsed->relativeTo : source.relativeTo;
            hive.onDisk = hive.original;
            if (hive.fileName == "system.reg") arch = ArchOf(hive.header);
        } else {
            hive.base = std::make_shared<RegKey>();
            hive.relativeTo = source.relativeTo;
        }
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
    for (auto& hive : machine->hives_)
        Graft(machine->store_, hive.relativeTo, hive.base);

    machine->paths_ = std::make_unique<PathResolver>(*machine);
    machine->handles_ = std::make_unique<KeyHandleTable>();
    machine->RefreshDerivedFacts();
    result.machine = std::move(machine);
    return result;
}

RegKey* Machine::LocalMachine() const {
    return store_.Root()->FindSubKey(u"Machine");
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

bool Machine::HasUnsavedChanges() const {
    for (const auto& hive : hives_) {
        std::string content = WriteHive(*hive.base, hive.header, hive.trailer, hive.original);
        if (!hive.existed && hive.base->subkeys.empty() && hive.base->values.empty()) continue;
        if (content != hive.onDisk) return true;
    }
    return false;
}

Machine::SaveResult Machine::Flush() {
    SaveResult result;
    std::vector<std::pair<HiveFile*, std::string>> pending;
    for (auto& hive : hives_) {
        if (!hive.existed && hive.base->subkeys.empty() && hive.base->values.empty()) continue;
        std::string content = WriteHive(*hive.base, hive.header, hive.trailer, hive.original);
        if (content != hive.onDisk) pending.emplace_back(&hive, std::move(content));
    }
    if (pending.empty()) return result;
    if (options_.readOnly) {
        result.ok = false;
        result.error = "The prefix was opened read only; the registry changes were not saved.";
        return result;
    }
    if (WineServerRunning(prefix_)) {
        result.ok = false;
        result.error = WineRunningMessage(prefix_);
        return result;
    }
    // Check every file before writing any, so that a refusal leaves all of them alone.
    for (auto& [hive, content] : pending) {
        struct stat st {};
        bool exists = ::stat((prefix_ / hive->fileName).c_str(), &st) == 0;
        if (exists != hive->existed || (exists && !SameStat(*hive, st))) {
            result.ok = false;
            result.error = hive->fileName + " in " + prefix_.string() +
                           " changed on disk since Hivewise read it; nothing was saved.";
            return result;
        }
    }
    for (auto& [hive, content] : pending) {
        std::filesystem::path path = prefix_ / hive->fileName;
        if (!WriteFileAtomically(path, content, &result.error)) {
            result.ok = false;
            return result;
        }
        struct stat after {};
        if (::stat(path.c_str(), &after) == 0) RecordStat(*hive, after);
        hive->existed = true;
        hive->onDisk = std::move(content);
        result.wroteAny = true;
    }
    return result;
}

}  // namespace hivewise
