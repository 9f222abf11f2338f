#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

// A hash index over the entries of a folder listing.
namespace hivewise::path_detail {

// Open addressing by a key's hash: slot values are entry index + 1, 0 is free. Of equal
// keys the first entry stays, as the folder's sorted order decides. Slots are as narrow as
// the entry count allows: most folders hold a few entries, and a listing has two to four
// indexes.
class NameIndex {
  public:
    // `hashAt(i)`: the hash of entry i's key; `sameKey(i, j)`: whether two keys are equal.
    template <typename HashAt, typename SameKey>
    void Build(size_t count, HashAt hashAt, SameKey sameKey) {
        Allocate(count);
        for (size_t i = 0; i < count; ++i) {
            for (size_t slot = hashAt(i) & mask_;; slot = (slot + 1) & mask_) {
                size_t held = Held(slot);
                if (held == 0) {
                    Hold(slot, i + 1);
                    break;
                }
                if (sameKey(held - 1, i)) break;
            }
        }
    }
    // The entry whose key has `hash` and for which `matches(k)` holds.
    template <typename Matches>
    std::optional<size_t> Find(size_t hash, Matches matches) const {
        if (!slots_) return std::nullopt;
        for (size_t slot = hash & mask_;; slot = (slot + 1) & mask_) {
            size_t held = Held(slot);
            if (held == 0) return std::nullopt;
            if (matches(held - 1)) return held - 1;
        }
    }

  private:
    void Allocate(size_t count);
    size_t Held(size_t slot) const {
        switch (width_) {
            case 1:
                return slots_[slot];
            case 2: {
                uint16_t held;
                std::memcpy(&held, &slots_[2 * slot], sizeof held);
                return held;
            }
            default: {
                uint32_t held;
                std::memcpy(&held, &slots_[4 * slot], sizeof held);
                return held;
            }
        }
    }
    void Hold(size_t slot, size_t value);

    std::unique_ptr<uint8_t[]> slots_;
    size_t mask_ = 0;
    uint8_t width_ = 0;  // bytes per slot
};

}  // namespace hivewise::path_detail
