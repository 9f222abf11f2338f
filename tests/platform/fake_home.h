#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/temp_prefix.h"

namespace hivewise::testing {

// A home folder laid out as the launchers lay theirs out.
class FakeHome {
  public:
    FakeHome() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "hivewise-home-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
    }
    ~FakeHome() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& Dir() const { return dir_; }

    void Write(const std::filesystem::path& relative, std::string_view content) {
        std::filesystem::path path = dir_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    // A prefix whose registry states a Windows version.
    void Prefix(const std::filesystem::path& relative,
                std::string_view product = "Microsoft Windows 10",
                std::string_view version = "10.0", std::string_view build = "19045") {
        Write(relative / "system.reg",
              TempPrefix::Header("REGISTRY\\\\Machine", "win64") +
                  "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1699999999\n"
                  "#time=1d9f0a1b2c3d4e5\n\"CurrentBuild\"=\"" +
                  std::string(build) + "\"\n\"CurrentBuildNumber\"=\"" + std::string(build) +
                  "\"\n\"CurrentVersion\"=\"" + std::string(version) + "\"\n\"ProductName\"=\"" +
                  std::string(product) + "\"\n");
        Write(relative / "user.reg",
              TempPrefix::Header("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", "win64"));
    }
    // Lutris' database with one game row per (name, configpath).
    void LutrisDatabase(const std::filesystem::path& relative,
                        const std::vector<std::pair<std::string, std::string>>& games) {
        std::filesystem::path path = dir_ / relative;
        std::filesystem::create_directories(path.parent_path());
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        std::string sql =
            "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, sortname TEXT, slug TEXT, "
            "installer_slug TEXT, parent_slug TEXT, platform TEXT, runner TEXT, executable TEXT, "
            "directory TEXT, updated DATETIME, lastplayed INTEGER, installed INTEGER, "
            "installed_at INTEGER, year INTEGER, configpath TEXT, has_custom_banner INTEGER, "
            "has_custom_icon INTEGER, playtime REAL, hidden INTEGER, service TEXT, "
            "service_id TEXT);";
        for (const auto& [name, config] : games) {
            sql += "INSERT INTO games (name, slug, runner, installed, configpath) VALUES ('" +
                   name + "', 'slug', 'wine', 1, '" + config + "');";
        }
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    std::map<std::string, std::string> Env() const {
        return {{"HOME", dir_.string()}, {"XDG_DATA_HOME", (dir_ / "xdg").string()}};
    }

  private:
    std::filesystem::path dir_;
};

inline std::string LibraryFolders(const std::vector<std::string>& paths) {
    std::string text = "\"libraryfolders\"\n{\n";
    for (size_t i = 0; i < paths.size(); ++i) {
        text += "\t\"" + std::to_string(i) + "\"\n\t{\n\t\t\"path\"\t\t\"" + paths[i] +
                "\"\n\t\t\"label\"\t\t\"\"\n\t\t\"contentid\"\t\t\"4820136429385628412\"\n"
                "\t\t\"totalsize\"\t\t\"0\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"1032318\"\n"
                "\t\t}\n\t}\n";
    }
    return text + "}\n";
}

inline std::string AppManifest(const std::string& id, const std::string& name) {
    return "\"AppState\"\n{\n\t\"appid\"\t\t\"" + id +
           "\"\n\t\"Universe\"\t\t\"1\"\n\t\"name\"\t\t\"" + name +
           "\"\n\t\"StateFlags\"\t\t\"4\"\n\t\"installdir\"\t\t\"" + name +
           "\"\n\t\"UserConfig\"\n\t{\n\t\t\"language\"\t\t\"english\"\n\t}\n}\n";
}

// Two Proton prefixes in one Steam library, a bottle and a Lutris game.
inline void LayOutFourMachines(FakeHome& home) {
    const std::string steam = home.Dir().string() + "/.local/share/Steam";
    home.Write(".local/share/Steam/steamapps/libraryfolders.vdf", LibraryFolders({steam}));
    home.Write(".local/share/Steam/steamapps/appmanifest_1091500.acf",
               AppManifest("1091500", "Cyberpunk 2077"));
    home.Prefix(".local/share/Steam/steamapps/compatdata/1091500/pfx");
    home.Write(".local/share/Steam/steamapps/appmanifest_220.acf",
               AppManifest("220", "Half-Life 2"));
    home.Prefix(".local/share/Steam/steamapps/compatdata/220/pfx", "Microsoft Windows 7", "6.1",
                "7601");
    home.Write(".local/share/bottles/bottles/Office/bottle.yml",
               "Name: Office 2010\nPath: Office\n");
    home.Prefix(".local/share/bottles/bottles/Office");
    home.Write(".config/lutris/games/the-witcher-3-1612345678.yml",
               "game:\n  prefix: " + home.Dir().string() + "/Games/witcher\n");
    home.Prefix("Games/witcher");
    home.LutrisDatabase(".local/share/lutris/pga.db",
                        {{"The Witcher 3", "the-witcher-3-1612345678"}});
}

}  // namespace hivewise::testing
