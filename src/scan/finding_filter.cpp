#include "scan/finding_filter.h"

#include <limits>

#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"
#include "scan/scan_section.h"

namespace hivewise {
namespace {

// A whole key's identity is this and its canonical path.
constexpr std::string_view kWholeKeyIdentity = "key\n";
static_assert(kSectionCount < 255, "a section's number and 1 fit a byte");

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// Whether `key` is `outer` or lies below it.
bool Within(std::string_view key, std::string_view outer) {
    return StartsWith(key, outer) && (key.size() == outer.size() || key[outer.size()] == '\\');
}

}  // namespace

FindingFilter::FindingFilter(Machine& machine)
    : wine_(WineOwnEntries::ForMachine(machine)),
      userSid_(AnsiLower(Utf16ToAnsi(machine.UserSid()))),
      // Every finding is kept in memory anyway; its identity costs less.
      reported_(std::numeric_limits<size_t>::max()) {}

bool FindingFilter::FirstReport(std::string_view identity, uint8_t** byte) {
    bool added = false;
    uint8_t* found = reported_.FindOrAdd(digest_(identity).View(), &added);
    if (byte) *byte = found;
    return found == nullptr || added;
}

std::string FindingFilter::CanonicalKey(const std::string& location) const {
    std::string key;
    CanonicalKeyInto(location, &key);
    return key;
}

void FindingFilter::CanonicalKeyInto(std::string_view location, std::string* key) const {
    size_t cut = location.find('\\');
    std::string_view root = location.substr(0, cut);
    std::string_view rest =
        cut == std::string_view::npos ? std::string_view() : location.substr(cut);
    key->clear();
    if (AnsiEqualsNoCase(root, "hkey_local_machine")) {
        key->assign("hklm");
    } else if (AnsiEqualsNoCase(root, "hkey_current_user")) {
        key->assign("hkcu");
    } else if (AnsiEqualsNoCase(root, "hkey_users")) {
        key->assign("hku");
    } else if (AnsiEqualsNoCase(root, "hkey_classes_root") || AnsiEqualsNoCase(root, "hkcr") ||
               AnsiEqualsNoCase(root, "hkclass")) {
        key->assign("hklm\\software\\classes");
    } else {
        AppendAnsiLower(*key, root);
    }
    const size_t restAt = key->size();
    AppendAnsiLower(*key, rest);
    if (*key == "hku" || key->compare(0, 4, "hku\\") != 0 || userSid_.empty() || restAt != 3) {
        return;
    }
    // In Wine the current user's hive is HKEY_USERS\<the user's SID> by another name.
    std::string_view lowerRest = std::string_view(*key).substr(restAt);
    std::string_view sid = userSid_;
    if (lowerRest.size() <= sid.size() || lowerRest.substr(1, sid.size()) != sid) return;
    std::string_view after = lowerRest.substr(1 + sid.size());
    if (after.empty() || after[0] == '\\') {
        *key = "hkcu" + std::string(after);
    } else if (Within(after, "_classes")) {
        *key = "hkcu\\software\\classes" + std::string(after.substr(8));
    }
}

bool FindingFilter::InsideWholeKeyOfOtherSection(const std::string& key, int sectionId) {
    if (!anyWholeKey_) return false;
    auto reportedByOther = [&](std::string_view outer) {
        outerIdentity_.assign(kWholeKeyIdentity).append(outer);
        const uint8_t* byte = reported_.Find(digest_(outerIdentity_).View());
        return byte && *byte != 0 && *byte != sectionId + 1;
    };
    // The key lies within exactly those keys that are itself or end before one of its
    // backslashes; only lengths some whole key has are looked up.
    auto mayBeWhole = [this](size_t length) {
        return length >= wholeKeyLengths_.size() || wholeKeyLengths_[length];
    };
    for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
        if (mayBeWhole(at) && reportedByOther(std::string_view(key).substr(0, at))) return true;
    }
    return mayBeWhole(key.size()) && reportedByOther(key);
}

bool FindingFilter::Admit(const Problem& problem) {
    const FindingScope scope = ScopeOf(problem.sectionId);
    if (scope == FindingScope::kKey || scope == FindingScope::kValue) {
        CanonicalKeyInto(FindingKeyPath(problem), &key_);
        valueName_.clear();
        AppendAnsiLower(valueName_, problem.ValueName());
        if (valueName_ == "(default)") valueName_.clear();
        if (IsShellFolderDefinition(key_)) return false;
        valueData_.clear();
        AppendAnsiLower(valueData_, problem.ValueData());
        if (wine_.Writes(key_, valueName_, valueData_)) return false;
        if (InsideWholeKeyOfOtherSection(key_, problem.sectionId)) return false;
        const bool whole = scope == FindingScope::kKey;
        if (whole) {
            identity_.assign(kWholeKeyIdentity).append(key_);
        } else {
            identity_.assign("value\n").append(key_).append("\n").append(valueName_);
        }
        uint8_t* byte = nullptr;
        if (!FirstReport(identity_, &byte)) return false;
        if (whole) {
            // A table too full to hold it leaves the key unknown as a whole key, as the
            // identity is unknown and its repeats reported.
            if (byte) *byte = static_cast<uint8_t>(problem.sectionId + 1);
            anyWholeKey_ = true;
            if (key_.size() < wholeKeyLengths_.size()) wholeKeyLengths_[key_.size()] = true;
        }
        return true;
    }
    if (scope == FindingScope::kFile) {
        identity_.assign("file\n");
        AppendAnsiLower(identity_, problem.ItemText());
        return FirstReport(identity_);
    }
    if (scope == FindingScope::kHostFile) {
        // Host file names tell case apart.
        identity_.assign("host\n").append(problem.ValueData());
        return FirstReport(identity_);
    }
    return true;
}

}  // namespace hivewise
