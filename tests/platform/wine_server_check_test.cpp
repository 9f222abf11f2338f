#include "platform/machine/wine_server_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/machine/prefix_lock.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

// A child process that holds a write lock on `lockFile` (as Wine's server does) until
// it is ended; fcntl locks of our own process would not count.
class LockHolder {
  public:
    explicit LockHolder(const fs::path& lockFile) {
        fs::create_directories(lockFile.parent_path());
        int ready[2];
        if (::pipe(ready) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            int fd = ::open(lockFile.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            if (fd < 0 || ::fcntl(fd, F_SETLK, &fl) != 0) ::_exit(1);
            char byte = 1;
            if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        ok_ = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~LockHolder() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool Ok() const { return ok_; }

  private:
    pid_t pid_ = -1;
    bool ok_ = false;
};

class WineServerCheckTest : public ::testing::Test {
  protected:
    WineServerCheckTest() {
        places_.uid = ::getuid();
        places_.tmp = hostDirs_.Dir() / "tmp";
        places_.tmpDir = hostDirs_.Dir() / "tmpdir";
        places_.runUser = hostDirs_.Dir() / "run-user";
        places_.runtimeDir = hostDirs_.Dir() / "xdg-runtime";
        places_.proc = "/proc";
        prefix_.SystemReg("");
    }
    std::string Server() const { return *WineServerFolderName(prefix_.Dir()); }

    TempPrefix prefix_;
    TempPrefix hostDirs_;  // stands in for /tmp, $TMPDIR and the runtime folders
    WineServerPlaces places_;
};

TEST_F(WineServerCheckTest, FindsTheLockAtEveryPackagersPlace) {
    prefix_.Write("wineserver", "wine-AbC123");
    std::string uid = std::to_string(places_.uid);
    const fs::path locations[] = {
        places_.tmp / (".wine-" + uid) / Server() / "lock",   // upstream
        places_.runUser / "wine" / Server() / "lock",         // Debian, /run/user/UID
        *places_.runtimeDir / "wine" / Server() / "lock",     // the same, by XDG_RUNTIME_DIR
        *places_.tmpDir / "wine-AbC123" / Server() / "lock",  // Debian, named in the prefix
        places_.tmp / "wine-AbC123" / Server() / "lock",      // the same without TMPDIR
    };
    for (const auto& lock : locations) {
        SCOPED_TRACE(lock.string());
        EXPECT_FALSE(WineServerRunningIn(prefix_.Dir(), places_));
        {
            LockHolder holder(lock);
            ASSERT_TRUE(holder.Ok());
            EXPECT_TRUE(WineServerRunningIn(prefix_.Dir(), places_));
        }
        // A server that ended leaves its lock file behind, unlocked.
        EXPECT_TRUE(fs::exists(lock));
        EXPECT_FALSE(WineServerRunningIn(prefix_.Dir(), places_));
    }
}

TEST_F(WineServerCheckTest, LockOfAnotherPrefixOrAStrayNameDoesNotCount) {
    TempPrefix other;
    std::string otherServer = *WineServerFolderName(other.Dir());
    LockHolder holder(places_.tmp / (".wine-" + std::to_string(places_.uid)) / otherServer /
                      "lock");
    ASSERT_TRUE(holder.Ok());
    EXPECT_FALSE(WineServerRunningIn(prefix_.Dir(), places_));

    // The stored name is one plain folder name, never a path that leads elsewhere.
    prefix_.Write("wineserver", "../elsewhere");
    auto candidates = WineServerLockCandidates(prefix_.Dir(), places_);
    for (const auto& c : candidates)
        EXPECT_EQ(c.string().find(".."), std::string::npos) << c;
}

// Any program named as Wine's server that holds the prefix open counts, wherever its
// lock is: the check that does not depend on a packager's folders.
TEST_F(WineServerCheckTest, FindsAServerProcessHoldingThePrefixOpen) {
    fs::path fake = hostDirs_.Dir() / "bin" / "wineserver64";
    fs::create_directories(fake.parent_path());
    fs::copy_file("/bin/sleep", fake);
    EXPECT_FALSE(FindWineServerProcess(prefix_.Dir(), places_));

    pid_t child = ::fork();
    if (child == 0) {
        int fd = ::open(prefix_.Dir().c_str(), O_RDONLY | O_DIRECTORY);  // kept across exec
        if (fd < 0) ::_exit(1);
        ::execl(fake.c_str(), "wineserver64", "30", static_cast<char*>(nullptr));
        ::_exit(1);
    }
    std::optional<pid_t> found;
    for (int i = 0; i < 100 && !found; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        found = FindWineServerProcess(prefix_.Dir(), places_);
    }
    EXPECT_EQ(found, child);
    EXPECT_TRUE(WineServerRunningIn(prefix_.Dir(), places_));
    // Another folder is not held by it.
    TempPrefix other;
    EXPECT_FALSE(FindWineServerProcess(other.Dir(), places_));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(FindWineServerProcess(prefix_.Dir(), places_));
}

TEST(WineRunningMessageTest, OneLineWithACommandThatCanBePasted) {
    std::string message = WineRunningMessage("/home/u/it's here");
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_NE(message.find("WINEPREFIX='/home/u/it'\\''s here' wineserver -k"), std::string::npos);
}

// Wine's own server, when Wine is installed, wherever this build of Wine keeps its lock.
TEST(RealWineServerTest, SeenWhileItRunsAndNotAfter) {
    if (std::system("command -v wineserver >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "wineserver is not installed";
    }
    TempPrefix prefix;
    std::string env = "WINEPREFIX='" + prefix.Dir().string() + "' ";
    ASSERT_EQ(std::system((env + "wineserver -p >/dev/null 2>&1 &").c_str()), 0);
    // The server starts, then forks into the background and takes its lock there:
    // each way of finding it is waited for on its own.
    WineServerPlaces host = WineServerPlaces::FromHost();
    bool seen = false, lockFound = false, processFound = false;
    for (int i = 0; i < 200 && !(seen && lockFound && processFound); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seen = seen || WineServerRunning(prefix.Dir());
        for (const auto& lock : WineServerLockCandidates(prefix.Dir(), host))
            lockFound = lockFound || LockFileHeld(lock);
        processFound = processFound || FindWineServerProcess(prefix.Dir(), host).has_value();
    }
    std::system((env + "wineserver -k >/dev/null 2>&1; " + env + "wineserver -w").c_str());
    EXPECT_TRUE(seen);
    EXPECT_TRUE(lockFound);
    EXPECT_TRUE(processFound);
    EXPECT_FALSE(WineServerRunning(prefix.Dir()));
}

}  // namespace
}  // namespace hivewise
