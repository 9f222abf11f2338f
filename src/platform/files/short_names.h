#pragma once

#include <string>
#include <string_view>
#include <vector>

// 8.3 short names of a folder's entries, generated the way Windows names them.
namespace hivewise {

// Upper case of ANSI (Windows-1252) text.
std::string AnsiUpper(std::string_view text);

// True when the ANSI name, upper-cased, is a legal 8.3 name by itself (1 to 8
// characters, an optional dot and 1 to 3 more, no spaces and no forbidden characters).
bool IsValid83(std::string_view name);

// The short names of a folder's entries. `names` are the ANSI long names in the
// folder's sorted order; the result has one upper-case short name for each. A name
// that is already a legal 8.3 name keeps its upper-case form; every other name gets
// BASE~N.EXT with the smallest N that no entry of the folder uses yet, in list order.
std::vector<std::string> MakeShortNames(const std::vector<std::string>& names);

// The short name Wine gives a long name that is not a legal 8.3 name by Wine's rules:
// its first four characters, '~' padding and three characters of a hash of the whole
// name, then the first three characters of the extension ("Program Files" is
// "PROG~FBU"). Wine answers to this form whatever the folder holds besides, so a prefix's
// registry may hold it. Empty for a name Wine keeps as its own short name.
std::string WineShortName(std::u16string_view longName);

}  // namespace hivewise
