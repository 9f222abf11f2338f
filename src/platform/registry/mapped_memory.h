#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

// Memory for the registry's large tables (a file's text, blocks of keys), zeroed and ready
// for use. Large regions are mapped apart, so that a generous reservation costs only the
// pages touched and is handed back whole; small ones are ordinary zeroed memory.
//
// The largest regions are in huge pages, made a huge page at a time as they fill. On a
// virtual machine every ordinary page is a trip to the host when first touched, even
// after it was made ahead (5 microseconds each, measured: 22 ms for a file's 17 MB of
// keys); a huge page is one trip for 512 of them. After a pause, a huge page the host must
// supply anew costs about what its 512 ordinary pages would: never more.
namespace hivewise {

// When a region's pages are made.
enum class PagesMade {
    kWhenTouched,  // by their first write, or ahead by MakeUpTo / MakeRange
    kAtOnce,       // all of them by the constructor
};

class MappedMemory {
  public:
    MappedMemory() = default;
    // Maps at least `bytes` (zeroed); Data() is null when the system has no memory left.
    // kAtOnce is for a table read all over before it is written: a page first read is the
    // system's shared zero page, and writing it later costs a second fault and a flush on
    // every processor the program runs on.
    explicit MappedMemory(size_t bytes, PagesMade made = PagesMade::kWhenTouched);
    ~MappedMemory();
    MappedMemory(MappedMemory&& other) noexcept;
    MappedMemory& operator=(MappedMemory&& other) noexcept;
    MappedMemory(const MappedMemory&) = delete;
    MappedMemory& operator=(const MappedMemory&) = delete;

    void* Data() const { return data_; }
    size_t Size() const { return size_; }

    // Makes the pages of the first `bytes` before they are first written, a megabyte (or a
    // huge page) ahead at a time, for a table filled from its start: one call instead of a fault
    // per page, which on a virtual machine is a trip to the host each.
    void MakeUpTo(size_t bytes) {
        if (bytes > made_) MakeAhead(bytes);
    }

    // Makes the pages of bytes [from, to) at once, for a region about to be written
    // through; threads may make parts apart at the same time.
    void MakeRange(size_t from, size_t to) const;

  private:
    void Release();
    void MakeAhead(size_t bytes);
    bool Populate(size_t from, size_t to) const;

    void* data_ = nullptr;
    size_t size_ = 0;
    size_t made_ = 0;      // the pages below are made (all of an allocated region's are)
    bool mapped_ = false;  // mapped by this object rather than allocated
    bool huge_ = false;    // in huge pages
};

// A list of plain values filled from its start, for what a large file's reading notes:
// reserved generously up front (the untouched tail costs nothing), so that it is seldom
// moved, and its pages made ahead as it fills.
template <typename T>
class MappedArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    explicit MappedArray(size_t reserve = 0) {
        if (reserve) Move(reserve);
    }

    void push_back(const T& value) {
        if (size_ == capacity_) Move(capacity_ ? capacity_ * 2 : 64);
        memory_.MakeUpTo((size_ + 1) * sizeof(T));
        Data()[size_++] = value;
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](size_t i) { return Data()[i]; }
    const T& operator[](size_t i) const { return Data()[i]; }
    T& back() { return Data()[size_ - 1]; }
    const T& back() const { return Data()[size_ - 1]; }

  private:
    T* Data() const { return static_cast<T*>(memory_.Data()); }
    void Move(size_t capacity) {
        MappedMemory bigger(capacity * sizeof(T));
        if (!bigger.Data()) throw std::bad_alloc();
        bigger.MakeUpTo(size_ * sizeof(T));
        if (size_) std::memcpy(bigger.Data(), memory_.Data(), size_ * sizeof(T));
        memory_ = std::move(bigger);
        capacity_ = capacity;
    }

    MappedMemory memory_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace hivewise
