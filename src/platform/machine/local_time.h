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

}  // namespace hivewise
