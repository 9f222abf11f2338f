#include "scan/problem.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
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

// The block's first byte says which texts it does not hold itself.
constexpr uint8_t kDataIsItemText = 1;     // the value data is the item text
constexpr uint8_t kSharedDescription = 2;  // the description is an index of kept ones
constexpr size_t kHeader = 1;
using DescriptionIndex = uint16_t;

// The descriptions of all findings, each kept once for the process: a scan's findings
// share a handful of texts. Readers on any thread find a kept text by its index without
// a lock; texts are only ever added.
class SharedDescriptions {
  public:
    static SharedDescriptions& Instance() {
        static SharedDescriptions* shared = new SharedDescriptions;  // outlives every finding
        return *shared;
    }

    // The index of `text`, kept now if need be; none when the table is full or the text
    // too long to be worth it.
    std::optional<DescriptionIndex> IndexOf(std::string_view text) {
        if (text.size() < sizeof(DescriptionIndex) || text.size() > kLongest) return std::nullopt;
        // A scanner reports run after run of findings with one description: the last one
        // a thread kept is known without the lock.
        thread_local const std::string* last = nullptr;
        thread_local DescriptionIndex lastIndex = 0;
        if (last && *last == text) return lastIndex;
        std::lock_guard<std::mutex> lock(mutex_);
        auto at = indexes_.find(text);
        if (at == indexes_.end()) {
            if (count_ == kCapacity) return std::nullopt;
            texts_[count_].store(new std::string(text), std::memory_order_release);
            const auto index = static_cast<DescriptionIndex>(count_++);
            at = indexes_.emplace(*texts_[index].load(std::memory_order_relaxed), index).first;
        }
        last = texts_[at->second].load(std::memory_order_relaxed);
        lastIndex = at->second;
        return lastIndex;
    }

    std::string_view At(DescriptionIndex index) const {
        return *texts_[index].load(std::memory_order_acquire);
    }

  private:
    static constexpr size_t kCapacity = 4096;
    static constexpr size_t kLongest = 1024;
    std::mutex mutex_;
    std::unordered_map<std::string_view, DescriptionIndex> indexes_;
    std::array<std::atomic<const std::string*>, kCapacity> texts_{};
    size_t count_ = 0;
};

}  // namespace

Problem::Problem(int32_t sectionId, const ProblemTexts& texts) : sectionId(sectionId) {
    uint8_t flags = 0;
    std::string_view data = texts.valueData;
    if (!data.empty() && data == texts.itemText) {
        flags |= kDataIsItemText;
        data = {};
    }
    DescriptionIndex index = 0;
    std::string_view description = texts.description;
    if (auto shared = SharedDescriptions::Instance().IndexOf(description)) {
        flags |= kSharedDescription;
        index = *shared;
        description = {reinterpret_cast<const char*>(&index), sizeof index};
    }
    const std::string_view parts[kFields] = {texts.itemText, texts.location, texts.valueName, data,
                                             description};
    size_t total = kHeader;
    for (size_t field = 0; field < kFields; ++field) {
        total += parts[field].size();
        ends_[field] = CheckedSize(total);
    }
    if (total == kHeader) {
        ends_ = {};
        return;
    }
    block_ = std::make_unique_for_overwrite<char[]>(total);
    block_[0] = static_cast<char>(flags);
    char* at = block_.get() + kHeader;
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
    const uint8_t flags = static_cast<uint8_t>(block_[0]);
    if (field == kValueData && (flags & kDataIsItemText)) field = kItemText;
    const uint32_t begin = field == 0 ? kHeader : ends_[field - 1];
    if (field == kDescription && (flags & kSharedDescription)) {
        DescriptionIndex index;
        std::memcpy(&index, block_.get() + begin, sizeof index);
        return SharedDescriptions::Instance().At(index);
    }
    return {block_.get() + begin, ends_[field] - begin};
}

void Problem::SetText(size_t field, std::string_view text) {
    if (field != kLocation) {
        // Item text, data and description may be held once for two: made anew.
        std::string_view parts[kFields] = {ItemText(), Location(), ValueName(), ValueData(),
                                           Description()};
        parts[field] = text;
        Problem made(sectionId, {parts[0], parts[1], parts[2], parts[3], parts[4]});
        ends_ = made.ends_;
        block_ = std::move(made.block_);
        return;
    }
    if (!block_) {
        block_ = std::make_unique_for_overwrite<char[]>(kHeader);
        block_[0] = 0;
        ends_.fill(kHeader);
    }
    const size_t size = Size();
    const std::less<const char*> before;
    if (!text.empty() && !before(text.data(), block_.get()) &&
        before(text.data(), block_.get() + size)) {
        // A piece of this record's own texts: copied out before the block changes.
        const std::string copy(text);
        SetText(field, copy);
        return;
    }
    const size_t begin = ends_[field - 1];
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
        std::memcpy(grown.get(), block_.get(), begin);
        std::memcpy(grown.get() + begin, text.data(), text.size());
        if (tail != 0) std::memcpy(grown.get() + begin + text.size(), block_.get() + end, tail);
        block_ = std::move(grown);
    }
    for (size_t later = field; later < kFields; ++later)
        ends_[later] = static_cast<uint32_t>(ends_[later] - (end - begin) + text.size());
}

}  // namespace hivewise
