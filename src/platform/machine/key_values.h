#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The key-value text of Steam's library and manifest files (libraryfolders.vdf,
// appmanifest_*.acf): quoted or bare keys, each followed by a quoted value or a braced
// block of further pairs, with // comments.
namespace hivewise {

struct KeyValue {
    std::string key;
    std::string value;               // a plain pair's text
    std::vector<KeyValue> children;  // a block's pairs, in file order
    bool isBlock = false;

    // The first pair of this block with the key, compared without regard to ASCII case.
    const KeyValue* Find(std::string_view wanted) const;
    // The text of such a pair; empty when it is missing or a block.
    std::string Text(std::string_view wanted) const;
};

// The whole text as one block holding its top-level pairs; nothing when it is malformed
// (an unclosed block or string, a key without a value, nesting beyond reason).
std::optional<KeyValue> ParseKeyValues(std::string_view text);

}  // namespace hivewise
