#pragma once

#include <string_view>

// Windows file-name wildcards ('*' and '?'), matched without regard to case.
namespace hivewise {

// True when the pattern holds a wildcard character.
bool HasWildcards(std::string_view pattern);

// Matches an ANSI file name against a find pattern the way FindFirstFile does:
// '*' any run of characters, '?' one character, and a pattern ending in ".*" also
// matches names without that dot ("*.*" matches every name, "readme.*" "readme").
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace hivewise
