#include "platform/files/name_index.h"

#include <limits>
#include <stdexcept>

namespace hivewise::path_detail {

void NameIndex::Allocate(size_t count) {
    if (count >= std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("folder listing too large to index");
    }
    size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    // Slot values run up to the count.
    width_ = count <= std::numeric_limits<uint8_t>::max()    ? 1
             : count <= std::numeric_limits<uint16_t>::max() ? 2
                                                             : 4;
    slots_ = std::make_unique<uint8_t[]>(capacity * width_);  // zeroed: every slot free
    mask_ = capacity - 1;
}

void NameIndex::Hold(size_t slot, size_t value) {
    switch (width_) {
        case 1:
            slots_[slot] = static_cast<uint8_t>(value);
            break;
        case 2: {
            auto held = static_cast<uint16_t>(value);
            std::memcpy(&slots_[2 * slot], &held, sizeof held);
            break;
        }
        default: {
            auto held = static_cast<uint32_t>(value);
            std::memcpy(&slots_[4 * slot], &held, sizeof held);
            break;
        }
    }
}

}  // namespace hivewise::path_detail
