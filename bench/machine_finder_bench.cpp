// Time and peak memory of finding the machines of a crowded home: Lutris game files with
// a large game database, and a Proton prefix with a large registry.
// Usage: machine_finder_bench [GAME_FILES [DATABASE_ROWS [SYSTEM_REG_VALUES]]]
// (default 1000 200000 4000000, the last about 220 MB).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "generated_prefix.h"
#include "platform/machine/machine_finder.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string SmallRegistry() {
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"
           "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1699999999\n"
           "\"CurrentBuild\"=\"19045\"\n\"CurrentBuildNumber\"=\"19045\"\n"
           "\"CurrentVersion\"=\"10.0\"\n\"ProductName\"=\"Microsoft Windows 10\"\n";
}

bool WriteDatabase(const fs::path& path, long rows) {
    fs::create_directories(path.parent_path());
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    sqlite3_exec(db,
                 "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, slug TEXT, "
                 "runner TEXT, directory TEXT, configpath TEXT, installed INTEGER);"
                 "BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO games (name, slug, runner, directory, configpath, installed) "
                       "VALUES (?1, ?2, 'wine', '/games/x', ?3, 1)",
                       -1, &insert, nullptr);
    for (long i = 0; i < rows; ++i) {
        std::string name = "Game number " + std::to_string(i);
        std::string config = "game-" + std::to_string(i) + "-1700000000";
        sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, config.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, config.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    return sqlite3_close(db) == SQLITE_OK;
}

}  // namespace

int main(int argc, char** argv) {
    long games = argc > 1 ? std::atol(argv[1]) : 1000;
    long rows = argc > 2 ? std::atol(argv[2]) : 200000;
    size_t values = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 4000000;
    std::string pattern = (fs::temp_directory_path() / "hivewise-finder-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    fs::path home = pattern;

    // Game files spread over the database, the last ones in its last rows.
    for (long g = 0; g < games; ++g) {
        long row = rows > games ? rows - games + g : g;
        std::string config = "game-" + std::to_string(row) + "-1700000000";
        fs::path prefix = home / "Games" / ("prefix" + std::to_string(g));
        Write(prefix / "system.reg", SmallRegistry());
        Write(home / ".config" / "lutris" / "games" / (config + ".yml"),
              "game:\n  exe: /games/x/game.exe\n  prefix: " + prefix.string() + "\n");
    }
    if (!WriteDatabase(home / ".local" / "share" / "lutris" / "pga.db", rows)) return 1;

    // One Proton prefix whose registry is large, its version keys where the server puts them.
    fs::path steam = home / ".local" / "share" / "Steam";
    fs::path pfx = steam / "steamapps" / "compatdata" / "1091500" / "pfx";
    fs::create_directories(pfx);
    // Written by a child, so that the text held to write it is not in this peak memory.
    if (pid_t child = ::fork(); child == 0) {
        std::ofstream reg(pfx / "system.reg", std::ios::binary);
        reg << hivewise::bench::GeneratedSystemReg(values)
            << "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1699999999\n"
               "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n"
            << SmallRegistry().substr(SmallRegistry().find("\n["));
        reg.close();
        ::_exit(reg ? 0 : 1);
    } else if (int status = 0; child < 0 || ::waitpid(child, &status, 0) != child || status != 0) {
        return 1;
    }
    uintmax_t regBytes = fs::file_size(pfx / "system.reg");

    std::map<std::string, std::string> env{{"HOME", home.string()}};
    double best = 0;
    size_t found = 0;
    for (int i = 0; i < 3; ++i) {
        auto start = std::chrono::steady_clock::now();
        found = hivewise::FindMachines(env, fs::path("/nonexistent/hivewise")).size();
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i == 0 || seconds < best) best = seconds;
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%ld game files, %ld database rows, a %.0f MB system.reg: %zu machines in %.3f s (best "
        "of 3), peak memory %.1f MB\n",
        games, rows, static_cast<double>(regBytes) / 1e6, found, best,
        static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::error_code ec;
    fs::remove_all(home, ec);
    return 0;
}
