#pragma once

#include <filesystem>
#include <map>
#include <string>

// One running desktop program per user session: a lock on a file in the user's runtime
// folder, released by the system when the process ends however it ends.
namespace hivewise {

class SingleInstanceLock {
  public:
    enum class Result {
        Acquired,       // this is the only instance
        HeldElsewhere,  // another instance runs: end at once
        Unavailable,    // the lock file cannot be used; nothing can be told
    };

    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Takes the lock on `file` (created when missing) and keeps it until destroyed.
    Result Acquire(const std::filesystem::path& file);
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// $XDG_RUNTIME_DIR/hivewise.lock, else hivewise-<uid>.lock in the temporary folder.
// `env` holds the caller's XDG_RUNTIME_DIR and TMPDIR.
std::filesystem::path DefaultInstanceLockPath(const std::map<std::string, std::string>& env);

}  // namespace hivewise
