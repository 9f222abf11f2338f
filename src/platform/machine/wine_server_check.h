#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Finds a Wine server running for a prefix, however Wine was packaged. The server keeps
// a lock file in a folder named after the prefix's device and inode; where that folder
// lies differs between builds, so every known place is tried, and then the processes of
// the user are looked at for a server holding the prefix open.
namespace hivewise {

// The host places the check looks in; the defaults come from the running process.
struct WineServerPlaces {
    uid_t uid = 0;
    std::filesystem::path tmp = "/tmp";               // upstream's /tmp/.wine-UID
    std::optional<std::filesystem::path> tmpDir;      // $TMPDIR, when set
    std::filesystem::path runUser;                    // /run/user/UID
    std::optional<std::filesystem::path> runtimeDir;  // $XDG_RUNTIME_DIR, when set
    std::filesystem::path proc = "/proc";
    // When set: the server processes to look at (see WineServerProcesses), so that many
    // prefixes checked at once need one look at the process list, not one each.
    std::optional<std::vector<pid_t>> servers;

    static WineServerPlaces FromHost();
};

// The name of the server's folder for a prefix: "server-DEV-INO" in hex. Nothing when
// the prefix cannot be looked at.
std::optional<std::string> WineServerFolderName(const std::filesystem::path& prefix);

// Every place a server for the prefix may keep its lock file, most likely first.
std::vector<std::filesystem::path> WineServerLockCandidates(const std::filesystem::path& prefix,
                                                            const WineServerPlaces& places);

// True when another process holds a write lock on the file (as a running server does).
bool LockFileHeld(const std::filesystem::path& lockFile);

// The id of a process of the user whose program is Wine's server and which has the
// prefix folder open (or as its working folder); nothing when there is none.
std::optional<pid_t> FindWineServerProcess(const std::filesystem::path& prefix,
                                           const WineServerPlaces& places);

// The ids of the processes of the user whose program is Wine's server.
std::vector<pid_t> WineServerProcesses(const WineServerPlaces& places);

bool WineServerRunningIn(const std::filesystem::path& prefix, const WineServerPlaces& places);

}  // namespace hivewise
