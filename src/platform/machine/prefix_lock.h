#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/machine/wine_server_check.h"

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
// it back itself, so nothing of ours may write the registry files. Also true from the
// moment this process started a program in the prefix (before the server shows) until
// the start is forgotten.
bool WineServerRunning(const std::filesystem::path& prefix);
// The same with the host's places (and server processes) looked up once for many prefixes.
bool WineServerRunning(const std::filesystem::path& prefix, const WineServerPlaces& places);

// This process started a Windows program in the prefix and did not wait for it (`pid`
// its process). Wine may change the registry files from now on: what was read of them
// is stale until the machine is read again, and then ForgetWineStarted.
void NoteWineStarted(const std::filesystem::path& prefix, long pid);
void ForgetWineStarted(const std::filesystem::path& prefix);
// A start was noted and Wine has ended since: the program is gone and so is the server.
bool WineEndedSinceStart(const std::filesystem::path& prefix);

// The one line that tells the user why nothing was written while Wine runs, and how to
// end it.
std::string WineRunningMessage(const std::filesystem::path& prefix);

}  // namespace hivewise
