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
// Names up to this length are folded without a heap allocation.
constexpr size_t kFoldBuffer = 260;
// How many names a new listing tries to learn whether the folder matches names by case.
constexpr int kCaseProbes = 4;

}  // namespace

namespace path_detail {

// The folded UTF-16 form of an ANSI name, without a heap allocation for usual names.
class FoldedName {
  public:
    explicit FoldedName(std::string_view ansi) {
        char16_t* out = buffer_;
        if (ansi.size() > kFoldBuffer) {
            heap_.resize(ansi.size());
            out = heap_.data();
        }
        for (size_t i = 0; i < ansi.size(); ++i)
            out[i] = FoldChar(AnsiCharToUtf16(ansi[i]));
        view_ = std::u16string_view(out, ansi.size());
    }
    FoldedName(const FoldedName&) = delete;
    FoldedName& operator=(const FoldedName&) = delete;
    std::u16string_view View() const { return view_; }

  private:
    char16_t buffer_[kFoldBuffer];
    std::u16string heap_;
    std::u16string_view view_;
};

const FolderEntry* Listing::ByName(std::string_view ansiName) const {
    FoldedName folded(ansiName);
    auto i = byLong.Find(std::hash<std::u16string_view>{}(folded.View()),
                         [&](size_t k) { return this->folded[k] == folded.View(); });
    if (i) return &entries[*i];
    // Every made short name has a '~'; an ASCII name without one that is an 8.3 name
    // itself was found above, as the long name it also is.
    if (ansiName.find('~') == std::string_view::npos && IsAscii(ansiName)) {
        return nullptr;
    }
    KnowShortNames();
    std::string upper = AnsiUpper(ansiName);
    const size_t hash = std::hash<std::string_view>{}(upper);
    i = byShort.Find(hash, [&](size_t k) { return entries[k].shortName == upper; });
    if (!i && upper.find('~') != std::string::npos) {
        i = byWineShort.Find(hash, [&](size_t k) { return wineShort[k] == upper; });
    }
    return i ? &entries[*i] : nullptr;
}

void Listing::KnowShortNames() const {
    std::call_once(shortOnce, [this] {
        std::vector<std::string> ansi;
        ansi.reserve(entries.size());
        for (const FolderEntry& entry : entries)
            ansi.push_back(entry.name);
        std::vector<std::string> shorts = MakeShortNames(ansi);
        wineShort.reserve(entries.size());
        for (size_t k = 0; k < entries.size(); ++k) {
            entries[k].shortName = std::move(shorts[k]);
            wineShort.push_back(WineShortName(Utf8ToUtf16(entries[k].hostName)));
        }
        byShort.Build(
            entries.size(),
            [this](size_t k) { return std::hash<std::string>{}(entries[k].shortName); },
            [this](size_t a, size_t b) { return entries[a].shortName == entries[b].shortName; });
        byWineShort.Build(
            entries.size(), [this](size_t k) { return std::hash<std::string>{}(wineShort[k]); },
            [this](size_t a, size_t b) { return wineShort[a] == wineShort[b]; });
    });
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
    for (const FolderEntry& entry : listing.entries) {
        if (probes == kCaseProbes) break;
        auto letter = std::find_if(entry.hostName.begin(), entry.hostName.end(), [](char c) {
            return std::isalpha(static_cast<unsigned char>(c)) != 0 &&
                   static_cast<unsigned char>(c) < 0x80;
        });
        if (letter == entry.hostName.end()) continue;
        std::string turned = entry.hostName;
        char& c = turned[static_cast<size_t>(letter - entry.hostName.begin())];
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
    auto listing = std::make_shared<Listing>();
    listing->entries.reserve(names.size());
    listing->folded.reserve(names.size());
    for (auto& n : names) {
        listing->entries.push_back({std::move(n.second), Utf16ToAnsi(n.first), std::string()});
        listing->folded.push_back(FoldCase(n.first));
    }
    const size_t count = listing->entries.size();
    const Listing& l = *listing;
    listing->byLong.Build(
        count, [&l](size_t k) { return std::hash<std::u16string>{}(l.folded[k]); },
        [&l](size_t a, size_t b) { return l.folded[a] == l.folded[b]; });
    listing->byHost.Build(
        count, [&l](size_t k) { return std::hash<std::string>{}(l.entries[k].hostName); },
        [&l](size_t a, size_t b) { return l.entries[a].hostName == l.entries[b].hostName; });
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
