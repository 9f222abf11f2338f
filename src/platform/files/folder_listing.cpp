#include "platform/files/folder_listing.h"

#include <dirent.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <functional>
#include <tuple>
#include <utility>

#include "platform/files/short_names.h"
#include "platform/machine/text.h"

namespace hivewise {
namespace {

// Folder times move in clock ticks; a listing read this soon after a change may have
// missed a second change within the same tick.
constexpr int64_t kRacyWindowNs = 100'000'000;
// How many names a new listing tries to learn whether the folder matches names by case.
constexpr int kCaseProbes = 4;

}  // namespace

namespace path_detail {

FolderEntry ListedEntry::Copy() const {
    return {std::string(HostName()), std::string(Name()), std::string(ShortName())};
}

Listing::Listing(ListedNames names) : names_(std::move(names)) {
    const size_t count = names_.Size();
    byLong_.Build(
        count, [this](size_t k) { return names_.LongHash(k); },
        [this](size_t a, size_t b) { return names_.SameLong(a, b); });
    byHost_.Build(
        count, [this](size_t k) { return std::hash<std::string_view>{}(names_.Host(k)); },
        [this](size_t a, size_t b) { return names_.Host(a) == names_.Host(b); });
}

std::vector<FolderEntry> Listing::Entries() const {
    std::vector<FolderEntry> entries;
    entries.reserve(Size());
    for (size_t k = 0; k < Size(); ++k)
        entries.push_back(At(k).Copy());
    return entries;
}

std::optional<size_t> Listing::HostIndex(std::string_view hostName) const {
    return byHost_.Find(std::hash<std::string_view>{}(hostName),
                        [&](size_t k) { return names_.Host(k) == hostName; });
}

std::optional<ListedEntry> Listing::ByName(std::string_view ansiName) const {
    auto k = byLong_.Find(ListedNames::LongHashOf(ansiName),
                          [&](size_t i) { return names_.LongIs(i, ansiName); });
    if (k) return At(*k);
    // Every made short name has a '~'; an ASCII name without one that is an 8.3 name
    // itself was found above, as the long name it also is.
    if (ansiName.find('~') == std::string_view::npos && IsAscii(ansiName)) {
        return std::nullopt;
    }
    k = ShortNames().Find(AnsiUpper(ansiName));
    if (k) return At(*k);
    return std::nullopt;
}

const ListedShortNames& Listing::ShortNames() const {
    std::call_once(shortOnce_,
                   [this] { shortNames_ = std::make_unique<const ListedShortNames>(names_); });
    return *shortNames_;
}

std::string Join(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace path_detail

namespace {

using path_detail::Join;
using path_detail::Listing;

// File systems that move a folder's times with every change of its entries (and set no
// times of their own on a client's behalf).
bool IsLocalFileSystem(const struct statfs& fs) {
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case XFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
            return true;
        default:
            return false;
    }
}

// Whether the folder tells names apart by case: a name of the listing with one ASCII
// letter's case turned must not be found. False when no name can tell.
bool MatchesByCase(const std::string& folder, const Listing& listing) {
    int probes = 0;
    for (size_t k = 0; k < listing.Size() && probes < kCaseProbes; ++k) {
        const std::string_view hostName = listing.At(k).HostName();
        auto letter = std::find_if(hostName.begin(), hostName.end(), [](char c) {
            return std::isalpha(static_cast<unsigned char>(c)) != 0 &&
                   static_cast<unsigned char>(c) < 0x80;
        });
        if (letter == hostName.end()) continue;
        std::string turned(hostName);
        char& c = turned[static_cast<size_t>(letter - hostName.begin())];
        c = static_cast<char>(std::islower(static_cast<unsigned char>(c))
                                  ? std::toupper(static_cast<unsigned char>(c))
                                  : std::tolower(static_cast<unsigned char>(c)));
        if (listing.HasHost(turned)) continue;
        ++probes;
        struct stat st {};
        if (::lstat(Join(folder, turned).c_str(), &st) == 0) return false;
        return errno == ENOENT;
    }
    return false;
}

}  // namespace

namespace path_detail {

std::shared_ptr<Listing> ReadListing(const std::string& folder, const struct stat& st) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return nullptr;
    std::vector<std::pair<std::u16string, std::string>> names;
    while (dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(Utf8ToUtf16(name), std::move(name));
    }
    struct statfs fsInfo {};
    bool local = ::fstatfs(::dirfd(dir), &fsInfo) == 0 && IsLocalFileSystem(fsInfo);
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        int c = CompareNoCase(a.first, b.first);
        return c != 0 ? c < 0 : a.second < b.second;
    });
    ListedNames listed;
    size_t hostBytes = 0;
    for (const auto& n : names)
        hostBytes += n.second.size();
    listed.Reserve(names.size(), hostBytes);
    for (const auto& n : names)
        listed.Add(n.second, n.first);
    listed.Trim();
    names = {};
    auto listing = std::make_shared<Listing>(std::move(listed));
    listing->stamp = Stamp::Of(st);
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const struct timespec& changed = std::tie(st.st_ctim.tv_sec, st.st_ctim.tv_nsec) >
                                             std::tie(st.st_mtim.tv_sec, st.st_mtim.tv_nsec)
                                         ? st.st_ctim
                                         : st.st_mtim;
    int64_t sinceChange =
        (now.tv_sec - changed.tv_sec) * 1000000000LL + (now.tv_nsec - changed.tv_nsec);
    listing->racy = sinceChange < kRacyWindowNs;
    listing->exact = local && MatchesByCase(folder, *listing);
    return listing;
}

}  // namespace path_detail
}  // namespace hivewise
