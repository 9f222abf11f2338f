#include "scan/scan_status.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace hivewise {

void ScanStatus::Write(std::string_view key, std::string_view value, bool hasItem) {
    const size_t total = key.size() + (hasItem ? value.size() : 0);
    const bool fits = total <= kWords * sizeof(uint64_t);
    if (!fits) {
        std::lock_guard lock(longMutex_);
        long_.key.assign(key);
        long_.item.assign(hasItem ? value : std::string_view());
        long_.hasItem = hasItem;
    }
    uint64_t words[kWords];
    size_t used = 0;
    if (fits) {
        used = (total + sizeof(uint64_t) - 1) / sizeof(uint64_t);
        if (used > 0) words[used - 1] = 0;  // the last word's bytes past the line
        char* bytes = reinterpret_cast<char*>(words);
        std::memcpy(bytes, key.data(), key.size());
        if (hasItem) std::memcpy(bytes + key.size(), value.data(), value.size());
    }
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
        words_[i].store(words[i], std::memory_order_relaxed);
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
