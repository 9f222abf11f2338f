#include "platform/machine/prefix_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/machine/wine_server_check.h"

namespace hivewise {

std::unique_ptr<PrefixLock> PrefixLock::Acquire(const std::filesystem::path& prefix,
                                                std::string* error) {
    // A lock on the folder itself: nothing is added to the user's prefix.
    int fd = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = "Cannot open the prefix folder " + prefix.string() + ".";
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        if (error) *error = "Another Hivewise is working on " + prefix.string() + ".";
        return nullptr;
    }
    return std::unique_ptr<PrefixLock>(new PrefixLock(fd));
}

PrefixLock::~PrefixLock() {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

namespace {

std::mutex g_startsMutex;
std::map<std::string, long>& Starts() {
    static std::map<std::string, long> starts;
    return starts;
}

std::string StartKey(const std::filesystem::path& prefix) {
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(prefix, ec);
    return (ec ? prefix.lexically_normal() : canonical).string();
}

// The start noted for the prefix: 0 for none, -1 for one without a process to follow.
long NotedStart(const std::filesystem::path& prefix) {
    std::lock_guard<std::mutex> lock(g_startsMutex);
    auto found = Starts().find(StartKey(prefix));
    return found == Starts().end() ? 0 : found->second;
}

}  // namespace

bool WineServerRunning(const std::filesystem::path& prefix) {
    return WineServerRunning(prefix, WineServerPlaces::FromHost());
}

bool WineServerRunning(const std::filesystem::path& prefix, const WineServerPlaces& places) {
    return NotedStart(prefix) != 0 || WineServerRunningIn(prefix, places);
}

void NoteWineStarted(const std::filesystem::path& prefix, long pid) {
    std::lock_guard<std::mutex> lock(g_startsMutex);
    Starts()[StartKey(prefix)] = pid > 0 ? pid : -1;
}

void ForgetWineStarted(const std::filesystem::path& prefix) {
    std::lock_guard<std::mutex> lock(g_startsMutex);
    Starts().erase(StartKey(prefix));
}

bool WineEndedSinceStart(const std::filesystem::path& prefix) {
    long pid = NotedStart(prefix);
    if (pid == 0) return false;
    bool programRuns = pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
    return !programRuns && !WineServerRunningIn(prefix, WineServerPlaces::FromHost());
}

std::string WineRunningMessage(const std::filesystem::path& prefix) {
    // Quoted for the shell, so that the command can be pasted whatever the folder's name.
    std::string quoted = "'";
    for (char c : prefix.string()) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return "Wine is running in " + prefix.string() +
           " and owns its registry; nothing was written. End it with: WINEPREFIX=" + quoted +
           " wineserver -k";
}

}  // namespace hivewise
