#include "platform/files/short_names.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

bool IsForbidden83(unsigned char c) {
    if (c < 0x20) return true;
    switch (c) {
        case ' ':
        case '"':
        case '*':
        case '+':
        case ',':
        case '/':
        case ':':
        case ';':
        case '<':
        case '=':
        case '>':
        case '?':
        case '[':
        case '\\':
        case ']':
        case '|':
            return true;
        default:
            return false;
    }
}

char AnsiUpperChar(char c) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
    if (b == 0x9A || b == 0x9C || b == 0x9E) return static_cast<char>(b - 16);
    if (b == 0xFF) return static_cast<char>(0x9F);
    return c;
}

// The characters a generated short name keeps of a part of the long name.
std::string CleanPart(std::string_view part, size_t limit) {
    std::string out;
    for (char c : part) {
        if (out.size() == limit) break;
        if (c == ' ' || c == '.') continue;
        out.push_back(IsForbidden83(static_cast<unsigned char>(c)) ? '_' : AnsiUpperChar(c));
    }
    return out;
}

// The smallest N each generated form (its cleaned base and extension) may try next: every
// smaller N of that form is taken already, and taken names stay taken, so a folder of N
// names sharing their first letters costs about N tries, not N squared.
using NextNumbers = std::unordered_map<std::string, unsigned>;

std::string Generate(std::string_view name, std::unordered_set<std::string>& used,
                     NextNumbers& next) {
    // Leading dots do not start an extension; the last remaining dot does.
    size_t start = name.find_first_not_of('.');
    std::string_view stem =
        start == std::string_view::npos ? std::string_view{} : name.substr(start);
    size_t dot = stem.rfind('.');
    std::string base = CleanPart(stem.substr(0, dot), 8);
    std::string ext =
        dot == std::string_view::npos ? std::string{} : CleanPart(stem.substr(dot + 1), 3);
    if (base.empty()) base.push_back('_');
    std::string form = base;
    form += '.';
    form += ext;
    unsigned& first = next.try_emplace(std::move(form), 1u).first->second;
    for (unsigned n = first;; ++n) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on operator+.
        std::string tail = "~";
        tail += std::to_string(n);
        size_t keep = tail.size() >= 8 ? 0 : 8 - tail.size();
        std::string candidate = base.substr(0, std::min(keep, base.size()));
        candidate += tail;
        if (!ext.empty()) {
            candidate += '.';
            candidate += ext;
        }
        if (used.insert(candidate).second) {
            first = n + 1;
            return candidate;
        }
    }
}

}  // namespace

std::string AnsiUpper(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = AnsiUpperChar(c);
    return out;
}

bool IsValid83(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    size_t dot = name.find('.');
    std::string_view base = name.substr(0, dot);
    std::string_view ext =
        dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string_view::npos && ext.empty()) return false;
    for (char c : base) {
        if (IsForbidden83(static_cast<unsigned char>(c))) return false;
    }
    for (char c : ext) {
        if (c == '.' || IsForbidden83(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::vector<std::string> MakeShortNames(const std::vector<std::string>& names) {
    std::vector<std::string> out(names.size());
    std::unordered_set<std::string> used;
    // Names that are their own short form are taken first, so no generated name
    // can ever stand for two entries.
    for (size_t i = 0; i < names.size(); ++i) {
        // Two host names differing only in case: the second gets a generated name.
        if (IsValid83(names[i]) && used.insert(AnsiUpper(names[i])).second) {
            out[i] = AnsiUpper(names[i]);
        }
    }
    NextNumbers next;
    for (size_t i = 0; i < names.size(); ++i) {
        if (out[i].empty()) out[i] = Generate(names[i], used, next);
    }
    return out;
}

namespace {

// Characters Wine never keeps in a short name it makes.
bool WineInvalidDosChar(char16_t c) {
    if (c > 0x7f) return true;
    return std::u16string_view(u"*?<>|\"+=,;[] ~.").find(c) != std::u16string_view::npos;
}

bool WineLegal83(std::u16string_view name) {
    if (name.size() > 12) return false;
    if (!name.empty() && name[0] == '.') return name == u"." || name == u"..";
    size_t dot = std::u16string_view::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c > 0x7f ||
            std::u16string_view(u"*?<>|\"+=,;[] :/\\").find(c) != std::u16string_view::npos) {
            return false;
        }
        if (c == '.') {
            if (dot != std::u16string_view::npos) return false;
            dot = i;
        }
    }
    if (dot == std::u16string_view::npos) return name.size() <= 8;
    return dot <= 8 && name.size() - dot > 1 && name.size() - dot < 5;
}

char WineUpper(char16_t c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
}

}  // namespace

std::string WineShortName(std::u16string_view name) {
    if (name.empty() || WineLegal83(name)) return {};
    static constexpr char kHashChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    uint16_t hash = 0xbeef;
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        hash = static_cast<uint16_t>((hash << 3) ^ (hash >> 5) ^ FoldChar(name[i]) ^
                                     (FoldChar(name[i + 1]) << 8));
    }
    hash = static_cast<uint16_t>((hash << 3) ^ (hash >> 5) ^ FoldChar(name.back()));
    // The last dot that is neither the first nor the last character starts the extension.
    size_t ext = std::u16string_view::npos;
    for (size_t i = 1; i + 1 < name.size(); ++i) {
        if (name[i] == '.') ext = i;
    }
    std::string out;
    for (size_t i = 0; i < 4 && i < name.size() && i != ext; ++i)
        out.push_back(WineInvalidDosChar(name[i]) ? '_' : WineUpper(name[i]));
    // Padded with '~' to five characters: at least one.
    do {
        out.push_back('~');
    } while (out.size() < 5);
    out.push_back(kHashChars[(hash >> 10) & 0x1f]);
    out.push_back(kHashChars[(hash >> 5) & 0x1f]);
    out.push_back(kHashChars[hash & 0x1f]);
    if (ext != std::u16string_view::npos) {
        out.push_back('.');
        for (size_t i = ext + 1; i < name.size() && i <= ext + 3; ++i)
            out.push_back(WineInvalidDosChar(name[i]) ? '_' : WineUpper(name[i]));
    }
    return out;
}

}  // namespace hivewise
