#include "platform/registry/process_heap.h"

#include <cstddef>

// The C library says who it is in the headers above.
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace hivewise {

void PrepareProcessHeap() {
#if defined(__GLIBC__)
    // Address space only: a page is made when it is first touched.
    constexpr size_t kReserve = size_t{256} << 20;
    // One heap for every thread: fresh memory is the dearest part of a large scan, and a
    // heap per thread would take fresh pages for what another thread has freed.
    mallopt(M_ARENA_MAX, 1);
    // The heap grows by the reserve at once, and freed blocks at its end stay.
    mallopt(M_TOP_PAD, static_cast<int>(kReserve));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kReserve));
#endif
}

}  // namespace hivewise
