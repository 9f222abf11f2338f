#pragma once

#include <cstddef>
#include <string_view>

namespace hivewise {

// Where the value line starting at `at` ends (just past its '\n', or at the text's end),
// when it has one of the forms a prefix's files are made of and the full check would pass
// it: a quoted or default name, then a string, a dword, or hex bytes in pairs (continued
// over lines). `lines` is set to the number of lines it spans. npos for any other line,
// which the full check then reads.
// The load checks every value line of a large registry, most of them of these forms, and
// this finds a line's end and checks it in one pass.
size_t PlainValueLineEnd(std::string_view text, size_t at, int* lines);

}  // namespace hivewise
