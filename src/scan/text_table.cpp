#include "scan/text_table.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace hivewise {
namespace {

constexpr size_t kFirstSlots = 1024;
// Blocks grow from small (a small scan keeps little) to a huge page.
constexpr size_t kFirstBlockBytes = size_t{64} << 10;
constexpr size_t kBlockBytes = size_t{2} << 20;

}  // namespace

TextTable::TextTable(size_t limit) : limit_(limit) {}

TextTable::Slot* TextTable::Locate(std::string_view text, size_t hash) {
    const auto tag = static_cast<uint32_t>(hash);
    for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
        Slot& slot = slots_[at];
        if (!slot.entry) return &slot;
        if (slot.hash == tag && slot.length == text.size() &&
            std::memcmp(slot.entry + 1, text.data(), text.size()) == 0) {
            return &slot;
        }
    }
}

uint8_t* TextTable::Find(std::string_view text) {
    if (!slots_) return nullptr;
    Slot* slot = Locate(text, std::hash<std::string_view>{}(text));
    return slot->entry ? reinterpret_cast<uint8_t*>(slot->entry) : nullptr;
}

uint8_t* TextTable::FindOrAdd(std::string_view text, bool* added) {
    if (added) *added = false;
    if (!slots_) Grow();
    const size_t hash = std::hash<std::string_view>{}(text);
    Slot* slot = Locate(text, hash);
    if (slot->entry) return reinterpret_cast<uint8_t*>(slot->entry);
    if (size_ >= limit_ || text.size() >= UINT32_MAX) return nullptr;
    // At most half full, so that a probe ends soon.
    if ((size_ + 1) * 2 > capacity_) {
        Grow();
        slot = Locate(text, hash);
    }
    slot->hash = static_cast<uint32_t>(hash);
    slot->entry = Store(text);
    slot->length = static_cast<uint32_t>(text.size());
    ++size_;
    if (added) *added = true;
    return reinterpret_cast<uint8_t*>(slot->entry);
}

char* TextTable::Store(std::string_view text) {
    const size_t bytes = 1 + text.size();
    if (blocks_.empty() || blockSize_ - blockUsed_ < bytes) {
        const size_t next =
            blocks_.empty() ? kFirstBlockBytes : std::min(kBlockBytes, blockSize_ * 2);
        blockSize_ = std::max(next, bytes);
        MappedMemory block(blockSize_);
        if (!block.Data()) throw std::bad_alloc();
        blocks_.push_back(std::move(block));
        blockUsed_ = 0;
    }
    char* at = static_cast<char*>(blocks_.back().Data()) + blockUsed_;
    at[0] = 0;
    if (!text.empty()) std::memcpy(at + 1, text.data(), text.size());
    blockUsed_ += bytes;
    return at;
}

void TextTable::Grow() {
    const size_t capacity = capacity_ == 0 ? kFirstSlots : capacity_ * 2;
    // Mapped memory comes zeroed: every slot starts free.
    MappedMemory memory(capacity * sizeof(Slot));
    if (!memory.Data()) throw std::bad_alloc();
    auto* slots = static_cast<Slot*>(memory.Data());
    const size_t mask = capacity - 1;
    for (size_t i = 0; i < capacity_; ++i) {
        const Slot& slot = slots_[i];
        if (!slot.entry) continue;
        size_t at = slot.hash & mask;
        while (slots[at].entry)
            at = (at + 1) & mask;
        slots[at] = slot;
    }
    slotMemory_ = std::move(memory);
    slots_ = slots;
    capacity_ = capacity;
    mask_ = mask;
}
}  // namespace hivewise
