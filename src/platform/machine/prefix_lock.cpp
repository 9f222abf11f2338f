#include "platform/machine/prefix_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool WineServerRunning(const std::filesystem::path& prefix) {
    return WineServerRunningIn(prefix, WineServerPlaces::FromHost());
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
