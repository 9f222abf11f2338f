#include "platform/registry/mapped_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace hivewise {
namespace {

// From this size on a region is mapped apart rather than taken from the heap.
constexpr size_t kMapFrom = size_t{1} << 20;
constexpr size_t kPage = 4096;
constexpr size_t kMakeAhead = size_t{1} << 20;

size_t RoundUp(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

}  // namespace

MappedMemory::MappedMemory(size_t bytes, bool populate) {
    if (bytes == 0) bytes = 1;
    // Small regions come from the heap, which recycles them between small stores.
    if (bytes < kMapFrom) {
        data_ = std::calloc(1, bytes);
        size_ = data_ ? bytes : 0;
        made_ = size_;
        return;
    }
    const size_t size = RoundUp(bytes, kPage);
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0);
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (p == MAP_FAILED) return;
    data_ = p;
    size_ = size;
    made_ = populate ? size : 0;
    mapped_ = true;
}

void MappedMemory::MakeAhead(size_t bytes) {
    const size_t to = std::min(size_, RoundUp(bytes, kMakeAhead));
    if (to <= made_) return;
    MakeRange(made_, to);
    made_ = to;
}

void MappedMemory::MakeRange(size_t from, size_t to) const {
    if (!mapped_) return;  // heap memory is made already
    from = from / kPage * kPage;
    to = std::min(size_, RoundUp(to, kPage));
    if (from >= to) return;
#ifdef MADV_POPULATE_WRITE
    // Where the system cannot, the pages are made by their faults as before.
    ::madvise(static_cast<char*>(data_) + from, to - from, MADV_POPULATE_WRITE);
#endif
}

void MappedMemory::Release() {
    if (mapped_) {
        ::munmap(data_, size_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
    made_ = 0;
    mapped_ = false;
}

MappedMemory::~MappedMemory() {
    Release();
}

MappedMemory::MappedMemory(MappedMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      made_(std::exchange(other.made_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

MappedMemory& MappedMemory::operator=(MappedMemory&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        made_ = std::exchange(other.made_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

}  // namespace hivewise
