#include "scan/scan_status.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace hivewise {

namespace {

// The bytes of `text` from `at` on, at most eight, as a word with the first byte lowest;
// bytes past the text are 0.
uint64_t WordAt(std::string_view text, size_t at) {
    if (at >= text.size()) return 0;
    const size_t left = text.size() - at;
    uint64_t word = 0;
    if (left >= sizeof word) {
        std::memcpy(&word, text.data() + at, sizeof word);
        return word;
    }
    for (size_t i = 0; i < left; ++i)
        word |= uint64_t{static_cast<unsigned char>(text[at + i])} << (8 * i);
    return word;
}

// The word of the line `key` + `value` from byte `at` on. Words are made from the texts
// in registers, not copied to memory and read back as words: a word read from bytes just
// copied there waits for the copy to land, and the walk sets a line for every value.
uint64_t LineWordAt(std::string_view key, std::string_view value, size_t at) {
    if (at >= key.size()) return WordAt(value, at - key.size());
    const size_t fromKey = key.size() - at;
    if (fromKey >= sizeof(uint64_t)) return WordAt(key, at);
    return WordAt(key, at) | WordAt(value, 0) << (8 * fromKey);
}

}  // namespace

void ScanStatus::Write(std::string_view key, std::string_view value, bool hasItem) {
    if (!hasItem) value = {};
    const size_t total = key.size() + value.size();
    const bool fits = total <= kWords * sizeof(uint64_t);
    if (!fits) {
        std::lock_guard lock(longMutex_);
        long_.key.assign(key);
        long_.item.assign(value);
        long_.hasItem = hasItem;
    }
    const size_t used = fits ? (total + sizeof(uint64_t) - 1) / sizeof(uint64_t) : 0;
    // Odd while the words change; the fence keeps the count ahead of them.
    const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    keyLength_.store(static_cast<uint32_t>(key.size()), std::memory_order_relaxed);
    itemLength_.store(!fits     ? kLong
                      : hasItem ? static_cast<uint32_t>(value.size())
                                : kNoItem,
                      std::memory_order_relaxed);
    for (size_t i = 0; i < used; ++i)
        words_[i].store(LineWordAt(key, value, i * sizeof(uint64_t)), std::memory_order_relaxed);
    sequence_.store(sequence + 2, std::memory_order_release);
}

std::string ScanStatus::StatusLine() const {
    constexpr size_t kRoom = kWords * sizeof(uint64_t);
    char bytes[kRoom];
    for (;;) {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        const uint32_t keyLength = keyLength_.load(std::memory_order_relaxed);
        const uint32_t itemLength = itemLength_.load(std::memory_order_relaxed);
        if (itemLength == kLong) {
            // A long line is kept before the count moves: unless the count moved since,
            // what the lock guards is this line (or the one being written after it).
            std::string line;
            {
                std::lock_guard lock(longMutex_);
                line = long_.hasItem ? long_.key + "\\" + long_.item : long_.key;
            }
            if (sequence_.load(std::memory_order_acquire) != before) continue;
            return line;
        }
        // Lengths read while the writer was at work are checked below; until then they
        // only must not lead out of the room.
        const size_t keyBytes = std::min<size_t>(keyLength, kRoom);
        const size_t itemBytes = itemLength == kNoItem ? 0 : std::min<size_t>(itemLength, kRoom);
        const size_t total = std::min(keyBytes + itemBytes, kRoom);
        for (size_t i = 0; i * sizeof(uint64_t) < total; ++i) {
            const uint64_t word = words_[i].load(std::memory_order_relaxed);
            std::memcpy(bytes + i * sizeof word, &word,
                        std::min(sizeof word, total - i * sizeof word));
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) != before) continue;
        std::string line(bytes, keyBytes);
        if (itemLength != kNoItem) line.append("\\").append(bytes + keyBytes, itemBytes);
        return line;
    }
}

}  // namespace hivewise
