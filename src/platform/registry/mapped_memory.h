#pragma once

#include <cstddef>

// Memory for the registry's large tables (a file's text, blocks of keys), zeroed and ready
// for use. Large regions are mapped apart, so that a generous reservation costs only the
// pages touched and is handed back whole; small ones are ordinary zeroed memory.
//
// Only a region written whole as soon as it is made is asked for in huge pages. On a
// virtual machine that hands free memory back to its host, a fresh huge page is memory the
// host must supply anew and clear: reservations in huge pages, of which a scan touches a
// part at a time, made a scan started after a pause a quarter slower. A file's text is
// written whole at once, and there a huge page saves 511 faults of the 512 it replaces,
// paused or not.
namespace hivewise {

// When a region's pages are made.
enum class PagesMade {
    kWhenTouched,  // by their first write, or ahead by MakeUpTo / MakeRange
    kAtOnce,       // all of them by the constructor
    // Written whole right after it is made (through MakeRange): huge pages, aligned.
    kWrittenWhole,
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

    // Makes the pages of the first `bytes` before they are first written, a megabyte
    // ahead at a time, for a table filled from its start: one call instead of a fault per
    // page, which on a virtual machine is a trip to the host each.
    void MakeUpTo(size_t bytes) {
        if (bytes > made_) MakeAhead(bytes);
    }

    // Makes the pages of bytes [from, to) at once, for a region about to be written
    // through; threads may make parts apart at the same time.
    void MakeRange(size_t from, size_t to) const;

  private:
    void Release();
    void MakeAhead(size_t bytes);

    void* data_ = nullptr;
    size_t size_ = 0;
    size_t made_ = 0;      // the pages below are made (all of an allocated region's are)
    bool mapped_ = false;  // mapped by this object rather than allocated
};

}  // namespace hivewise
