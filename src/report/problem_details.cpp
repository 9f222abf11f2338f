#include "report/problem_details.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "platform/machine/string_table.h"
#include "scan/scan_section.h"

namespace hivewise {
namespace {

constexpr int kFirstRegistrySection = 1;
constexpr int kLastRegistrySection = 13;
constexpr int kShortcutSection = 14;
constexpr int kMenuEntriesSection = 15;

// Registry text may hold anything; shown raw, a '<' would start a tag and hide the rest.
void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

std::string UnescapeMarkup(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEscapes[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}};
    std::string plain;
    plain.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        bool replaced = false;
        if (text[at] == '&') {
            for (const auto& [escape, c] : kEscapes) {
                if (text.substr(at, escape.size()) == escape) {
                    plain += c;
                    at += escape.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) plain += text[at++];
    }
    return plain;
}

// "<br>" to `lineBreak`, tags dropped, escapes undone.
std::string StripMarkup(std::string_view rowText, std::string_view lineBreak) {
    static constexpr std::string_view kBreak = "<br>";
    std::string text;
    text.reserve(rowText.size());
    size_t at = 0;
    while (at < rowText.size()) {
        if (rowText.substr(at, kBreak.size()) == kBreak) {
            text += lineBreak;
            at += kBreak.size();
        } else if (rowText[at] == '<') {
            size_t close = rowText.find('>', at);
            // An unclosed '<' is not a tag; it stays as text.
            if (close == std::string_view::npos) {
                text += rowText.substr(at);
                break;
            }
            at = close + 1;
        } else {
            size_t next = rowText.find('<', at);
            if (next == std::string_view::npos) next = rowText.size();
            text += UnescapeMarkup(rowText.substr(at, next - at));
            at = next;
        }
    }
    return text;
}

}  // namespace

std::string FindingText(const Problem& problem) {
    static constexpr std::string_view kPlaceholder = "%s";
    const std::string_view description = problem.Description();
    std::string text;
    size_t at = 0;
    for (;;) {
        size_t found = description.find(kPlaceholder, at);
        if (found == std::string_view::npos) break;
        text.append(description.substr(at, found - at));
        text += problem.ValueData();
        at = found + kPlaceholder.size();
    }
    text.append(description.substr(at));
    return text;
}

std::string ShortRootLocation(std::string_view location) {
    // The order of the string-table rewrite: classes root, current user, local machine.
    static const std::pair<std::string_view, int> kRoots[] = {
        {"HKEY_CLASSES_ROOT", kIdsShortClassesRoot},
        {"HKEY_CURRENT_USER", kIdsShortCurrentUser},
        {"HKEY_LOCAL_MACHINE", kIdsShortLocalMachine},
    };
    std::string_view root = location.substr(0, location.find('\\'));
    for (const auto& [longRoot, entry] : kRoots) {
        if (root != longRoot) continue;
        std::string shortRoot = LoadResourceText(entry);
        if (shortRoot.empty()) break;
        return shortRoot + std::string(location.substr(root.size()));
    }
    return std::string(location);
}

std::string ShownValueName(const Problem& problem) {
    const FindingScope scope = ScopeOf(problem.sectionId);
    bool registry = scope == FindingScope::kKey || scope == FindingScope::kValue;
    return registry && problem.ValueName().empty() ? LoadResourceText(kIdsDefaultValueName)
                                                   : std::string(problem.ValueName());
}

std::string DetailsRowText(const Problem& problem) {
    // Built in one string: the dialog makes a row text for every finding of a section.
    std::string_view head;
    std::string_view secondLabel;
    std::string_view thirdLabel;
    std::string_view first;
    std::string shownName;
    if (problem.sectionId >= kFirstRegistrySection && problem.sectionId <= kLastRegistrySection) {
        head = "<font color=\"#0000FF\">RegKey : ";
        first = problem.Location();
        secondLabel = " <br>ValueName : ";
        shownName = ShownValueName(problem);
        thirdLabel = "<br>Value : ";
    } else if (problem.sectionId == kShortcutSection) {
        head = "<font color=\"#0000FF\">Shortcut Path : ";
        first = problem.ItemText();
        secondLabel = "<br>Shortcut to : ";
    } else if (problem.sectionId == kMenuEntriesSection) {
        head = "<font color=\"#0000FF\">Menu Entry : ";
        first = problem.ItemText();
        secondLabel = "<br>File : ";
    } else {
        return {};
    }
    const std::string finding = FindingText(problem);
    std::string text;
    text.reserve(head.size() + first.size() + shownName.size() + 2 * problem.ValueData().size() +
                 finding.size() + 96);
    text += head;
    AppendEscaped(text, first);
    text += secondLabel;
    if (!thirdLabel.empty()) {
        AppendEscaped(text, shownName);
        text += thirdLabel;
    }
    AppendEscaped(text, problem.ValueData());
    text += "</font><br><b>";
    AppendEscaped(text, finding);
    text += "</b>";
    return text;
}

std::string ClipboardText(std::string_view rowText) {
    return StripMarkup(rowText, "\r\n");
}

std::string PlainTextRow(const Problem& problem) {
    Problem shown = problem;
    shown.SetLocation(ShortRootLocation(problem.Location()));
    return StripMarkup(DetailsRowText(shown), "\n");
}

std::string FindingFile(const Problem& problem) {
    const std::string_view where = problem.Location();
    // A drive path ("C:\...") or a host path; registry locations start with a root name.
    bool drivePath = where.size() > 3 && where[1] == ':' && where[2] == '\\';
    bool hostPath = !where.empty() && where[0] == '/';
    return drivePath || hostPath ? std::string(where) : std::string{};
}

}  // namespace hivewise
