#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/registry/registry_store.h"

// The prefix's registry text format ("WINE REGISTRY Version 2"), read into a key tree
// and written back in the same form: untouched sections byte for byte, changed ones
// the way the prefix's own server writes them.
namespace hivewise {

struct HiveParseError {
    int line = 0;
    std::string message;
};

struct ParsedHive {
    std::shared_ptr<RegKey> base;  // the key the file's paths are relative to
    std::string header;            // everything before the first section
    std::string trailer;           // blank lines after the last section
    std::u16string relativeTo;     // the path of the ";; All keys relative to" line
};

// Parses a whole file. On failure nothing is returned and `error` says where.
// The keys' raw sections point into `content`, which the caller keeps.
std::unique_ptr<ParsedHive> ParseHive(std::string_view content, HiveParseError* error);

// Writes the tree below `base` in the file format. `original` is the text the raw
// sections point into (empty when the tree was not loaded from a file).
std::string WriteHive(const RegKey& base, std::string_view header, std::string_view trailer,
                      std::string_view original);

// The header a new file gets: the relative path and the architecture line.
std::string NewHiveHeader(std::u16string_view relativeTo, std::string_view arch);

// One value as the format writes it, with its line end.
void AppendValueText(std::string& out, const RegValue& value);
// A name or string with the format's escapes (`quote` escaped as well).
void AppendEscaped(std::string& out, std::u16string_view text, char quoteA, char quoteB);

}  // namespace hivewise
