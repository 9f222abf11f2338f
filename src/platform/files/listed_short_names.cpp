#include "platform/files/listed_short_names.h"

#include <functional>
#include <limits>
#include <stdexcept>

#include "platform/files/short_names.h"
#include "platform/machine/text.h"

namespace hivewise::path_detail {
namespace {

size_t HashOf(std::string_view name) {
    return std::hash<std::string_view>{}(name);
}

}  // namespace

ListedShortNames::ListedShortNames(const ListedNames& names) {
    const size_t count = names.Size();
    std::vector<std::string> ansi;
    ansi.reserve(count);
    for (size_t k = 0; k < count; ++k)
        ansi.emplace_back(names.Ansi(k));
    std::vector<std::string> made = MakeShortNames(ansi);
    ansi = {};
    slots_.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        std::string wine = WineShortName(Utf8ToUtf16(names.Host(k)));
        if (text_.size() + made[k].size() + wine.size() > std::numeric_limits<uint32_t>::max()) {
            throw std::length_error("folder listing's short names too long");
        }
        slots_.push_back({static_cast<uint32_t>(text_.size()), static_cast<uint8_t>(made[k].size()),
                          static_cast<uint8_t>(wine.size())});
        text_ += made[k];
        text_ += wine;
    }
    text_.shrink_to_fit();
    byShort_.Build(
        count, [this](size_t k) { return HashOf(Short(k)); },
        [this](size_t a, size_t b) { return Short(a) == Short(b); });
    byWineShort_.Build(
        count, [this](size_t k) { return HashOf(WineShort(k)); },
        [this](size_t a, size_t b) { return WineShort(a) == WineShort(b); });
}

std::optional<size_t> ListedShortNames::Find(std::string_view upperName) const {
    const size_t hash = HashOf(upperName);
    auto k = byShort_.Find(hash, [&](size_t i) { return Short(i) == upperName; });
    // Every hashed name has a '~'.
    if (!k && upperName.find('~') != std::string_view::npos) {
        k = byWineShort_.Find(hash, [&](size_t i) { return WineShort(i) == upperName; });
    }
    return k;
}

}  // namespace hivewise::path_detail
