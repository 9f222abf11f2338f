#include "platform/registry/process_heap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// The C library says who it is in the headers above.
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace hivewise {

void PrepareProcessHeap() {
#if defined(__GLIBC__)
    constexpr size_t kHugePage = size_t{2} << 20;
    // Address space only: a page is made when it is first touched.
    constexpr size_t kReserve = size_t{256} << 20;
    constexpr size_t kProbe = size_t{64} << 10;  // served from the heap, not mapped apart
    // One heap for every thread, so that the scan thread's blocks come from the region
    // advised below rather than from a heap of its own.
    mallopt(M_ARENA_MAX, 1);
    // The heap grows by the reserve at once, and freed blocks at its end stay, so that
    // the region keeps its huge pages for the next scan.
    mallopt(M_TOP_PAD, static_cast<int>(kReserve));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kReserve));
    char* before = static_cast<char*>(sbrk(0));
    if (before == reinterpret_cast<char*>(-1)) return;
    // Blocks are taken until the heap has to grow, which it then does by the reserve.
    std::vector<void*> probes;
    probes.reserve(kReserve / kProbe);
    while (probes.size() < kReserve / kProbe && static_cast<char*>(sbrk(0)) == before) {
        void* probe = std::malloc(kProbe);
        if (!probe) break;
        probes.push_back(probe);
    }
    char* after = static_cast<char*>(sbrk(0));
    for (void* probe : probes)
        std::free(probe);
    uintptr_t start = (reinterpret_cast<uintptr_t>(before) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = reinterpret_cast<uintptr_t>(after) & ~(kHugePage - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}

}  // namespace hivewise
