#include "platform/files/wildcard.h"

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// Iterative glob with single-star backtracking: linear in practice, never recursive.
bool GlobNoCase(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || AnsiFoldChar(pattern[p]) == AnsiFoldChar(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace

bool HasWildcards(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (GlobNoCase(pattern, name)) return true;
    // "x.*" stands for "x" with any extension, the empty one included.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
        return GlobNoCase(pattern.substr(0, pattern.size() - 2), name);
    }
    return false;
}

}  // namespace hivewise
