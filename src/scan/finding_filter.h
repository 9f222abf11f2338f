#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/wine_own_entries.h"
#include "scan/problem.h"
#include "scan/text_digest.h"
#include "scan/text_table.h"

// Which findings of one scan reach the user. Not Wine's own entries, which Wine writes
// again at its next update; not a shell folder's definition; and each registry value,
// key or file once: the first section to report it keeps it, and a later report of the
// same value, or of a value inside a key an earlier section reported whole, is a repeat.
namespace hivewise {

class Machine;

// Longer paths of whole keys are always looked up.
constexpr size_t kMaxKeyPathLength = 32768;

class FindingFilter {
  public:
    explicit FindingFilter(Machine& machine);

    // True when the finding is to be reported; it is then remembered as reported.
    bool Admit(const Problem& problem);

    // A location's key as one spelling: lower case, the root written "hklm", "hkcu" or
    // "hku\<name>", the classes root as the machine's Software\Classes and the user's own
    // branch of HKEY_USERS as "hkcu".
    std::string CanonicalKey(const std::string& location) const;
    void CanonicalKeyInto(std::string_view location, std::string* key) const;

  private:
    // Whether another section than `sectionId` reported `key` or a key above it whole.
    bool InsideWholeKeyOfOtherSection(const std::string& key, int sectionId);

    // Remembers an identity; false when it was reported before. `byte` is set to the
    // identity's byte, or null when the table cannot hold it.
    bool FirstReport(std::string_view identity, uint8_t** byte = nullptr);

    WineOwnEntries wine_;
    std::string userSid_;  // lower case
    // Digests of the identities of what was reported (each finding is kept whole
    // elsewhere; its identity is not kept twice). A key reported whole keeps in its
    // identity's byte 1 + the section that reported it.
    TextDigester digest_;
    TextTable reported_;
    // Reused from finding to finding.
    std::string key_;
    std::string valueName_;
    std::string valueData_;
    std::string identity_;
    std::string outerIdentity_;
    // A finding looks up each of its own key's ancestors among the keys reported whole
    // rather than comparing with every such key; only at the lengths of those keys, below
    // the registry's longest key path.
    bool anyWholeKey_ = false;
    std::vector<bool> wholeKeyLengths_ = std::vector<bool>(kMaxKeyPathLength + 1);
};

}  // namespace hivewise
