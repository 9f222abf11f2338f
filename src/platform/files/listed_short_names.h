#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/listed_names.h"
#include "platform/files/name_index.h"

// The short names of a folder listing's entries, made together when a listing first needs
// them: most listings never do, as most look-ups are of long names.
namespace hivewise::path_detail {

// Each entry's upper-case 8.3 name and Wine's hashed short name back to back in one buffer.
class ListedShortNames {
  public:
    // `names` in the folder's sorted order, which decides the generated names' numbers.
    explicit ListedShortNames(const ListedNames& names);

    std::string_view Short(size_t k) const {
        const Slot& s = slots_[k];
        return {text_.data() + s.at, s.shortSize};
    }
    // Empty for a name Wine keeps as its own short name.
    std::string_view WineShort(size_t k) const {
        const Slot& s = slots_[k];
        return {text_.data() + s.at + s.shortSize, s.wineSize};
    }
    // The entry an upper-case name is the short name of, else the first one it is Wine's
    // hashed short name of.
    std::optional<size_t> Find(std::string_view upperName) const;

  private:
    // Short names are a few characters each.
    struct Slot {
        uint32_t at;
        uint8_t shortSize;
        uint8_t wineSize;
    };
    std::string text_;
    std::vector<Slot> slots_;
    NameIndex byShort_;
    NameIndex byWineShort_;
};

}  // namespace hivewise::path_detail
