#include "platform/machine/local_time.h"

#include <cstdlib>

namespace hivewise {

void ReadTimeZoneOnce() {
    // The C library's own default, by name: ":" asks for a zone file, and this is the one
    // it reads when TZ is not set.
    if (!std::getenv("TZ")) ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
}

}  // namespace hivewise
