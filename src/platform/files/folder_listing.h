#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

struct Listing {
    // In the folder's sorted order. Short names are made on first need (most look-ups
    // are of long names), so they are written once, under `shortOnce`, in a shared listing.
    mutable std::vector<FolderEntry> entries;
    std::vector<std::u16string> folded;  // folded long name of each entry
    NameIndex byLong;                    // folded long name
    NameIndex byHost;                    // exact host name
    Stamp stamp;
    // Read within a clock tick of the folder's last change: not trusted again.
    bool racy = false;
    // On a local file system and matching names by their bytes: a name is in the folder
    // exactly when the listing holds it, so the listing answers for a stat of the name.
    bool exact = false;
    // The resolver's snapshot in which the folder was last seen unchanged (0: none).
    mutable std::atomic<uint64_t> currentIn{0};

    bool Trusted() const { return exact && !racy; }

    // Every entry, with its short name.
    const std::vector<FolderEntry>& Entries() const {
        KnowShortNames();
        return entries;
    }
    bool HasHost(std::string_view hostName) const { return HostIndex(hostName).has_value(); }
    const FolderEntry* ByHost(std::string_view hostName) const {
        auto i = HostIndex(hostName);
        if (!i) return nullptr;
        KnowShortNames();
        return &entries[*i];
    }
    // The entry a long name (without regard to case) or a short name stands for. Found by
    // its long name, its short name may be still unknown: only its other names are read.
    const FolderEntry* ByName(std::string_view ansiName) const;

  private:
    std::optional<size_t> HostIndex(std::string_view hostName) const {
        return byHost.Find(std::hash<std::string_view>{}(hostName),
                           [&](size_t k) { return entries[k].hostName == hostName; });
    }
    void KnowShortNames() const;

    mutable std::once_flag shortOnce;
    mutable NameIndex byShort;                   // upper-case short name
    mutable std::vector<std::string> wineShort;  // Wine's hashed short name; empty for 8.3
    mutable NameIndex byWineShort;               // Wine's hashed short name
};

// A host path of a name in a folder, with one separator between them.
std::string Join(const std::string& folder, std::string_view name);

// Reads the listing of a folder, given a stat of it that succeeded; null when the folder
// cannot be opened.
std::shared_ptr<Listing> ReadListing(const std::string& folder, const struct stat& st);

}  // namespace hivewise::path_detail
