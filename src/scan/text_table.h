#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/registry/mapped_memory.h"

// A set of texts, each with one byte of its own, kept in a few large blocks: for the
// hundreds of thousands of paths and finding identities of a scan, where a hash node and
// a string per entry would cost more than the texts themselves.
namespace hivewise {

class TextTable {
  public:
    // At most `limit` texts are kept, so that a registry of countless distinct texts
    // cannot fill the memory.
    explicit TextTable(size_t limit);
    TextTable(const TextTable&) = delete;
    TextTable& operator=(const TextTable&) = delete;

    // The byte of `text`, or null when the table does not hold it.
    uint8_t* Find(std::string_view text);
    // The byte of `text`, added as 0 when the table does not hold it yet (`added` says
    // so); null when the table is full and does not hold it. The pointer is good until
    // the next call that adds a text.
    uint8_t* FindOrAdd(std::string_view text, bool* added = nullptr);
    size_t Size() const { return size_; }

  private:
    // An entry is the text's byte, its length (one byte, or 0xFF and four more) and the
    // text. A slot names the block and the place in it of its entry; 0 is a free slot.
    struct Slot {
        uint32_t at = 0;    // (block + 1) << kPlaceBits | place
        uint32_t hash = 0;  // the low half of the text's hash
    };
    static constexpr unsigned kPlaceBits = 21;  // a place in a block of at most 2 MiB
    char* EntryAt(uint32_t at) const {
        return blockData_[(at >> kPlaceBits) - 1] + (at & ((uint32_t{1} << kPlaceBits) - 1));
    }
    static std::string_view TextOf(const char* entry);
    Slot* Locate(std::string_view text, size_t hash);
    // The slot value of the new entry, or 0 when no block may be added.
    uint32_t Store(std::string_view text);
    void Grow();

    // Large tables in memory mapped for them: zeroed, and handed back whole.
    MappedMemory slotMemory_;
    Slot* slots_ = nullptr;
    size_t capacity_ = 0;
    size_t mask_ = 0;
    size_t size_ = 0;
    size_t limit_;
    // The entries, back to back in blocks that never move.
    std::vector<MappedMemory> blocks_;
    std::vector<char*> blockData_;
    size_t blockUsed_ = 0;
    size_t blockSize_ = 0;
};

}  // namespace hivewise
