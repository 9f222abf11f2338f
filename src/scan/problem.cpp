#include "scan/problem.h"

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace hivewise {

// Five short texts and the record's numbers fit in 40 bytes on a 64-bit build.
static_assert(sizeof(void*) != 8 || sizeof(Problem) <= 40);

namespace {

uint32_t CheckedSize(size_t size) {
    if (size > std::numeric_limits<uint32_t>::max())
        throw std::length_error("the texts of a finding are too long");
    return static_cast<uint32_t>(size);
}

}  // namespace

Problem::Problem(int32_t sectionId, const ProblemTexts& texts) : sectionId(sectionId) {
    const std::string_view parts[kFields] = {texts.itemText, texts.location, texts.valueName,
                                             texts.valueData, texts.description};
    size_t total = 0;
    for (size_t field = 0; field < kFields; ++field) {
        total += parts[field].size();
        ends_[field] = CheckedSize(total);
    }
    if (total == 0) return;
    block_ = std::make_unique_for_overwrite<char[]>(total);
    char* at = block_.get();
    for (std::string_view part : parts) {
        if (part.empty()) continue;
        std::memcpy(at, part.data(), part.size());
        at += part.size();
    }
}

Problem::Problem(const Problem& other)
    : sectionId(other.sectionId),
      isChecked(other.isChecked),
      sequence(other.sequence),
      ends_(other.ends_) {
    if (!other.block_ || Size() == 0) {
        ends_ = {};
        return;
    }
    block_ = std::make_unique_for_overwrite<char[]>(Size());
    std::memcpy(block_.get(), other.block_.get(), Size());
}

Problem::Problem(Problem&& other) noexcept
    : sectionId(other.sectionId),
      isChecked(other.isChecked),
      sequence(other.sequence),
      ends_(std::exchange(other.ends_, {})),
      block_(std::move(other.block_)) {}

Problem& Problem::operator=(const Problem& other) {
    if (this != &other) *this = Problem(other);
    return *this;
}

Problem& Problem::operator=(Problem&& other) noexcept {
    if (this == &other) return *this;
    sectionId = other.sectionId;
    isChecked = other.isChecked;
    sequence = other.sequence;
    ends_ = std::exchange(other.ends_, {});
    block_ = std::move(other.block_);
    return *this;
}

std::string_view Problem::Text(size_t field) const {
    if (!block_) return {};
    const uint32_t begin = field == 0 ? 0 : ends_[field - 1];
    return {block_.get() + begin, ends_[field] - begin};
}

void Problem::SetText(size_t field, std::string_view text) {
    const size_t size = Size();
    const std::less<const char*> before;
    if (block_ && !text.empty() && !before(text.data(), block_.get()) &&
        before(text.data(), block_.get() + size)) {
        // A piece of this record's own texts: copied out before the block changes.
        const std::string copy(text);
        SetText(field, copy);
        return;
    }
    const size_t begin = field == 0 ? 0 : ends_[field - 1];
    const size_t end = ends_[field];
    const size_t tail = size - end;
    const size_t total = size - (end - begin) + text.size();
    CheckedSize(total);  // throws before anything changes
    if (text.size() <= end - begin) {
        // Never longer: rewritten within the block, the later texts moved down.
        if (!text.empty()) std::memcpy(block_.get() + begin, text.data(), text.size());
        if (tail != 0 && text.size() != end - begin)
            std::memmove(block_.get() + begin + text.size(), block_.get() + end, tail);
    } else {
        auto grown = std::make_unique_for_overwrite<char[]>(total);
        if (begin != 0) std::memcpy(grown.get(), block_.get(), begin);
        std::memcpy(grown.get() + begin, text.data(), text.size());
        if (tail != 0) std::memcpy(grown.get() + begin + text.size(), block_.get() + end, tail);
        block_ = std::move(grown);
    }
    for (size_t later = field; later < kFields; ++later)
        ends_[later] = static_cast<uint32_t>(ends_[later] - (end - begin) + text.size());
}

}  // namespace hivewise
