#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Where the user's desktop keeps its data: the XDG data and config folders and the
// desktop folder, and which of their files Wine's menu builder writes. These are the
// only files outside a prefix that Hivewise ever removes or puts back.
namespace hivewise {

struct XdgFolders {
    std::filesystem::path home;
    std::filesystem::path dataHome;    // $XDG_DATA_HOME, else ~/.local/share
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME, else ~/.config
    std::filesystem::path desktop;     // XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop or ~
};

// The folders for `env` (HOME, XDG_DATA_HOME, XDG_CONFIG_HOME); relative XDG values are
// invalid and ignored. Nothing without an absolute HOME.
std::optional<XdgFolders> FindXdgFolders(const std::map<std::string, std::string>& env);
// The same for this process's environment.
std::optional<XdgFolders> CurrentXdgFolders();

// Whether `path` (absolute, no "." or ".." parts) is a file the menu builder writes:
// applications/wine/**, applications/wine-extension-*.desktop,
// desktop-directories/wine-*.directory, icons/hicolor/*/apps/*,
// mime/packages/x-wine-extension-*.xml under the data folder;
// menus/applications-merged/wine-*.menu under the config folder; ".desktop" and ".lnk"
// files directly in the desktop folder.
bool IsMenuBuilderFile(const XdgFolders& folders, const std::filesystem::path& path);

// Whether a repair may remove, or a restore write, `path`: a menu builder file reached
// from its base folder (data, config or desktop) through real folders only, and itself a
// plain file or absent, so that nothing lands outside those folders through a link.
// With `createFolders`, missing folders between the base and the file are made.
bool MayTouchMenuBuilderFile(const XdgFolders& folders, const std::filesystem::path& path,
                             bool createFolders = false);

// Lets the desktop see changed menu entries and file types: runs update-desktop-database
// when a file of the applications folder is among `changed`, update-mime-database when a
// file type package is, each only where that program is installed. Nothing else is
// touched, so that a home without those caches is not given them.
void RefreshDesktopCaches(const XdgFolders& folders,
                          const std::vector<std::filesystem::path>& changed);

}  // namespace hivewise
