#include "scan/finding_filter.h"

#include <limits>

#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"
#include "scan/scan_section.h"

namespace hivewise {
namespace {

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

bool FindingFilter::FirstReport(std::string_view identity) {
    bool added = false;
    return reported_.FindOrAdd(identity, &added) == nullptr || added;
}

std::string FindingFilter::CanonicalKey(const std::string& location) const {
    std::string key = AnsiLower(location);
    size_t cut = key.find('\\');
    std::string root = key.substr(0, cut);
    std::string rest = cut == std::string::npos ? std::string() : key.substr(cut);
    if (root == "hkey_local_machine") root = "hklm";
    if (root == "hkey_current_user") root = "hkcu";
    if (root == "hkey_users") root = "hku";
    if (root == "hkey_classes_root" || root == "hkcr" || root == "hkclass") {
        root = "hklm\\software\\classes";
    }
    if (root == "hku" && !userSid_.empty()) {
        // In Wine the current user's hive is HKEY_USERS\<the user's SID> by another name.
        std::string own = "\\" + userSid_;
        if (Within(rest, own)) {
            root = "hkcu";
            rest = rest.substr(own.size());
        } else if (Within(rest, own + "_classes")) {
            root = "hkcu\\software\\classes";
            rest = rest.substr(own.size() + 8);
        }
    }
    return root + rest;
}

bool FindingFilter::InsideWholeKeyOfOtherSection(const std::string& key, int sectionId) const {
    if (wholeKeys_.empty()) return false;
    auto reportedByOther = [&](std::string_view outer) {
        auto found = wholeKeys_.find(outer);
        if (found == wholeKeys_.end()) return false;
        for (int section : found->second) {
            if (section != sectionId) return true;
        }
        return false;
    };
    // The key lies within exactly those keys that are itself or end before one of its
    // backslashes.
    for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
        if (reportedByOther(std::string_view(key).substr(0, at))) return true;
    }
    return reportedByOther(key);
}

bool FindingFilter::Admit(const Problem& problem) {
    const FindingScope scope = ScopeOf(problem.sectionId);
    std::string key;
    if (scope == FindingScope::kKey || scope == FindingScope::kValue) {
        key = CanonicalKey(FindingKeyPath(problem));
        std::string valueName = AnsiLower(problem.valueName);
        if (valueName == "(default)") valueName.clear();
        if (IsShellFolderDefinition(key)) return false;
        if (wine_.Writes(key, valueName, AnsiLower(problem.valueData))) return false;
        if (InsideWholeKeyOfOtherSection(key, problem.sectionId)) return false;
        identity_.assign(scope == FindingScope::kKey ? "key\n" : "value\n")
            .append(key)
            .append("\n")
            .append(scope == FindingScope::kKey ? std::string() : valueName);
        if (!FirstReport(identity_)) return false;
        if (scope == FindingScope::kKey) wholeKeys_[key].push_back(problem.sectionId);
        return true;
    }
    if (scope == FindingScope::kFile) {
        identity_.assign("file\n").append(AnsiLower(problem.itemText));
        return FirstReport(identity_);
    }
    if (scope == FindingScope::kHostFile) {
        // Host file names tell case apart.
        identity_.assign("host\n").append(problem.valueData);
        return FirstReport(identity_);
    }
    return true;
}

}  // namespace hivewise
