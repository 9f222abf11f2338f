#include "platform/registry/mapped_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace hivewise {
namespace {

// From this size on a region is mapped apart rather than taken from the heap.
constexpr size_t kMapFrom = size_t{1} << 20;
constexpr size_t kPage = 4096;
constexpr size_t kMakeAhead = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
// From this size on a region is in huge pages; below, they would be mostly padding.
constexpr size_t kHugeFrom = size_t{8} << 20;

template <typename N>
N RoundUp(N n, N to) {
    return (n + to - 1) / to * to;
}

// `size` bytes of zeroed address space starting on a huge page's edge and advised to
// use huge pages, or null. The edge costs a huge page more of address space, handed back.
void* MapInHugePages(size_t size) {
    const size_t asked = size + kHugePage;
    void* p = ::mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    char* raw = static_cast<char*>(p);
    char* start = reinterpret_cast<char*>(
        RoundUp(reinterpret_cast<uintptr_t>(raw), static_cast<uintptr_t>(kHugePage)));
    if (start > raw) ::munmap(raw, static_cast<size_t>(start - raw));
    char* end = start + size;
    if (raw + asked > end) ::munmap(end, static_cast<size_t>(raw + asked - end));
#ifdef MADV_HUGEPAGE
    // Advice only: where huge pages are off, these are ordinary pages.
    ::madvise(start, size, MADV_HUGEPAGE);
#endif
    return start;
}

}  // namespace

MappedMemory::MappedMemory(size_t bytes, PagesMade made) {
    if (bytes == 0) bytes = 1;
    // Small regions come from the heap, which recycles them between small stores.
    if (bytes < kMapFrom) {
        data_ = std::calloc(1, bytes);
        size_ = data_ ? bytes : 0;
        made_ = size_;
        return;
    }
    const bool huge = bytes >= kHugeFrom;
    const size_t size = RoundUp(bytes, huge ? kHugePage : kPage);
    if (huge) {
        data_ = MapInHugePages(size);
    } else {
        const int flags =
            MAP_PRIVATE | MAP_ANONYMOUS | (made == PagesMade::kAtOnce ? MAP_POPULATE : 0);
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
        data_ = p == MAP_FAILED ? nullptr : p;
    }
    if (!data_) return;
    size_ = size;
    mapped_ = true;
    huge_ = huge;
    if (made == PagesMade::kAtOnce) {
        // Huge pages cannot come with the mapping, which precedes the advice to use them.
        if (huge && !Populate(0, size_)) {
            for (size_t at = 0; at < size_; at += kPage)
                static_cast<volatile char*>(data_)[at] = 0;
        }
        made_ = size_;
    }
}

void MappedMemory::MakeAhead(size_t bytes) {
    const size_t to = std::min(size_, RoundUp(bytes, huge_ ? kHugePage : kMakeAhead));
    if (to <= made_) return;
    MakeRange(made_, to);
    made_ = to;
}

void MappedMemory::MakeRange(size_t from, size_t to) const {
    if (!mapped_) return;  // heap memory is made already
    from = from / kPage * kPage;
    to = std::min(size_, RoundUp(to, kPage));
    // Where the system cannot, the pages are made by their faults as before.
    if (from < to) Populate(from, to);
}

bool MappedMemory::Populate(size_t from, size_t to) const {
#ifdef MADV_POPULATE_WRITE
    return ::madvise(static_cast<char*>(data_) + from, to - from, MADV_POPULATE_WRITE) == 0;
#else
    (void)from;
    (void)to;
    return false;
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
    huge_ = false;
}

MappedMemory::~MappedMemory() {
    Release();
}

MappedMemory::MappedMemory(MappedMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      made_(std::exchange(other.made_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      huge_(std::exchange(other.huge_, false)) {}

MappedMemory& MappedMemory::operator=(MappedMemory&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        made_ = std::exchange(other.made_, 0);
        mapped_ = std::exchange(other.mapped_, false);
        huge_ = std::exchange(other.huge_, false);
    }
    return *this;
}

}  // namespace hivewise
