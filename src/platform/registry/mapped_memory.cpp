#include "platform/registry/mapped_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <utility>

namespace hivewise {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t RoundUp(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

}  // namespace

MappedMemory::MappedMemory(size_t bytes) {
    if (bytes == 0) bytes = 1;
    // Below half a huge page, rounding up to one would waste more than the faults cost:
    // ordinary memory, which the allocator recycles between small stores.
    if (bytes < kHugePage / 2) {
        data_ = std::calloc(1, bytes);
        size_ = data_ ? bytes : 0;
        return;
    }
    // Huge pages need an aligned start: map one page more and trim both ends.
    size_t size = RoundUp(bytes, kHugePage);
    void* p = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
    if (p == MAP_FAILED) return;
    auto start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start) ::munmap(p, aligned - start);
    size_t tail = start + size + kHugePage - (aligned + size);
    if (tail) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    data_ = reinterpret_cast<void*>(aligned);
    size_ = size;
    mapped_ = true;
    // Advice only: where huge pages are off, this is ordinary memory. It is not populated,
    // so that a generous reservation costs only what is used.
    ::madvise(data_, size_, MADV_HUGEPAGE);
}

void MappedMemory::Release() {
    if (mapped_) {
        ::munmap(data_, size_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

MappedMemory::~MappedMemory() {
    Release();
}

MappedMemory::MappedMemory(MappedMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

MappedMemory& MappedMemory::operator=(MappedMemory&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

}  // namespace hivewise
