#include "scan/text_table.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace hivewise {
namespace {

constexpr size_t kFirstSlots = 1024;
// Blocks grow from small (a small scan keeps little) to 2 MiB.
constexpr size_t kFirstBlockBytes = size_t{64} << 10;
constexpr size_t kBlockBytes = size_t{2} << 20;
// A length from this on is written in four bytes after this one.
constexpr uint32_t kLongLength = 0xFF;

}  // namespace

TextTable::TextTable(size_t limit) : limit_(limit) {}

std::string_view TextTable::TextOf(const char* entry) {
    uint32_t length = static_cast<uint8_t>(entry[1]);
    if (length != kLongLength) return {entry + 2, length};
    std::memcpy(&length, entry + 2, sizeof length);
    return {entry + 2 + sizeof length, length};
}

TextTable::Slot* TextTable::Locate(std::string_view text, size_t hash) {
    const auto tag = static_cast<uint32_t>(hash);
    for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
        Slot& slot = slots_[at];
        if (!slot.at) return &slot;
        if (slot.hash == tag && TextOf(EntryAt(slot.at)) == text) return &slot;
    }
}

uint8_t* TextTable::Find(std::string_view text) {
    if (!slots_) return nullptr;
    Slot* slot = Locate(text, std::hash<std::string_view>{}(text));
    return slot->at ? reinterpret_cast<uint8_t*>(EntryAt(slot->at)) : nullptr;
}

uint8_t* TextTable::FindOrAdd(std::string_view text, bool* added) {
    if (added) *added = false;
    if (!slots_) Grow();
    const size_t hash = std::hash<std::string_view>{}(text);
    Slot* slot = Locate(text, hash);
    if (slot->at) return reinterpret_cast<uint8_t*>(EntryAt(slot->at));
    if (size_ >= limit_ || text.size() >= UINT32_MAX) return nullptr;
    // At most half full, so that a probe ends soon.
    if ((size_ + 1) * 2 > capacity_) {
        Grow();
        slot = Locate(text, hash);
    }
    const uint32_t at = Store(text);
    if (!at) return nullptr;
    slot->hash = static_cast<uint32_t>(hash);
    slot->at = at;
    ++size_;
    if (added) *added = true;
    return reinterpret_cast<uint8_t*>(EntryAt(at));
}

uint32_t TextTable::Store(std::string_view text) {
    const bool longText = text.size() >= kLongLength;
    const size_t bytes = 2 + (longText ? sizeof(uint32_t) : 0) + text.size();
    if (blocks_.empty() || blockSize_ - blockUsed_ < bytes) {
        // A place must fit its bits, and a block its number.
        if (blocks_.size() + 1 >= (size_t{1} << (32 - kPlaceBits))) return 0;
        const size_t next =
            blocks_.empty() ? kFirstBlockBytes : std::min(kBlockBytes, blockSize_ * 2);
        blockSize_ = std::max(next, bytes);
        MappedMemory block(blockSize_);
        if (!block.Data()) throw std::bad_alloc();
        blockData_.push_back(static_cast<char*>(block.Data()));
        blocks_.push_back(std::move(block));
        blockUsed_ = 0;
    }
    blocks_.back().MakeUpTo(blockUsed_ + bytes);
    char* entry = blockData_.back() + blockUsed_;
    entry[0] = 0;
    char* at = entry + 2;
    if (longText) {
        entry[1] = static_cast<char>(kLongLength);
        const auto length = static_cast<uint32_t>(text.size());
        std::memcpy(at, &length, sizeof length);
        at += sizeof length;
    } else {
        entry[1] = static_cast<char>(text.size());
    }
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    const auto place = static_cast<uint32_t>(blockUsed_);
    blockUsed_ += bytes;
    return static_cast<uint32_t>(blocks_.size()) << kPlaceBits | place;
}

void TextTable::Grow() {
    const size_t capacity = capacity_ == 0 ? kFirstSlots : capacity_ * 2;
    // Mapped memory comes zeroed: every slot starts free. Look-ups read slots all over
    // the table before any is written, so its pages are made at once.
    MappedMemory memory(capacity * sizeof(Slot), PagesMade::kAtOnce);
    if (!memory.Data()) throw std::bad_alloc();
    auto* slots = static_cast<Slot*>(memory.Data());
    const size_t mask = capacity - 1;
    for (size_t i = 0; i < capacity_; ++i) {
        const Slot& slot = slots_[i];
        if (!slot.at) continue;
        size_t at = slot.hash & mask;
        while (slots[at].at)
            at = (at + 1) & mask;
        slots[at] = slot;
    }
    slotMemory_ = std::move(memory);
    slots_ = slots;
    capacity_ = capacity;
    mask_ = mask;
}
}  // namespace hivewise
