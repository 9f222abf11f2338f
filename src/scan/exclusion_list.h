#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The two lists that keep findings out of the results: the built-in exclusion table
// and the user's ignore list, applied together by one substring test.
namespace hivewise {

constexpr size_t kExclusionCount = 38;

// Registry places and names that are harmless or belong to known software. Stored in
// mixed case; compared lower-cased.
extern const std::array<std::string_view, kExclusionCount> kExclusionList;

// The user's ignored keys, each with its long root name ("HKEY_LOCAL_MACHINE\...").
using IgnoreList = std::vector<std::string>;

// Whether a finding is kept out: true when an exclusion entry or an ignore entry occurs
// anywhere in `matchText` (location\valueName\valueData), without regard to case.
bool IsExcluded(std::string_view matchText, const IgnoreList& ignoreList);

}  // namespace hivewise
