#include "platform/registry/key_handle_table.h"

#include <new>

namespace hivewise {
namespace {

// Handles start above the small numbers and are multiples of four, as Windows' are.
constexpr RegHandle kFirstHandle = 0x1000;
// The predefined keys' numbers (kHkeyClassesRoot and after) are never given.
constexpr RegHandle kPredefinedFrom = 0x80000000;
constexpr RegHandle kPredefinedTo = 0x800000FF;

}  // namespace

KeyHandleTable::KeyHandleTable() = default;

KeyHandleTable::~KeyHandleTable() {
    for (auto& chunk : chunks_)
        delete chunk.load(std::memory_order_relaxed);
}

RegHandle KeyHandleTable::HandleOf(uint64_t serial, size_t slot) {
    return kFirstHandle + 4 * (serial << kSlotBits | slot);
}

RegHandle KeyHandleTable::Add(RegKey* key) {
    std::lock_guard lock(mutex_);
    size_t slot;
    if (!free_.empty()) {
        slot = free_.back();
        free_.pop_back();
    } else {
        if (slotsMade_ == kChunks * kChunkSlots) throw std::bad_alloc();
        slot = slotsMade_++;
        std::atomic<Chunk*>& chunk = chunks_[slot / kChunkSlots];
        if (!chunk.load(std::memory_order_relaxed))
            chunk.store(new Chunk, std::memory_order_release);
    }
    RegHandle handle;
    do {
        handle = HandleOf(++serial_, slot);
    } while (handle >= kPredefinedFrom && handle <= kPredefinedTo);
    Slot& place =
        chunks_[slot / kChunkSlots].load(std::memory_order_relaxed)->entries[slot % kChunkSlots];
    // Whatever happened to the slot before is seen by a reader that sees the new key.
    std::atomic_thread_fence(std::memory_order_release);
    place.key.store(key, std::memory_order_relaxed);
    place.handle.store(handle, std::memory_order_release);
    ++open_;
    return handle;
}

size_t KeyHandleTable::SlotNumber(RegHandle handle) {
    return ((handle - kFirstHandle) / 4) & ((size_t{1} << kSlotBits) - 1);
}

KeyHandleTable::Slot* KeyHandleTable::SlotOf(RegHandle handle) const {
    if (handle < kFirstHandle || (handle - kFirstHandle) % 4 != 0) return nullptr;
    const size_t slot = SlotNumber(handle);
    Chunk* chunk = chunks_[slot / kChunkSlots].load(std::memory_order_acquire);
    return chunk ? &chunk->entries[slot % kChunkSlots] : nullptr;
}

RegKey* KeyHandleTable::Get(RegHandle handle) const {
    const Slot* slot = SlotOf(handle);
    if (!slot || slot->handle.load(std::memory_order_acquire) != handle) return nullptr;
    RegKey* key = slot->key.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    return slot->handle.load(std::memory_order_relaxed) == handle ? key : nullptr;
}

bool KeyHandleTable::Remove(RegHandle handle) {
    std::lock_guard lock(mutex_);
    Slot* slot = SlotOf(handle);
    if (!slot || slot->handle.load(std::memory_order_relaxed) != handle) return false;
    slot->handle.store(0, std::memory_order_release);
    free_.push_back(static_cast<uint32_t>(SlotNumber(handle)));
    --open_;
    return true;
}

size_t KeyHandleTable::OpenCount() const {
    std::lock_guard lock(mutex_);
    return open_;
}

}  // namespace hivewise
