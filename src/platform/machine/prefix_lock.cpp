#include "platform/machine/prefix_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

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
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return false;
    // The server keeps a lock file in a folder named after the prefix's device and inode.
    char dir[128];
    std::snprintf(dir, sizeof dir, "/tmp/.wine-%u/server-%llx-%llx/lock",
                  static_cast<unsigned>(::getuid()), static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    int fd = ::open(dir, O_RDWR | O_CLOEXEC);
    if (fd < 0) fd = ::open(dir, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    bool running = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return running;
}

std::string WineRunningMessage(const std::filesystem::path& prefix) {
    return "Wine is running in " + prefix.string() +
           " and owns its registry; nothing was written. End it with: WINEPREFIX=\"" +
           prefix.string() + "\" wineserver -k";
}

}  // namespace hivewise
