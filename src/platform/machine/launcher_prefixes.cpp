// The prefixes of Bottles, Lutris and the front ends that keep one folder per prefix.

#include "platform/machine/launcher_prefixes.h"

#include <sqlite3.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <system_error>

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// The sub-folders of `parent`, links followed; none when it cannot be listed.
std::vector<fs::path> SubFolders(const fs::path& parent) {
    std::vector<fs::path> folders;
    std::error_code ec;
    fs::directory_iterator it(parent, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code statError;
        if (it->is_directory(statError)) folders.push_back(it->path());
    }
    return folders;
}

// A YAML document's top-level map; nothing when the text is not one. The reader
// reports malformed text by throwing, which ends here.
std::optional<YAML::Node> LoadYamlMap(const fs::path& file) {
    auto text = ReadLauncherFile(file);
    if (!text) return std::nullopt;
    try {
        YAML::Node node = YAML::Load(*text);
        if (!node.IsMap()) return std::nullopt;
        return node;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A scalar entry of a map as text; empty when missing or not a scalar.
std::string ScalarText(const YAML::Node& map, const char* key) {
    try {
        const YAML::Node& constMap = map;
        YAML::Node value = constMap[key];
        if (value && value.IsScalar()) return value.Scalar();
    } catch (const std::exception&) {
    }
    return {};
}

// Games' display names by their configurations' names, from the launcher's database, in
// one pass over its table: the table has no index on the configuration, so a query per
// configuration would read the whole table each time. The first row of a name counts.
std::map<std::string, std::string> GameNames(const fs::path& file,
                                             const std::set<std::string>& configNames) {
    std::map<std::string, std::string> names;
    std::error_code ec;
    if (configNames.empty() || !fs::is_regular_file(file, ec)) return names;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return names;
    }
    // The launcher may be writing it just now; a short wait, then names from files.
    sqlite3_busy_timeout(db, 250);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT configpath, name FROM games", -1, &statement, nullptr) ==
        SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char* config = sqlite3_column_text(statement, 0);
            if (!config) continue;
            std::string key(reinterpret_cast<const char*>(config),
                            static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
            if (!configNames.count(key) || names.count(key)) continue;
            const unsigned char* name = sqlite3_column_text(statement, 1);
            names.emplace(std::move(key), name ? reinterpret_cast<const char*>(name) : "");
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return names;
}

// The prefix a game configuration names: absolute, or under the home with "~/".
std::optional<fs::path> ConfiguredPrefix(const fs::path& file, const fs::path& home) {
    auto config = LoadYamlMap(file);
    if (!config) return std::nullopt;
    YAML::Node game;
    try {
        const YAML::Node& constConfig = *config;
        game = constConfig["game"];
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!game || !game.IsMap()) return std::nullopt;
    std::string prefix = ScalarText(game, "prefix");
    if (prefix.starts_with("~/")) return home / prefix.substr(2);
    if (prefix.starts_with("$HOME/")) return home / prefix.substr(6);
    if (prefix.empty() || prefix[0] != '/') return std::nullopt;
    return fs::path(prefix);
}

struct LutrisInstall {
    std::vector<fs::path> gameFolders;
    fs::path database;
};

}  // namespace

bool HoldsSystemReg(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / "system.reg", ec);
}

std::optional<std::string> ReadLauncherFile(const fs::path& file, std::uintmax_t maxBytes) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    std::uintmax_t size = fs::file_size(file, ec);
    if (ec || size > maxBytes) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::vector<LauncherPrefix> FindBottles(const fs::path& home) {
    std::vector<LauncherPrefix> bottles;
    for (const fs::path& parent :
         {home / ".local" / "share" / "bottles" / "bottles",
          home / ".var" / "app" / "com.usebottles.bottles" / "data" / "bottles" / "bottles"}) {
        for (const fs::path& folder : SubFolders(parent)) {
            if (!HoldsSystemReg(folder)) continue;
            std::string name;
            if (auto config = LoadYamlMap(folder / "bottle.yml"))
                name = ScalarText(*config, "Name");
            if (name.empty()) name = folder.filename().string();
            bottles.push_back({name, folder});
        }
    }
    return bottles;
}

std::vector<LauncherPrefix> FindLutrisPrefixes(const fs::path& home) {
    const fs::path flatpak = home / ".var" / "app" / "net.lutris.Lutris";
    const LutrisInstall installs[] = {
        {{home / ".config" / "lutris" / "games", home / ".local" / "share" / "lutris" / "games"},
         home / ".local" / "share" / "lutris" / "pga.db"},
        {{flatpak / "config" / "lutris" / "games", flatpak / "data" / "lutris" / "games"},
         flatpak / "data" / "lutris" / "pga.db"},
    };
    std::vector<LauncherPrefix> prefixes;
    for (const LutrisInstall& install : installs) {
        std::vector<LauncherPrefix> found;  // named by their configurations for now
        std::set<std::string> configNames;
        for (const fs::path& folder : install.gameFolders) {
            std::error_code ec;
            fs::directory_iterator it(folder, ec);
            for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
                if (it->path().extension() != ".yml") continue;
                auto prefix = ConfiguredPrefix(it->path(), home);
                if (!prefix || !HoldsSystemReg(*prefix)) continue;
                found.push_back({it->path().stem().string(), *prefix});
                configNames.insert(found.back().name);
            }
        }
        std::map<std::string, std::string> names = GameNames(install.database, configNames);
        for (LauncherPrefix& prefix : found) {
            auto name = names.find(prefix.name);
            if (name != names.end() && !name->second.empty()) prefix.name = name->second;
            prefixes.push_back(std::move(prefix));
        }
    }
    return prefixes;
}

std::vector<LauncherPrefix> FindPrefixFolders(const fs::path& parent) {
    std::vector<LauncherPrefix> prefixes;
    for (const fs::path& folder : SubFolders(parent)) {
        if (HoldsSystemReg(folder)) prefixes.push_back({folder.filename().string(), folder});
    }
    return prefixes;
}

}  // namespace hivewise
