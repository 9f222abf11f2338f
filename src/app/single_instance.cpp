#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hivewise {

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::filesystem::path& file) {
    if (fd_ >= 0) return Result::Acquired;
    // No links followed: in a shared temporary folder another user could plant one.
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Result::Unavailable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Result::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? Result::HeldElsewhere : Result::Unavailable;
    }
    fd_ = fd;
    return Result::Acquired;
}

std::filesystem::path DefaultInstanceLockPath(const std::map<std::string, std::string>& env) {
    auto it = env.find("XDG_RUNTIME_DIR");
    if (it != env.end() && !it->second.empty()) {
        return std::filesystem::path(it->second) / "hivewise.lock";
    }
    it = env.find("TMPDIR");
    std::filesystem::path tmp =
        it != env.end() && !it->second.empty() ? std::filesystem::path(it->second) : "/tmp";
    return tmp / ("hivewise-" + std::to_string(::geteuid()) + ".lock");
}

}  // namespace hivewise
