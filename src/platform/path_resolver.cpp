#include "platform/path_resolver.h"

#include <dirent.h>
#include <sys/stat.h>

#include <time.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "platform/machine.h"
#include "platform/short_names.h"
#include "platform/text.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// A walk over a large tree caches at most this many folders before starting afresh.
constexpr size_t kMaxCachedFolders = 4096;
// Folder times move in clock ticks; a listing read this soon after a change may have
// missed a second change within the same tick.
constexpr int64_t kRacyWindowNs = 100'000'000;

struct Listing {
    std::vector<FolderEntry> entries;
    std::unordered_map<std::u16string, size_t> byLong;  // folded long name
    std::unordered_map<std::string, size_t> byShort;    // upper-case short name
    std::unordered_map<std::string, size_t> byHost;     // exact host name
    struct timespec mtime {};
    dev_t dev = 0;
    ino_t ino = 0;
    // Read within a clock tick of the folder's last change: not trusted again.
    bool racy = false;
};

std::string HostToAnsi(const std::string& hostName) {
    return Utf16ToAnsi(Utf8ToUtf16(hostName));
}
std::string AnsiToHost(const std::string& ansi) {
    return Utf16ToUtf8(AnsiToUtf16(ansi));
}

// Cache keys: the folder's text without a trailing separator.
std::string Key(const fs::path& folder) {
    std::string key = folder.native();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

bool IsDirectoryOnHost(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Characters no Windows file name holds.
bool IsLegalComponent(const std::string& component) {
    for (char c : component) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<Listing> ReadListing(const fs::path& folder, const struct stat& st) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return nullptr;
    std::vector<std::pair<std::u16string, std::string>> names;
    while (dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(Utf8ToUtf16(name), std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        int c = CompareNoCase(a.first, b.first);
        return c != 0 ? c < 0 : a.second < b.second;
    });
    auto listing = std::make_shared<Listing>();
    std::vector<std::string> ansi;
    ansi.reserve(names.size());
    for (const auto& n : names)
        ansi.push_back(Utf16ToAnsi(n.first));
    std::vector<std::string> shorts = MakeShortNames(ansi);
    listing->entries.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        listing->entries.push_back({names[i].second, ansi[i], shorts[i]});
        listing->byLong.emplace(FoldCase(names[i].first), i);
        listing->byShort.emplace(shorts[i], i);
        listing->byHost.emplace(names[i].second, i);
    }
    listing->mtime = st.st_mtim;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    int64_t sinceChange =
        (now.tv_sec - st.st_mtim.tv_sec) * 1000000000LL + (now.tv_nsec - st.st_mtim.tv_nsec);
    listing->racy = sinceChange < kRacyWindowNs;
    listing->dev = st.st_dev;
    listing->ino = st.st_ino;
    return listing;
}

bool SameStamp(const Listing& l, const struct stat& st) {
    return l.dev == st.st_dev && l.ino == st.st_ino && l.mtime.tv_sec == st.st_mtim.tv_sec &&
           l.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

// Splits on backslashes, applying "." and ".." to `out`; empty components vanish.
void AppendComponents(std::string_view rest, std::vector<std::string>& out) {
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t next = rest.find('\\', pos);
        if (next == std::string_view::npos) next = rest.size();
        std::string part(rest.substr(pos, next - pos));
        pos = next + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!out.empty()) out.pop_back();
            continue;
        }
        out.push_back(std::move(part));
    }
}

// The part of `target` below `root`, or empty when it is not below it.
fs::path RelativeBelow(const fs::path& target, const fs::path& root) {
    fs::path relative = target.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") return {};
    return relative;
}

}  // namespace

std::string WindowsPathParts::Text() const {
    std::string out;
    if (unc) {
        out = "\\\\" + server;
        if (!share.empty()) out += "\\" + share;
    } else {
        out = std::string(1, drive) + ":";
        if (components.empty()) return out + "\\";
    }
    for (const auto& c : components)
        out += "\\" + c;
    return out;
}

struct PathResolver::Impl {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const Listing>> cache;

    std::shared_ptr<const Listing> Get(const fs::path& folder) {
        struct stat st {};
        std::string key = Key(folder);
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::lock_guard lock(mutex);
            cache.erase(key);
            return nullptr;
        }
        {
            std::lock_guard lock(mutex);
            auto it = cache.find(key);
            if (it != cache.end() && !it->second->racy && SameStamp(*it->second, st))
                return it->second;
        }
        std::shared_ptr<const Listing> listing = ReadListing(folder, st);
        if (!listing) return nullptr;
        std::lock_guard lock(mutex);
        if (cache.size() >= kMaxCachedFolders) cache.clear();
        cache[key] = listing;
        return listing;
    }
};

PathResolver::PathResolver(Machine& machine) : impl_(std::make_unique<Impl>()), machine_(machine) {}

PathResolver::~PathResolver() = default;

std::optional<WindowsPathParts> PathResolver::Parse(const std::string& windowsPath) const {
    std::string text = windowsPath;
    if (text.empty() || text.find('\0') != std::string::npos) return std::nullopt;
    std::replace(text.begin(), text.end(), '/', '\\');
    // Device-namespace prefixes name the same paths.
    for (std::string_view prefix : {"\\\\?\\", "\\??\\", "\\\\.\\"}) {
        if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) {
            text.erase(0, prefix.size());
            if (text.size() >= 4 && AnsiEqualsNoCase(text.substr(0, 4), "UNC\\")) {
                text.replace(0, 4, "\\\\");
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
    auto listing = impl_->Get(hostFolder);
    if (!listing) return std::nullopt;
    return listing->entries;
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

// The entry the folder's listing holds for a long or short name.
std::optional<FolderEntry> PathResolver::LookupInListing(const fs::path& hostFolder,
                                                         const std::string& ansiName) {
    auto listing = impl_->Get(hostFolder);
    if (!listing) return std::nullopt;
    auto it = listing->byLong.find(FoldCase(AnsiToUtf16(ansiName)));
    if (it != listing->byLong.end()) return listing->entries[it->second];
    auto sit = listing->byShort.find(AnsiUpper(ansiName));
    if (sit != listing->byShort.end()) return listing->entries[sit->second];
    return std::nullopt;
}

std::optional<fs::path> PathResolver::Walk(const WindowsPathParts& parts, bool mayNotExist,
                                           std::vector<FolderEntry>* trail) {
    if (parts.unc) return std::nullopt;  // no network drives in a prefix
    const Drive* drive = machine_.FindDrive(parts.drive);
    if (!drive) return std::nullopt;
    fs::path current = drive->hostRoot;
    // Most paths exist as written: one lstat answers them. When the path does not, a
    // parent folder that exists as written leaves only the last component to look up.
    // Both give what the walk below gives, which also tries each name as written first.
    const size_t count = parts.components.size();
    if (!trail && count > 0 &&
        std::all_of(parts.components.begin(), parts.components.end(), [](const std::string& c) {
            return c != "." && c != ".." && IsLegalComponent(c);
        })) {
        fs::path written = drive->hostRoot;
        for (const std::string& component : parts.components)
            written /= AnsiToHost(component);
        struct stat st {};
        if (::lstat(written.c_str(), &st) == 0) return written;
        fs::path parent = written.parent_path();
        if (count > 1 && IsDirectoryOnHost(parent)) {
            // The last name is not there as written: only the listing can still find it.
            const std::string& last = parts.components.back();
            if (auto entry = LookupInListing(parent, last)) return parent / entry->hostName;
            if (mayNotExist) return parent / AnsiToHost(last);
            return std::nullopt;
        }
    }
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
    return Walk(*parts, mayNotExist, nullptr);
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
            auto listing = impl_->Get(folder);
            if (!listing) return std::nullopt;
            auto it = listing->byHost.find(trail[i].hostName);
            if (it == listing->byHost.end()) return std::nullopt;
            out.components[i] = listing->entries[it->second].shortName;
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

void PathResolver::Invalidate(const fs::path& hostFolder) {
    std::lock_guard lock(impl_->mutex);
    impl_->cache.erase(Key(hostFolder));
}

void PathResolver::InvalidateAll() {
    std::lock_guard lock(impl_->mutex);
    impl_->cache.clear();
}

}  // namespace hivewise
