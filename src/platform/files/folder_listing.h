#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/listed_names.h"
#include "platform/files/listed_short_names.h"
#include "platform/files/name_index.h"
#include "platform/files/path_resolver.h"

// Cached listings of host folders: each entry with its ANSI long and short names, indexed
// for lookups without regard to case, and stamped so a stale listing is noticed.
namespace hivewise::path_detail {

// What identifies a folder and its state: any entry added, removed or renamed moves its
// modification time, and anything that sets that time moves the change time.
struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
    struct timespec ctime {};

    static Stamp Of(const struct stat& st) {
        return {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim};
    }
    bool Matches(const struct stat& st) const {
        return dev == st.st_dev && ino == st.st_ino && mtime.tv_sec == st.st_mtim.tv_sec &&
               mtime.tv_nsec == st.st_mtim.tv_nsec && ctime.tv_sec == st.st_ctim.tv_sec &&
               ctime.tv_nsec == st.st_ctim.tv_nsec;
    }
};

struct Listing;

// One entry of a listing, read where the listing keeps it; valid while the listing lives.
class ListedEntry {
  public:
    ListedEntry(const Listing& listing, size_t index) : listing_(&listing), index_(index) {}
    std::string_view HostName() const;
    std::string_view Name() const;  // the long name in ANSI
    // The upper-case 8.3 name; the listing makes its short names on first need.
    std::string_view ShortName() const;
    FolderEntry Copy() const;

  private:
    const Listing* listing_;
    size_t index_;
};

struct Listing {
    // `names` in the folder's sorted order.
    explicit Listing(ListedNames names);

    Stamp stamp;
    // Read within a clock tick of the folder's last change: not trusted again.
    bool racy = false;
    // On a local file system and matching names by their bytes: a name is in the folder
    // exactly when the listing holds it, so the listing answers for a stat of the name.
    bool exact = false;
    // The resolver's snapshot in which the folder was last seen unchanged (0: none).
    mutable std::atomic<uint64_t> currentIn{0};

    bool Trusted() const { return exact && !racy; }

    size_t Size() const { return names_.Size(); }
    ListedEntry At(size_t k) const { return {*this, k}; }
    // Every entry, with its short name.
    std::vector<FolderEntry> Entries() const;
    bool HasHost(std::string_view hostName) const { return HostIndex(hostName).has_value(); }
    std::optional<ListedEntry> ByHost(std::string_view hostName) const {
        auto k = HostIndex(hostName);
        if (!k) return std::nullopt;
        return At(*k);
    }
    // The entry a long name (without regard to case) or a short name stands for. Found by
    // its long name, its short name is made only when asked for.
    std::optional<ListedEntry> ByName(std::string_view ansiName) const;

  private:
    friend class ListedEntry;
    std::optional<size_t> HostIndex(std::string_view hostName) const;
    // Made on first need, once, under `shortOnce_`: the listing may be shared between threads.
    const ListedShortNames& ShortNames() const;

    ListedNames names_;
    NameIndex byLong_;  // long name without regard to case
    NameIndex byHost_;  // exact host name
    mutable std::once_flag shortOnce_;
    mutable std::unique_ptr<const ListedShortNames> shortNames_;
};

inline std::string_view ListedEntry::HostName() const {
    return listing_->names_.Host(index_);
}
inline std::string_view ListedEntry::Name() const {
    return listing_->names_.Ansi(index_);
}
inline std::string_view ListedEntry::ShortName() const {
    return listing_->ShortNames().Short(index_);
}

// A host path of a name in a folder, with one separator between them.
std::string Join(const std::string& folder, std::string_view name);

// Reads the listing of a folder, given a stat of it that succeeded; null when the folder
// cannot be opened.
std::shared_ptr<Listing> ReadListing(const std::string& folder, const struct stat& st);

}  // namespace hivewise::path_detail
