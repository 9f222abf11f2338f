#include "platform/files/path_resolver.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "platform/files/folder_listing.h"
#include "platform/files/short_names.h"
#include "platform/machine/machine.h"
#include "platform/machine/text.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// A walk over a large tree caches at most this many folder listings before starting
// afresh, and at most this many resolved folder paths (which are small).
constexpr size_t kMaxCachedFolders = 4096;
constexpr size_t kMaxKeptPaths = size_t{1} << 16;

using path_detail::Join;
using path_detail::Listing;
using path_detail::ReadListing;
using path_detail::Stamp;

std::string HostToAnsi(const std::string& hostName) {
    if (IsAscii(hostName)) return hostName;
    return Utf16ToAnsi(Utf8ToUtf16(hostName));
}
std::string AnsiToHost(const std::string& ansi) {
    if (IsAscii(ansi)) return ansi;
    return Utf16ToUtf8(AnsiToUtf16(ansi));
}

// Cache keys: the folder's text without a trailing separator.
std::string Key(const fs::path& folder) {
    std::string key = folder.native();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

bool IsDirectoryOnHost(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
bool IsDirectoryOnHost(const fs::path& path) {
    return IsDirectoryOnHost(path.c_str());
}

// Characters no Windows file name holds.
bool IsLegalComponent(const std::string& component) {
    for (char c : component) {
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*':
                return false;
            default:
                if (static_cast<unsigned char>(c) < 0x20) return false;
        }
    }
    return true;
}

// Splits on backslashes, applying "." and ".." to `out`; empty components vanish.
void AppendComponents(std::string_view rest, std::vector<std::string>& out) {
    out.reserve(out.size() + static_cast<size_t>(std::count(rest.begin(), rest.end(), '\\')) + 1);
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t next = rest.find('\\', pos);
        if (next == std::string_view::npos) next = rest.size();
        std::string_view part = rest.substr(pos, next - pos);
        pos = next + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!out.empty()) out.pop_back();
            continue;
        }
        out.emplace_back(part);
    }
}

// The part of `target` below `root`, or empty when it is not below it.
fs::path RelativeBelow(const fs::path& target, const fs::path& root) {
    fs::path relative = target.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") return {};
    return relative;
}

}  // namespace

size_t WindowsPathParts::TextSize() const {
    size_t size = unc ? 2 + server.size() + (share.empty() ? 0 : 1 + share.size())
                      : (components.empty() ? 3 : 2);
    for (const auto& c : components)
        size += 1 + c.size();
    return size;
}

std::string WindowsPathParts::Text() const {
    std::string out;
    out.reserve(TextSize());
    if (unc) {
        out += "\\\\";
        out += server;
        if (!share.empty()) {
            out += '\\';
            out += share;
        }
    } else {
        out += drive;
        out += ':';
        if (components.empty()) return out += '\\';
    }
    for (const auto& c : components) {
        out += '\\';
        out += c;
    }
    return out;
}

// A folder path resolved by the walk where some name on the way is not there as written,
// kept while the listings that decided those names stand. Names found as written need no
// such check: the folder is only used while it (and so each of them) still exists.
struct PathResolver::FolderRecord {
    uint64_t generation = 0;                  // of the layer's own changes when it was made
    mutable std::atomic<uint64_t> heldIn{0};  // the snapshot in which its checks last held
    std::optional<std::string> host;          // none: the walk fails in one of the folders
    std::vector<std::pair<std::string, Stamp>> checks;
};

struct PathResolver::Step {
    enum Kind { Missing, Written, Listed };
    Kind kind = Missing;
    std::string hostName;
    enum class Folder { Unknown, Dir, NotDir };
    Folder folder = Folder::Unknown;
    // A trusted listing decided a name that is not there as written: the folder's stamp
    // keeps that answer. Otherwise the answer cannot be kept.
    bool keepable = false;
    Stamp stamp;
};

struct PathResolver::Impl {
    // What is known of one host folder path: its listing, when it is a folder, or how the
    // walk resolved the Windows path that reads as it when written as is.
    struct Folder {
        std::shared_ptr<const Listing> listing;
        std::shared_ptr<const FolderRecord> record;
    };

    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const Listing>> listings;  // by host folder
    std::unordered_map<std::string, std::shared_ptr<const FolderRecord>>
        records;  // by written path
    // Bumped by every change the layer makes itself; older records are not used.
    uint64_t generation = 0;
    // Host roots of the drives, as cache keys.
    std::array<std::shared_ptr<const std::string>, 26> roots;
    // The snapshot in force (0: none), the scopes holding it, and the last one's number.
    std::atomic<uint64_t> snapshot{0};
    int snapshotHolders = 0;
    uint64_t snapshots = 0;

    // Whether a listing was seen current in the snapshot in force.
    bool SeenCurrent(const Listing& listing) const {
        uint64_t now = snapshot.load(std::memory_order_relaxed);
        return now != 0 && listing.currentIn.load(std::memory_order_relaxed) == now;
    }
    void MarkCurrent(const Listing& listing) const {
        listing.currentIn.store(snapshot.load(std::memory_order_relaxed),
                                std::memory_order_relaxed);
    }

    Folder Cached(const std::string& folder) {
        std::lock_guard lock(mutex);
        Folder known;
        if (auto it = listings.find(folder); it != listings.end()) known.listing = it->second;
        if (auto it = records.find(folder); it != records.end()) known.record = it->second;
        return known;
    }

    // Bounded: a full map starts afresh.
    template <typename Map>
    static typename Map::mapped_type& Slot(Map& map, const std::string& key, size_t limit) {
        if (map.size() >= limit && !map.count(key)) map.clear();
        return map[key];
    }

    // The listing of a folder as it is now, given a stat of it that succeeded.
    std::shared_ptr<const Listing> Get(const std::string& folder, const struct stat& st) {
        {
            std::lock_guard lock(mutex);
            auto it = listings.find(folder);
            if (it != listings.end()) {
                const auto& listing = it->second;
                if (listing && !listing->racy && listing->stamp.Matches(st)) {
                    MarkCurrent(*listing);
                    return listing;
                }
            }
        }
        std::shared_ptr<const Listing> listing = ReadListing(folder, st);
        if (!listing) return nullptr;
        MarkCurrent(*listing);
        std::lock_guard lock(mutex);
        Slot(listings, folder, kMaxCachedFolders) = listing;
        return listing;
    }

    std::shared_ptr<const Listing> Get(const std::string& folder) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::lock_guard lock(mutex);
            listings.erase(folder);
            return nullptr;
        }
        return Get(folder, st);
    }

    uint64_t Generation() {
        std::lock_guard lock(mutex);
        return generation;
    }
    void Keep(const std::string& written, std::shared_ptr<FolderRecord> record) {
        std::lock_guard lock(mutex);
        if (record->generation == generation) {
            Slot(records, written, kMaxKeptPaths) = std::move(record);
        }
    }
    void Drop(const std::string& written) {
        std::lock_guard lock(mutex);
        records.erase(written);
    }

    bool StillHolds(const FolderRecord& record) {
        {
            std::lock_guard lock(mutex);
            if (record.generation != generation) return false;
        }
        const uint64_t now = snapshot.load(std::memory_order_relaxed);
        if (now != 0 && record.heldIn.load(std::memory_order_relaxed) == now) return true;
        struct stat st {};
        for (const auto& [folder, stamp] : record.checks) {
            if (::stat(folder.c_str(), &st) != 0 || !stamp.Matches(st)) return false;
        }
        record.heldIn.store(now, std::memory_order_relaxed);
        return true;
    }

    std::shared_ptr<const std::string> Root(const Drive& drive) {
        size_t slot = static_cast<size_t>(drive.letter - 'A') % roots.size();
        std::lock_guard lock(mutex);
        auto& root = roots[slot];
        if (!root) root = std::make_shared<const std::string>(Key(drive.hostRoot));
        return root;
    }
};

PathResolver::PathResolver(Machine& machine) : impl_(std::make_unique<Impl>()), machine_(machine) {}

PathResolver::~PathResolver() = default;

std::optional<WindowsPathParts> PathResolver::Parse(const std::string& windowsPath) const {
    if (windowsPath.empty() || windowsPath.find('\0') != std::string::npos) return std::nullopt;
    // The text is copied only when it needs changing.
    std::string_view text = windowsPath;
    std::string changed;
    if (text.find('/') != std::string_view::npos) {
        changed = windowsPath;
        std::replace(changed.begin(), changed.end(), '/', '\\');
        text = changed;
    }
    // Device-namespace prefixes name the same paths.
    for (std::string_view prefix : {"\\\\?\\", "\\??\\", "\\\\.\\"}) {
        if (text.size() > prefix.size() && text.substr(0, prefix.size()) == prefix) {
            text.remove_prefix(prefix.size());
            if (text.size() >= 4 && AnsiEqualsNoCase(text.substr(0, 4), "UNC\\")) {
                changed = "\\\\" + std::string(text.substr(4));
                text = changed;
            }
            break;
        }
    }

    WindowsPathParts parts;
    std::string_view rest;
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
        parts.unc = true;
        std::vector<std::string> all;
        AppendComponents(std::string_view(text).substr(2), all);
        if (all.empty()) return std::nullopt;
        parts.server = all[0];
        if (all.size() > 1) parts.share = all[1];
        if (all.size() > 2) parts.components.assign(all.begin() + 2, all.end());
    } else {
        bool hasDrive =
            text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]));
        rest = std::string_view(text).substr(hasDrive ? 2 : 0);
        bool rooted = !rest.empty() && rest[0] == '\\';
        char drive =
            hasDrive ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))) : 0;
        if (!rooted || !hasDrive) {
            // Relative and drive-relative paths start from the program folder, the
            // current folder of the running program.
            const std::string& current = machine_.ProgramFolder();
            bool currentOk = current.size() >= 3 && current[1] == ':' && current[2] == '\\';
            char currentDrive =
                currentOk ? static_cast<char>(std::toupper(static_cast<unsigned char>(current[0])))
                          : 'C';
            if (!hasDrive) drive = currentDrive;
            if (!rooted && currentOk && drive == currentDrive) {
                AppendComponents(std::string_view(current).substr(3), parts.components);
            }
        }
        parts.drive = drive;
        AppendComponents(rest, parts.components);
    }
    // Windows drops trailing dots and spaces of the last component.
    if (!parts.components.empty()) {
        std::string& last = parts.components.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' '))
            last.pop_back();
        if (last.empty()) parts.components.pop_back();
    }
    return parts;
}

std::optional<std::string> PathResolver::FullPath(const std::string& windowsPath) const {
    auto parts = Parse(windowsPath);
    if (!parts) return std::nullopt;
    return parts->Text();
}

std::optional<std::vector<FolderEntry>> PathResolver::List(const fs::path& hostFolder) {
    auto listing = impl_->Get(Key(hostFolder));
    if (!listing) return std::nullopt;
    return listing->Entries();
}

std::optional<FolderEntry> PathResolver::Lookup(const fs::path& hostFolder,
                                                const std::string& ansiName) {
    if (ansiName.empty() || ansiName == "." || ansiName == ".." || !IsLegalComponent(ansiName)) {
        return std::nullopt;
    }
    // The name as written first: one stat, no listing.
    std::string hostName = AnsiToHost(ansiName);
    struct stat st {};
    if (::lstat((hostFolder / hostName).c_str(), &st) == 0)
        return FolderEntry{hostName, ansiName, ""};
    return LookupInListing(hostFolder, ansiName);
}

bool PathResolver::CompleteEntry(const fs::path& hostFolder, FolderEntry* entry) {
    auto listing = impl_->Get(Key(hostFolder));
    if (!listing) return false;
    if (!entry) return true;
    if (auto listed = listing->ByHost(entry->hostName)) entry->shortName = listed->ShortName();
    return true;
}

// The entry the folder's listing holds for a long or short name.
std::optional<FolderEntry> PathResolver::LookupInListing(const fs::path& hostFolder,
                                                         const std::string& ansiName) {
    auto listing = impl_->Get(Key(hostFolder));
    if (!listing) return std::nullopt;
    // The entry is copied whole, short name included.
    if (auto entry = listing->ByName(ansiName)) return entry->Copy();
    return std::nullopt;
}

// The name as written when it is there, else the entry the listing holds for it. A
// trusted listing answers both without a stat of the name. `knownDir`: the folder's stat,
// taken after the name was not found as written; `trusted`: a trusted listing of the
// folder the caller found in the cache.
PathResolver::Step PathResolver::LookUp(const std::string& folder, const std::string& ansiName,
                                        const struct stat* knownDir, const Listing* trusted) {
    Step step;
    step.hostName = AnsiToHost(ansiName);
    struct stat st {};
    if (knownDir) {
        st = *knownDir;
        step.folder = Step::Folder::Dir;
    }
    auto statFolder = [&] {
        if (step.folder == Step::Folder::Unknown) {
            bool dir = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            step.folder = dir ? Step::Folder::Dir : Step::Folder::NotDir;
        }
        return step.folder == Step::Folder::Dir;
    };
    auto fromListing = [&](const Listing& listing) {
        if (auto entry = listing.ByName(ansiName)) {
            step.kind = Step::Listed;
            step.hostName = entry->HostName();
        }
        step.keepable = listing.Trusted();
        step.stamp = listing.stamp;
        return std::move(step);
    };
    std::shared_ptr<const Listing> listing;
    if (knownDir) {
        listing = impl_->Get(folder, st);
        if (!listing) return step;
        return fromListing(*listing);
    }
    std::shared_ptr<const Listing> cached;
    if (!trusted) {
        cached = impl_->Cached(folder).listing;
        if (cached && cached->Trusted()) trusted = cached.get();
    }
    if (trusted) {
        // The folder unchanged, the listing answers; otherwise it is read again.
        const Listing* current = trusted;
        if (impl_->SeenCurrent(*trusted)) {
            step.folder = Step::Folder::Dir;
        } else {
            if (!statFolder()) return step;
            if (!trusted->stamp.Matches(st)) {
                listing = impl_->Get(folder, st);
                current = listing.get();
            } else {
                impl_->MarkCurrent(*trusted);
            }
        }
        if (current && current->exact) {
            if (current->HasHost(step.hostName)) {
                step.kind = Step::Written;
                return step;
            }
            return fromListing(*current);
        }
    }
    struct stat entry {};
    if (::lstat(Join(folder, step.hostName).c_str(), &entry) == 0) {
        step.kind = Step::Written;
        return step;
    }
    if (!statFolder()) return step;
    if (!listing) listing = impl_->Get(folder, st);
    if (!listing) return step;
    return fromListing(*listing);
}

// The last name of a path in its folder. `folderMissing` is set when the folder is no
// folder (the name's lookup then fails).
std::optional<std::string> PathResolver::LastStep(const std::string& folder,
                                                  const std::string& ansiName, bool mayNotExist,
                                                  bool* folderMissing, const struct stat* knownDir,
                                                  const Listing* trusted) {
    Step step = LookUp(folder, ansiName, knownDir, trusted);
    if (step.kind != Step::Missing) return Join(folder, step.hostName);
    // A missing name may be created in a folder that is there.
    bool dir = step.folder == Step::Folder::Dir ||
               (step.folder == Step::Folder::Unknown && IsDirectoryOnHost(folder.c_str()));
    *folderMissing = !dir;
    if (mayNotExist && dir) return Join(folder, AnsiToHost(ansiName));
    return std::nullopt;
}

// The host folder of all components but the last, as the walk from the drive's root
// finds it, or none when the walk fails on the way. A resolution that needed a listing
// is kept under the folder's path as written, with the stamps of the folders that
// decided it.
std::optional<std::string> PathResolver::WalkFolders(const WindowsPathParts& parts,
                                                     const std::string& root,
                                                     const std::string& written) {
    const size_t levels = parts.components.size() - 1;
    auto record = std::make_shared<FolderRecord>();
    record->generation = impl_->Generation();
    bool keepable = true;
    std::string current = root;
    for (size_t i = 0; i < levels; ++i) {
        Step step = LookUp(current, parts.components[i]);
        if (step.kind != Step::Written) {
            if (step.keepable) {
                record->checks.emplace_back(current, step.stamp);
            } else {
                keepable = false;
            }
        }
        if (step.kind == Step::Missing) {
            if (keepable) impl_->Keep(written, std::move(record));
            return std::nullopt;
        }
        current = Join(current, step.hostName);
    }
    // A folder found as written needs no record: its own lookup is as cheap.
    if (keepable && !record->checks.empty()) {
        record->host = current;
        impl_->Keep(written, std::move(record));
    }
    return current;
}

bool PathResolver::ListedAsMissing(const std::string& written, const std::string& ansiName) {
    if (!Snapshotting()) return false;
    const size_t cut = written.rfind('/');
    if (cut == std::string::npos || cut == 0) return false;
    const std::string above = written.substr(0, cut);
    const std::shared_ptr<const Listing> listing = impl_->Cached(above).listing;
    if (!listing || !listing->Trusted() || !impl_->SeenCurrent(*listing)) return false;
    return LookUp(above, ansiName, nullptr, listing.get()).kind == Step::Missing;
}

std::optional<std::string> PathResolver::HostPath(const WindowsPathParts& parts, bool mayNotExist) {
    if (parts.unc) return std::nullopt;  // no network drives in a prefix
    const Drive* drive = machine_.FindDrive(parts.drive);
    if (!drive) return std::nullopt;
    const size_t count = parts.components.size();
    // No name holds those characters, so the walk cannot pass such a component.
    if (!std::all_of(parts.components.begin(), parts.components.end(), IsLegalComponent)) {
        return std::nullopt;
    }
    if (count == 0 || std::any_of(parts.components.begin(), parts.components.end(),
                                  [](const std::string& c) { return c == "." || c == ".."; })) {
        auto host = Walk(parts, mayNotExist, nullptr);
        return host ? std::optional<std::string>(host->native()) : std::nullopt;
    }
    const auto rootText = impl_->Root(*drive);
    const std::string& root = *rootText;
    const std::string& last = parts.components.back();
    bool folderMissing = false;
    if (count == 1) return LastStep(root, last, mayNotExist, &folderMissing);

    std::string written = WrittenFolder(root, parts);
    Impl::Folder known = impl_->Cached(written);
    // A folder kept from an earlier walk is not there as written (a name on its way was
    // not), so the walk from the root would find it again.
    if (known.record) {
        if (impl_->StillHolds(*known.record)) {
            if (!known.record->host) return std::nullopt;
            auto found = LastStep(*known.record->host, last, mayNotExist, &folderMissing);
            if (!folderMissing) return found;
        }
        // Changed since, or the kept folder is gone: walk afresh.
        impl_->Drop(written);
    }
    // Most paths exist as written, and so does the folder of most missing ones: the
    // folder's trusted listing, or one stat of the path, answers them.
    if (known.listing && known.listing->Trusted()) {
        auto found =
            LastStep(written, last, mayNotExist, &folderMissing, nullptr, known.listing.get());
        if (!folderMissing) return found;
    } else {
        struct stat st {};
        // In a snapshot the folder's listing is read at once: it then answers the
        // folder's other names without a look at the disk.
        if (!Snapshotting()) {
            std::string path = Join(written, AnsiToHost(last));
            if (::lstat(path.c_str(), &st) == 0) return path;
        }
        if (ListedAsMissing(written, parts.components[count - 2])) return std::nullopt;
        if (::stat(written.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return LastStep(written, last, mayNotExist, &folderMissing, &st);
        }
    }
    // Some folder on the way is not there as written: the walk from the root decides.
    auto folder = WalkFolders(parts, root, written);
    if (!folder) return std::nullopt;
    return LastStep(*folder, last, mayNotExist, &folderMissing);
}

// The host path of all components but the last, each as written.
std::string PathResolver::WrittenFolder(const std::string& root, const WindowsPathParts& parts) {
    const size_t levels = parts.components.size() - 1;
    size_t size = root.size();
    for (size_t i = 0; i < levels; ++i)
        size += 1 + parts.components[i].size();
    std::string path;
    path.reserve(size + 8);
    path = root;
    for (size_t i = 0; i < levels; ++i) {
        if (path.empty() || path.back() != '/') path += '/';
        const std::string& component = parts.components[i];
        if (IsAscii(component)) {
            path += component;
        } else {
            path += AnsiToHost(component);
        }
    }
    return path;
}

std::optional<std::string> PathResolver::WrittenPath(const WindowsPathParts& parts) {
    if (parts.unc) return std::nullopt;
    const Drive* drive = machine_.FindDrive(parts.drive);
    if (!drive) return std::nullopt;
    for (const std::string& component : parts.components) {
        if (component == "." || component == ".." || !IsLegalComponent(component)) {
            return std::nullopt;
        }
    }
    const auto root = impl_->Root(*drive);
    if (parts.components.empty()) return *root;
    return Join(WrittenFolder(*root, parts), AnsiToHost(parts.components.back()));
}

// The walk component by component, each name as written first and then through the
// folder's listing; with `trail`, the entry of each component.
std::optional<fs::path> PathResolver::Walk(const WindowsPathParts& parts, bool mayNotExist,
                                           std::vector<FolderEntry>* trail) {
    if (parts.unc) return std::nullopt;  // no network drives in a prefix
    const Drive* drive = machine_.FindDrive(parts.drive);
    if (!drive) return std::nullopt;
    fs::path current = drive->hostRoot;
    const size_t count = parts.components.size();
    // A folder on the way that is no folder fails the next lookup (nothing lies below a
    // file), so only the end of the walk needs the folder test.
    if (count == 0) {
        return IsDirectoryOnHost(current) ? std::optional<fs::path>(current) : std::nullopt;
    }
    for (size_t i = 0; i < count; ++i) {
        bool last = i + 1 == count;
        const std::string& component = parts.components[i];
        auto entry = Lookup(current, component);
        if (!entry) {
            if (last && mayNotExist && IsLegalComponent(component) && IsDirectoryOnHost(current)) {
                return current / AnsiToHost(component);
            }
            return std::nullopt;
        }
        current /= entry->hostName;
        if (trail) trail->push_back(std::move(*entry));
    }
    return current;
}

std::optional<fs::path> PathResolver::ToHost(const std::string& windowsPath, bool mayNotExist) {
    auto parts = Parse(windowsPath);
    if (!parts) return std::nullopt;
    auto host = HostPath(*parts, mayNotExist);
    if (!host) return std::nullopt;
    return fs::path(std::move(*host));
}

std::optional<std::string> PathResolver::ShortPath(const std::string& windowsPath) {
    auto parts = Parse(windowsPath);
    if (!parts) return std::nullopt;
    std::vector<FolderEntry> trail;
    auto host = Walk(*parts, false, &trail);
    if (!host) return std::nullopt;
    WindowsPathParts out = *parts;
    fs::path folder = machine_.FindDrive(parts->drive)->hostRoot;
    for (size_t i = 0; i < trail.size(); ++i) {
        // Components that are legal 8.3 names stay as written, as Windows keeps them.
        if (!IsValid83(trail[i].name)) {
            auto listing = impl_->Get(Key(folder));
            if (!listing) return std::nullopt;
            auto entry = listing->ByHost(trail[i].hostName);
            if (!entry) return std::nullopt;
            out.components[i] = entry->ShortName();
        }
        folder /= trail[i].hostName;
    }
    return out.Text();
}

std::optional<std::string> PathResolver::LongPath(const std::string& windowsPath) {
    auto parts = Parse(windowsPath);
    if (!parts) return std::nullopt;
    std::vector<FolderEntry> trail;
    if (!Walk(*parts, false, &trail)) return std::nullopt;
    WindowsPathParts out = *parts;
    for (size_t i = 0; i < trail.size(); ++i)
        out.components[i] = trail[i].name;
    return out.Text();
}

std::optional<std::string> PathResolver::ToWindows(const fs::path& hostPath) const {
    // The path as given and with every link resolved; the deepest drive root under
    // either wins: C: (the prefix's drive_c) over Z: (the host's /), and a file reached
    // through a linked profile folder keeps the drive it was reached by.
    std::error_code ec;
    std::vector<fs::path> targets{hostPath.lexically_normal()};
    fs::path canonical = fs::weakly_canonical(hostPath, ec);
    if (!ec && canonical != targets[0]) targets.push_back(canonical);
    const Drive* best = nullptr;
    fs::path bestRelative;
    std::tuple<size_t, bool, int> bestRank{};
    for (const Drive& drive : machine_.Drives()) {
        std::vector<fs::path> roots{drive.hostRoot.lexically_normal()};
        fs::path root = fs::weakly_canonical(drive.hostRoot, ec);
        if (!ec && root != roots[0]) roots.push_back(root);
        for (size_t t = 0; t < targets.size(); ++t) {
            for (const fs::path& r : roots) {
                fs::path relative = RelativeBelow(targets[t], r);
                if (relative.empty()) continue;
                // Deeper roots first, then the path as given, then the lower letter.
                std::tuple<size_t, bool, int> rank{
                    static_cast<size_t>(std::distance(r.begin(), r.end())), t == 0, -drive.letter};
                if (!best || rank > bestRank) {
                    best = &drive;
                    bestRelative = relative;
                    bestRank = rank;
                }
            }
        }
    }
    if (!best) return std::nullopt;
    WindowsPathParts parts;
    parts.drive = best->letter;
    for (const auto& piece : bestRelative) {
        if (piece == "." || piece.empty()) continue;
        parts.components.push_back(HostToAnsi(piece.native()));
    }
    return parts.Text();
}

PathResolver::Snapshot::Snapshot(PathResolver& resolver) : resolver_(resolver) {
    Impl& impl = *resolver_.impl_;
    std::lock_guard lock(impl.mutex);
    if (impl.snapshotHolders++ == 0) impl.snapshot.store(++impl.snapshots);
}

PathResolver::Snapshot::~Snapshot() {
    Impl& impl = *resolver_.impl_;
    std::lock_guard lock(impl.mutex);
    if (--impl.snapshotHolders == 0) impl.snapshot.store(0);
}

bool PathResolver::Snapshotting() const {
    return impl_->snapshot.load(std::memory_order_relaxed) != 0;
}

void PathResolver::Invalidate(const fs::path& hostFolder) {
    std::lock_guard lock(impl_->mutex);
    impl_->listings.erase(Key(hostFolder));
    // A kept folder path may run through the changed folder.
    ++impl_->generation;
}

void PathResolver::InvalidateAll() {
    std::lock_guard lock(impl_->mutex);
    impl_->listings.clear();
    impl_->records.clear();
    impl_->roots = {};
    ++impl_->generation;
}

}  // namespace hivewise
