#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The Wine prefixes that game launchers and Wine front ends keep for the user, read from
// their own files. Every reader skips what it cannot read or understand: a broken
// launcher file costs its own entries, nothing more.
namespace hivewise {

struct LauncherPrefix {
    std::string name;  // as the launcher names it (UTF-8)
    std::filesystem::path folder;
};

// A prefix folder is one that holds the machine's registry.
bool HoldsSystemReg(const std::filesystem::path& folder);

// A launcher's small text file; nothing when it is missing, unreadable or larger than
// `maxBytes`.
std::optional<std::string> ReadLauncherFile(const std::filesystem::path& file,
                                            std::uintmax_t maxBytes = 4u << 20);

// Steam's libraries: each Steam installation (the native ones and the Flatpak one) and
// the further libraries its libraryfolders.vdf lists, each once.
std::vector<std::filesystem::path> SteamLibraries(const std::filesystem::path& home);
// Proton's prefixes, compatdata/<appid>/pfx of every library, named by the game's
// manifest in any library, else by the app id.
std::vector<LauncherPrefix> FindProtonPrefixes(const std::filesystem::path& home);

// Every bottle of the native and the Flatpak installation, named by its bottle.yml.
std::vector<LauncherPrefix> FindBottles(const std::filesystem::path& home);

// The prefix of each game configuration, named by the game's row in the launcher's
// database, else by the configuration's file name.
std::vector<LauncherPrefix> FindLutrisPrefixes(const std::filesystem::path& home);

// Each sub-folder of `parent` that is a prefix, named by the folder (the front ends
// that keep one folder per prefix).
std::vector<LauncherPrefix> FindPrefixFolders(const std::filesystem::path& parent);

}  // namespace hivewise
