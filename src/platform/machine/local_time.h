#pragma once

#include <ctime>

namespace hivewise {

// The host's local time now: archives, logs and "Last Scan" are named after it.
inline std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Has the C library read the system's time zone once for the whole run. Where TZ is not
// set, it otherwise looks the zone file up again at every local-time conversion, and
// opening a backup archive converts each of its entries' dates: 100 000 file-system
// look-ups for a large backup. TZ is set to name that same file, so that every time is
// converted as before. Call first thing in main(), before any thread starts.
void ReadTimeZoneOnce();

}  // namespace hivewise
