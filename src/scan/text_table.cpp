#include "scan/text_table.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace hivewise {
namespace {

constexpr size_t kFirstSlots = 1024;
constexpr size_t kBlockBytes = size_t{1} << 20;

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
    if (slots_.empty()) return nullptr;
    Slot* slot = Locate(text, std::hash<std::string_view>{}(text));
    return slot->entry ? reinterpret_cast<uint8_t*>(slot->entry) : nullptr;
}

uint8_t* TextTable::FindOrAdd(std::string_view text, bool* added) {
    if (added) *added = false;
    if (slots_.empty()) Grow();
    const size_t hash = std::hash<std::string_view>{}(text);
    Slot* slot = Locate(text, hash);
    if (slot->entry) return reinterpret_cast<uint8_t*>(slot->entry);
    if (size_ >= limit_ || text.size() >= UINT32_MAX) return nullptr;
    // At most half full, so that a probe ends soon.
    if ((size_ + 1) * 2 > slots_.size()) {
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
        blockSize_ = std::max(kBlockBytes, bytes);
        // Not zeroed: every byte handed out is written first.
        blocks_.push_back(std::unique_ptr<char[]>(new char[blockSize_]));
        blockUsed_ = 0;
    }
    char* at = blocks_.back().get() + blockUsed_;
    at[0] = 0;
    if (!text.empty()) std::memcpy(at + 1, text.data(), text.size());
    blockUsed_ += bytes;
    return at;
}

void TextTable::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? kFirstSlots : old.size() * 2, Slot{});
    mask_ = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (!slot.entry) continue;
        size_t at = slot.hash & mask_;
        while (slots_[at].entry)
            at = (at + 1) & mask_;
        slots_[at] = slot;
    }
}

}  // namespace hivewise
