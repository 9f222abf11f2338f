#include "platform/registry/process_heap.h"

#include <cstddef>

// The C library says who it is in the headers above.
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
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
#ifdef MADV_HUGEPAGE
    // The heap grows by the reserve now, and that part of it is advised to use huge pages:
    // on a virtual machine a fresh ordinary page costs a trip to the host on first touch.
    uintptr_t before = reinterpret_cast<uintptr_t>(sbrk(0));
    void* taken[8] = {};
    for (void*& block : taken) {
        // Small enough for the heap proper, taken until the heap has grown.
        block = std::malloc(64 << 10);
        if (!block || reinterpret_cast<uintptr_t>(sbrk(0)) != before) break;
    }
    for (void* block : taken)
        std::free(block);
    uintptr_t after = reinterpret_cast<uintptr_t>(sbrk(0));
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    uintptr_t from = (before + kHuge - 1) / kHuge * kHuge;
    uintptr_t to = after / kHuge * kHuge;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
#endif
}

}  // namespace hivewise
