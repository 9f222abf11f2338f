#include "platform/machine/local_time.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace hivewise {
namespace {

// What a local time conversion gives for a fixed moment, both ways.
struct Converted {
    std::tm local{};
    std::time_t back = 0;
};

Converted Convert() {
    Converted converted;
    const std::time_t moment = 1'780'000'000;  // a summer's day in 2026
    localtime_r(&moment, &converted.local);
    std::tm copy = converted.local;
    converted.back = std::mktime(&copy);
    return converted;
}

bool Same(const Converted& a, const Converted& b) {
    return a.local.tm_hour == b.local.tm_hour && a.local.tm_isdst == b.local.tm_isdst &&
           a.local.tm_gmtoff == b.local.tm_gmtoff && a.back == b.back;
}

// Runs `check` in a child process, whose environment it may change; its exit code.
template <typename Check>
int InChild(Check check) {
    const pid_t child = fork();
    if (child == 0) _exit(check());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(LocalTimeTest, TheZoneIsReadOnceAndConvertsAsBefore) {
    // Unset: the system's zone file by name, and every time converted as it was.
    EXPECT_EQ(InChild([] {
                  ::unsetenv("TZ");
                  ::tzset();
                  const Converted before = Convert();
                  ReadTimeZoneOnce();
                  const char* tz = std::getenv("TZ");
                  if (!tz || std::strcmp(tz, ":/etc/localtime") != 0) return 1;
                  return Same(before, Convert()) ? 0 : 2;
              }),
              0);
    // Set by the user, even empty (UTC): left as it is.
    for (const char* zone : {"Pacific/Auckland", "", "EST5EDT"}) {
        EXPECT_EQ(InChild([zone] {
                      ::setenv("TZ", zone, 1);
                      ::tzset();
                      const Converted before = Convert();
                      ReadTimeZoneOnce();
                      const char* tz = std::getenv("TZ");
                      if (!tz || std::strcmp(tz, zone) != 0) return 1;
                      return Same(before, Convert()) ? 0 : 2;
                  }),
                  0)
            << zone;
    }
}

}  // namespace
}  // namespace hivewise
