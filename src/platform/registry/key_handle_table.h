#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace hivewise {

class RegKey;
using RegHandle = uint64_t;

// Open keys of one machine. The store keeps deleted keys, so a handle outlives its key's
// place in the tree and then answers "key deleted". A handle is never given twice.
//
// A walk opens and closes a key for every key it visits and asks for its handle with
// every call: a handle names its slot, so that finding its key takes no lock and no
// look-up. Opening and closing take the table's lock.
class KeyHandleTable {
  public:
    KeyHandleTable();
    ~KeyHandleTable();
    KeyHandleTable(const KeyHandleTable&) = delete;
    KeyHandleTable& operator=(const KeyHandleTable&) = delete;

    // A new handle to `key`; throws std::bad_alloc when millions are open at once.
    RegHandle Add(RegKey* key);
    // The key of an open handle; null for any other number.
    RegKey* Get(RegHandle handle) const;
    bool Remove(RegHandle handle);
    size_t OpenCount() const;

  private:
    static constexpr unsigned kSlotBits = 24;  // open at once: 16M
    static constexpr size_t kChunkSlots = size_t{1} << 12;
    static constexpr size_t kChunks = (size_t{1} << kSlotBits) / kChunkSlots;

    // A slot's handle is 0 while it is free. Its key is written before its handle, and a
    // reader checks the handle again after reading the key, so that a slot closed and
    // given anew meanwhile is not taken for the old handle.
    struct Slot {
        std::atomic<RegHandle> handle{0};
        std::atomic<RegKey*> key{nullptr};
    };
    struct Chunk {
        std::array<Slot, kChunkSlots> entries;
    };

    static RegHandle HandleOf(uint64_t serial, size_t slot);
    // The slot a handle names, when its chunk was made; its handle is still to be checked.
    Slot* SlotOf(RegHandle handle) const;
    static size_t SlotNumber(RegHandle handle);

    std::array<std::atomic<Chunk*>, kChunks> chunks_{};  // made as slots are first used
    mutable std::mutex mutex_;                           // Add and Remove
    std::vector<uint32_t> free_;                         // slots closed, to give again
    size_t slotsMade_ = 0;
    uint64_t serial_ = 0;  // handles given so far
    size_t open_ = 0;
};

}  // namespace hivewise
