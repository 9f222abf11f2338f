#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

// A walk over a host folder tree that ends even where links lead back up the tree
// (Wine links profile folders to the home folder, which holds the prefix itself).
namespace hivewise {

struct WalkEntry {
    std::string path;                // host path (text: a path object per entry costs more
                                     // than reading the folder)
    std::filesystem::path relative;  // below the walk's root (empty in a lean walk)
    struct stat st {};               // of the link's target where it has one
    bool statted = true;             // false: a plain file of a lean walk, only st_mode known
    bool isDirectory = false;
    bool isLink = false;
    bool revisited = false;  // a folder already walked, reached again: not entered
    int depth = 0;           // 0 for the root's own entries
};

enum class WalkAction { Continue, SkipChildren, Stop };

// A lean walk asks the file system only about folders and links: plain files, known as
// such from the folder listing, are reported without their status (and no entry gets its
// relative path), so that a walk over many files costs about what listing them does.
enum class WalkDetail { Full, Lean };

// Visits every entry below `root` (not the root itself): a folder's entries in name
// order, all of them before anything below them. A folder whose device and inode were
// walked already is reported but not entered; folders that cannot be read are
// skipped. False when the root itself cannot be read or the visitor stopped.
bool WalkFolder(const std::filesystem::path& root,
                const std::function<WalkAction(const WalkEntry&)>& visit,
                WalkDetail detail = WalkDetail::Full);

}  // namespace hivewise
