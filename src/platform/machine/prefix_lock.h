#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace hivewise {

// Keeps a second Hivewise off a prefix while this one has it loaded.
class PrefixLock {
  public:
    // Null (with a message) when another process holds the prefix.
    static std::unique_ptr<PrefixLock> Acquire(const std::filesystem::path& prefix,
                                               std::string* error);
    ~PrefixLock();
    PrefixLock(const PrefixLock&) = delete;
    PrefixLock& operator=(const PrefixLock&) = delete;

  private:
    explicit PrefixLock(int fd) : fd_(fd) {}
    int fd_;
};

// True while Wine's server runs for the prefix: it then owns the registry and writes
// it back itself, so nothing of ours may write the registry files.
bool WineServerRunning(const std::filesystem::path& prefix);

// The one line that tells the user why nothing was written while Wine runs, and how to
// end it.
std::string WineRunningMessage(const std::filesystem::path& prefix);

}  // namespace hivewise
