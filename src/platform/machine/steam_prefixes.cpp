// Steam's libraries and the prefixes Proton keeps in them.

#include <algorithm>
#include <map>
#include <system_error>

#include "platform/machine/key_values.h"
#include "platform/machine/launcher_prefixes.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// Where Steam installs itself: the native client (its ~/.steam/steam link and the
// folder it points at) and the Flatpak one.
std::vector<fs::path> SteamRoots(const fs::path& home) {
    return {home / ".steam" / "steam", home / ".local" / "share" / "Steam",
            home / ".var" / "app" / "com.valvesoftware.Steam" / ".local" / "share" / "Steam"};
}

// One identity per folder, so that a library reached through a link counts once.
fs::path Identity(const fs::path& folder) {
    std::error_code ec;
    fs::path canonical = fs::canonical(folder, ec);
    return ec ? folder.lexically_normal() : canonical;
}

// The libraries a libraryfolders.vdf lists. The current form keeps a block per library
// with its "path"; the older one keeps the path as the numbered pair's value.
std::vector<fs::path> ListedLibraries(const fs::path& file) {
    std::vector<fs::path> libraries;
    auto text = ReadLauncherFile(file);
    if (!text) return libraries;
    auto root = ParseKeyValues(*text);
    if (!root) return libraries;
    const KeyValue* folders = root->Find("libraryfolders");
    if (!folders || !folders->isBlock) return libraries;
    for (const KeyValue& entry : folders->children) {
        if (entry.key.empty() || entry.key.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string path = entry.isBlock ? entry.Text("path") : entry.value;
        if (!path.empty() && path[0] == '/') libraries.emplace_back(path);
    }
    return libraries;
}

// app id -> the game's name, from every library's manifests.
std::map<std::string, std::string> GameNames(const std::vector<fs::path>& libraries) {
    std::map<std::string, std::string> names;
    for (const fs::path& library : libraries) {
        std::error_code ec;
        fs::directory_iterator it(library / "steamapps", ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string file = it->path().filename().string();
            constexpr std::string_view kPrefix = "appmanifest_", kSuffix = ".acf";
            if (file.size() <= kPrefix.size() + kSuffix.size() || !file.starts_with(kPrefix) ||
                !file.ends_with(kSuffix)) {
                continue;
            }
            auto text = ReadLauncherFile(it->path());
            auto root = text ? ParseKeyValues(*text) : std::nullopt;
            const KeyValue* state = root ? root->Find("AppState") : nullptr;
            if (!state || !state->isBlock) continue;
            std::string id = state->Text("appid");
            if (id.empty()) {
                id = file.substr(kPrefix.size(), file.size() - kPrefix.size() - kSuffix.size());
            }
            std::string name = state->Text("name");
            if (!name.empty()) names.emplace(id, name);
        }
    }
    return names;
}

}  // namespace

std::vector<fs::path> SteamLibraries(const fs::path& home) {
    std::vector<fs::path> libraries;
    std::vector<fs::path> seen;
    auto add = [&](const fs::path& folder) {
        std::error_code ec;
        if (!fs::is_directory(folder / "steamapps", ec)) return;
        fs::path id = Identity(folder);
        if (std::find(seen.begin(), seen.end(), id) != seen.end()) return;
        seen.push_back(id);
        // The real folder: ~/.steam/steam is only a link to the client's own.
        libraries.push_back(id);
    };
    for (const fs::path& root : SteamRoots(home)) {
        add(root);
        // The client keeps the list in config/ and a copy in steamapps/.
        for (const fs::path& list :
             {root / "config" / "libraryfolders.vdf", root / "steamapps" / "libraryfolders.vdf"}) {
            for (const fs::path& library : ListedLibraries(list))
                add(library);
        }
    }
    return libraries;
}

std::vector<LauncherPrefix> FindProtonPrefixes(const fs::path& home) {
    std::vector<LauncherPrefix> prefixes;
    std::vector<fs::path> libraries = SteamLibraries(home);
    std::map<std::string, std::string> names = GameNames(libraries);
    for (const fs::path& library : libraries) {
        std::error_code ec;
        fs::directory_iterator it(library / "steamapps" / "compatdata", ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            fs::path prefix = it->path() / "pfx";
            if (!HoldsSystemReg(prefix)) continue;
            std::string id = it->path().filename().string();
            auto name = names.find(id);
            prefixes.push_back({name != names.end() ? name->second : id, prefix});
        }
    }
    return prefixes;
}

}  // namespace hivewise
