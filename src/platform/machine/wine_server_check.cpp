#include "platform/machine/wine_server_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hivewise {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> EnvPath(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return fs::path(value);
}

// The folder name Debian's build stores in the prefix's file "wineserver": one plain
// name, nothing that could lead elsewhere.
std::optional<std::string> StoredFolderName(const fs::path& prefix) {
    int fd = ::open((prefix / "wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buf)) return std::nullopt;
    std::string name(buf, static_cast<size_t>(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    for (char c : name) {
        if (c == '/' || c == '\0' || c == '\n') return std::nullopt;
    }
    return name;
}

void AddUnique(std::vector<fs::path>& list, fs::path path) {
    for (const auto& known : list) {
        if (known == path) return;
    }
    list.push_back(std::move(path));
}

bool IsServerProgram(const std::string& exe) {
    std::string name = fs::path(exe).filename().string();
    // wineserver, wineserver64, wineserver32; a program replaced by an update shows
    // " (deleted)" after its name.
    return name.rfind("wineserver", 0) == 0;
}

bool SameObject(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool ProcessHolds(const fs::path& procEntry, const struct stat& target) {
    struct stat st {};
    if (::stat((procEntry / "cwd").c_str(), &st) == 0 && SameObject(st, target)) return true;
    DIR* fds = ::opendir((procEntry / "fd").c_str());
    if (!fds) return false;
    bool found = false;
    while (dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.') continue;
        if (::stat((procEntry / "fd" / entry->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            SameObject(st, target)) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

}  // namespace

WineServerPlaces WineServerPlaces::FromHost() {
    WineServerPlaces places;
    places.uid = ::getuid();
    places.tmpDir = EnvPath("TMPDIR");
    places.runUser = fs::path("/run/user") / std::to_string(places.uid);
    places.runtimeDir = EnvPath("XDG_RUNTIME_DIR");
    return places;
}

std::optional<std::string> WineServerFolderName(const fs::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return std::nullopt;
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return std::string(name);
}

std::vector<fs::path> WineServerLockCandidates(const fs::path& prefix,
                                               const WineServerPlaces& places) {
    std::vector<fs::path> list;
    std::optional<std::string> server = WineServerFolderName(prefix);
    if (!server) return list;
    std::string uid = std::to_string(places.uid);
    // Upstream and most builds.
    AddUnique(list, places.tmp / (".wine-" + uid) / *server / "lock");
    // Debian and Ubuntu: the user's runtime folder when it exists ...
    AddUnique(list, places.runUser / "wine" / *server / "lock");
    if (places.runtimeDir) AddUnique(list, *places.runtimeDir / "wine" / *server / "lock");
    // ... else a folder of random name in the temporary folder, named in the prefix.
    if (std::optional<std::string> stored = StoredFolderName(prefix)) {
        if (places.tmpDir) AddUnique(list, *places.tmpDir / *stored / *server / "lock");
        AddUnique(list, places.tmp / *stored / *server / "lock");
    }
    if (places.tmpDir) AddUnique(list, *places.tmpDir / (".wine-" + uid) / *server / "lock");
    return list;
}

bool LockFileHeld(const fs::path& lockFile) {
    int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool held = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // The server holds a write lock on the whole file for as long as it runs.
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    }
    ::close(fd);
    return held;
}

std::vector<pid_t> WineServerProcesses(const WineServerPlaces& places) {
    std::vector<pid_t> servers;
    DIR* proc = ::opendir(places.proc.c_str());
    if (!proc) return servers;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid()) continue;
        fs::path procEntry = places.proc / entry->d_name;
        struct stat owner {};
        if (::stat(procEntry.c_str(), &owner) != 0 || owner.st_uid != places.uid) continue;
        char exe[4096];
        ssize_t n = ::readlink((procEntry / "exe").c_str(), exe, sizeof exe - 1);
        if (n <= 0) continue;
        exe[n] = '\0';
        if (IsServerProgram(exe)) servers.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    return servers;
}

std::optional<pid_t> FindWineServerProcess(const fs::path& prefix, const WineServerPlaces& places) {
    struct stat target {};
    if (::stat(prefix.c_str(), &target) != 0) return std::nullopt;
    for (pid_t pid : places.servers ? *places.servers : WineServerProcesses(places)) {
        if (ProcessHolds(places.proc / std::to_string(pid), target)) return pid;
    }
    return std::nullopt;
}

bool WineServerRunningIn(const fs::path& prefix, const WineServerPlaces& places) {
    for (const auto& lock : WineServerLockCandidates(prefix, places)) {
        if (LockFileHeld(lock)) return true;
    }
    return FindWineServerProcess(prefix, places).has_value();
}

}  // namespace hivewise
