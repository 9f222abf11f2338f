#include <algorithm>
#include <vector>

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_editor.h"

namespace hivewise {
namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr char16_t kLinkValueName[] = u"SymbolicLinkValue";

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::u16string_view TrimLeft(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::u16string_view Trim(std::u16string_view text) {
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Nothing but blanks and perhaps a comment is left.
bool RestIsEmpty(std::u16string_view rest) {
    rest = TrimLeft(rest);
    return rest.empty() || rest.front() == u';';
}

bool ConsumePrefixNoCase(std::u16string_view& text, std::u16string_view prefix) {
    if (text.size() < prefix.size() || !EqualsNoCase(text.substr(0, prefix.size()), prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Reads up to `maxDigits` hex digits (at least one) as a number.
bool ReadHexNumber(std::u16string_view& text, size_t maxDigits, uint32_t* value) {
    size_t n = 0;
    uint32_t v = 0;
    while (n < text.size() && HexDigit(text[n]) >= 0) {
        if (n == maxDigits) return false;
        v = v << 4 | static_cast<uint32_t>(HexDigit(text[n]));
        ++n;
    }
    if (n == 0) return false;
    text.remove_prefix(n);
    *value = v;
    return true;
}

// A quoted text after its opening quote, with the editor's escapes undone. Returns false
// when the closing quote is missing; `text` is left after it.
bool ReadQuoted(std::u16string_view& text, std::u16string* out) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c != u'\\' || i + 1 == text.size()) {
            out->push_back(c);
            continue;
        }
        char16_t next = text[++i];
        switch (next) {
            case u'\\':
            case u'"':
                out->push_back(next);
                break;
            case u'n':
                out->push_back(u'\n');
                break;
            case u'r':
                out->push_back(u'\r');
                break;
            default:
                // Not an escape the editor writes: the editor keeps the character only.
                out->push_back(next);
        }
    }
    return false;
}

enum class HexEnd { Done, Continues, Bad };

// Comma-separated bytes up to the end of a line; a backslash after a comma (or at the
// start) continues the data on the next line. A ';' starts a comment; a '#' does not.
HexEnd ReadHexBytes(std::u16string_view text, std::string* out) {
    for (;;) {
        text = TrimLeft(text);
        if (text.empty() || text.front() == u';') return HexEnd::Done;
        if (text.front() == u'\\') {
            // Only a ';' comment may follow the backslash that continues the data.
            text.remove_prefix(1);
            return RestIsEmpty(text) ? HexEnd::Continues : HexEnd::Bad;
        }
        uint32_t byte = 0;
        if (!ReadHexNumber(text, 2, &byte)) return HexEnd::Bad;
        out->push_back(static_cast<char>(byte));
        text = TrimLeft(text);
        if (text.empty() || text.front() == u';') return HexEnd::Done;
        if (text.front() != u',') return HexEnd::Bad;
        text.remove_prefix(1);
    }
}

// The path a link value names, without its terminators.
std::u16string LinkPath(const RegValue& value) {
    std::u16string path = BytesToUtf16(value.data);
    while (!path.empty() && path.back() == u'\0')
        path.pop_back();
    return path;
}

// True when following the links from `path` ends at a key (or at a missing one) within
// a few hops; false for a chain that comes back on itself. `pending` is a key about to
// become a link to `pendingPath`. Walked without recursion, so that a loop the store
// would follow without end is refused before it is made or entered.
bool LinksEnd(const RegistryStore& store, std::u16string path, const RegKey* pending,
              const std::u16string& pendingPath) {
    constexpr int kMaxHops = 16;
    int hops = 0;
    std::u16string_view rest;
    RegKey* key = nullptr;
    bool restart = true;
    for (;;) {
        if (restart) {
            rest = path;
            while (!rest.empty() && rest.front() == u'\\')
                rest.remove_prefix(1);
            size_t cut = rest.find(u'\\');
            // Link targets are absolute object paths: \Registry\...
            if (!EqualsNoCase(rest.substr(0, cut), u"Registry")) return true;
            rest = cut == std::u16string_view::npos ? std::u16string_view{} : rest.substr(cut + 1);
            key = store.Root();
            restart = false;
        }
        while (!rest.empty() && rest.front() == u'\\')
            rest.remove_prefix(1);
        if (rest.empty()) return true;
        size_t cut = rest.find(u'\\');
        std::u16string_view name = rest.substr(0, cut);
        rest = cut == std::u16string_view::npos ? std::u16string_view{} : rest.substr(cut);
        key = key->FindSubKey(name);
        if (!key) return true;
        const RegValue* target = key->FindValue(kLinkValueName);
        bool isLink = key == pending || (key->IsLink() && target && target->type == kRegLink);
        if (!isLink) continue;
        if (++hops > kMaxHops) return false;
        // Go on from where the link leads, with what is left of the path.
        std::u16string next = key == pending ? pendingPath : LinkPath(*target);
        next += rest;
        path = std::move(next);
        restart = true;
    }
}

bool IsUtf16File(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

class Importer {
  public:
    Importer(Machine& machine, bool ansiFile)
        : machine_(machine), store_(machine.Registry()), editor_(machine), ansiFile_(ansiFile) {}

    void Run(const std::vector<std::u16string_view>& lines) {
        size_t i = 1;  // the header was line 1
        while (i < lines.size()) {
            std::u16string_view text = TrimLeft(lines[i]);
            int number = static_cast<int>(i) + 1;
            if (text.empty() || text.front() == u';' || text.front() == u'#') {
                ++i;
            } else if (text.front() == u'[') {
                KeyLine(text, number);
                ++i;
            } else if (text.front() == u'@' || text.front() == u'"') {
                i = ValueStatement(lines, i);
            } else {
                Bad(number);
                ++i;
            }
        }
    }

    // The Windows 3.1 editor's file: "HKEY_CLASSES_ROOT\\path = text" sets the default
    // value of that key; the key alone sets it empty. The path ends at a blank or '=';
    // after '=' one blank is passed over, and the text runs to the end of the line.
    void RunWin31(const std::vector<std::u16string_view>& lines) {
        constexpr std::u16string_view kRoot = u"HKEY_CLASSES_ROOT\\";
        for (size_t i = 1; i < lines.size(); ++i) {
            int number = static_cast<int>(i) + 1;
            std::u16string_view text = TrimLeft(lines[i]);
            if (text.empty()) continue;
            std::u16string_view rest = text;
            if (!ConsumePrefixNoCase(rest, kRoot)) {
                Bad(number);
                continue;
            }
            size_t end = rest.find_first_of(u" \t=");
            std::u16string_view path = rest.substr(0, end);
            rest = end == std::u16string_view::npos ? std::u16string_view{} : rest.substr(end);
            rest = TrimLeft(rest);
            if (!rest.empty() && rest.front() == u'=') {
                rest.remove_prefix(1);
                if (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
            }
            if (path.empty()) {
                Bad(number);
                continue;
            }
            std::u16string keyLine = u"[";
            keyLine += kRoot;
            keyLine += path;
            keyLine += u']';
            KeyLine(keyLine, number);
            if (!key_) continue;  // KeyLine counted it
            std::u16string data(rest);
            data.push_back(u'\0');
            SetValue(u"", kRegSz, Utf16ToBytes(data), number);
        }
    }

    RegImportResult Result() const {
        RegImportResult r;
        r.headerValid = true;
        r.allApplied = skipped_ == 0;
        r.linesSkipped = skipped_;
        r.firstBadLine = firstBad_;
        return r;
    }
    bool Changed() const { return changed_; }

  private:
    void Bad(int line) {
        ++skipped_;
        if (firstBad_ == 0) firstBad_ = line;
    }

    // Values go only where a registry file keeps them.
    bool TakesValues(const RegKey* key) const { return editor_.MayChangeValues(key); }

    void KeyLine(std::u16string_view text, int number) {
        key_ = nullptr;
        linkKey_ = nullptr;
        keyCreated_ = false;
        size_t close = text.rfind(u']');
        if (close == std::u16string_view::npos) return Bad(number);
        std::u16string_view name = text.substr(1, close - 1);
        bool remove = !name.empty() && name.front() == u'-';
        if (remove) name.remove_prefix(1);
        auto path = ParseRegPath(machine_, name);
        if (!path) return Bad(number);

        std::u16string_view lookup = path->lookup;
        size_t cut = lookup.rfind(u'\\');
        std::u16string_view parentPath =
            cut == std::u16string_view::npos ? std::u16string_view{} : lookup.substr(0, cut);
        std::u16string_view last =
            cut == std::u16string_view::npos ? lookup : lookup.substr(cut + 1);
        for (std::u16string_view rest = lookup; !rest.empty();) {
            size_t end = rest.find(u'\\');
            if (rest.substr(0, end).size() > kMaxKeyNameLength) return Bad(number);
            rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
        }

        if (remove) {
            // A root itself is never deleted.
            if (last.empty() || path->display.find(u'\\') == std::u16string::npos)
                return Bad(number);
            RegKey* parent = store_.Find(path->base, parentPath);
            RegKey* victim = parent ? parent->FindSubKey(last) : nullptr;
            if (!victim) return;  // nothing to delete is no fault
            if (editor_.DeleteTree(victim) != kErrorSuccess) return Bad(number);
            changed_ = true;
            return;
        }

        // Below HKEY_USERS only the loaded users' keys are saved anywhere.
        if (path->base == machine_.Users() && !lookup.empty()) {
            std::u16string_view first = lookup.substr(0, lookup.find(u'\\'));
            RegKey* user = path->base->FindSubKey(first);
            if (!user || !editor_.MayCreateSubKeys(user)) return Bad(number);
        }
        if (last.empty()) {
            key_ = path->base;
            return;
        }
        RegKey* parent = nullptr;
        if (editor_.CreateKey(path->base, parentPath, &parent) != kErrorSuccess) return Bad(number);
        RegKey* child = parent->FindSubKey(last);
        if (child && child->IsLink()) {
            const RegValue* target = child->FindValue(kLinkValueName);
            if (target && !LinksEnd(store_, LinkPath(*target), nullptr, {})) return Bad(number);
            // Values go where the link leads; the link's own value stays reachable.
            linkKey_ = child;
            key_ = store_.LinkTarget(child);
        } else if (child) {
            key_ = child;
        } else {
            if (editor_.CreateSubKey(parent, last, &key_) != kErrorSuccess) return Bad(number);
            keyCreated_ = true;
            changed_ = true;
        }
    }

    // One value line and its continuation lines; returns the index of the next line.
    size_t ValueStatement(const std::vector<std::u16string_view>& lines, size_t index) {
        int number = static_cast<int>(index) + 1;
        // Skips the value; reading goes on at line `next`.
        auto skip = [&](size_t next) {
            Bad(number);
            return next;
        };
        std::u16string_view text = TrimLeft(lines[index]);
        std::u16string name;
        if (text.front() == u'@') {
            text.remove_prefix(1);
        } else {
            text.remove_prefix(1);
            if (!ReadQuoted(text, &name)) return skip(index + 1);
        }
        text = TrimLeft(text);
        if (text.empty() || text.front() != u'=') return skip(index + 1);
        text = TrimLeft(text.substr(1));

        if (!text.empty() && text.front() == u'-') {
            if (!RestIsEmpty(text.substr(1))) return skip(index + 1);
            DeleteValue(name, number);
            return index + 1;
        }
        if (!text.empty() && text.front() == u'"') {
            text.remove_prefix(1);
            std::u16string data;
            if (!ReadQuoted(text, &data) || !RestIsEmpty(text)) return skip(index + 1);
            data.push_back(u'\0');
            SetValue(name, kRegSz, Utf16ToBytes(data), number);
            return index + 1;
        }
        if (ConsumePrefixNoCase(text, u"dword:")) {
            text = TrimLeft(text);
            uint32_t v = 0;
            if (!ReadHexNumber(text, 8, &v) || !RestIsEmpty(text)) return skip(index + 1);
            std::string data(4, '\0');
            for (int b = 0; b < 4; ++b)
                data[b] = static_cast<char>(v >> (8 * b));
            SetValue(name, kRegDword, std::move(data), number);
            return index + 1;
        }
        uint32_t type = kRegBinary;
        if (ConsumePrefixNoCase(text, u"hex(")) {
            if (!ReadHexNumber(text, 8, &type) || !ConsumePrefixNoCase(text, u"):"))
                return skip(index + 1);
        } else if (!ConsumePrefixNoCase(text, u"hex:")) {
            return skip(index + 1);
        }

        std::string data;
        size_t next = index + 1;
        HexEnd end = ReadHexBytes(text, &data);
        while (end == HexEnd::Continues) {
            // Blank lines and ';' comments inside the data are passed over.
            while (next < lines.size()) {
                std::u16string_view t = TrimLeft(lines[next]);
                if (!t.empty() && t.front() != u';') break;
                ++next;
            }
            if (next == lines.size()) return skip(next);
            // A key line cuts the value short and is read on its own; any other line is
            // taken as more data, and when it is none (a '#' comment, the next value) the
            // value is dropped together with that line.
            std::u16string_view t = TrimLeft(lines[next]);
            if (t.front() == u'[') return skip(next);
            ++next;
            if (HexDigit(t.front()) < 0) return skip(next);
            end = ReadHexBytes(t, &data);
        }
        if (end == HexEnd::Bad) return skip(next);
        // In an 8-bit file the string types hold ANSI text.
        if (ansiFile_ && (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz))
            data = Utf16ToBytes(AnsiToUtf16(data));
        SetValue(name, type, std::move(data), number);
        return next;
    }

    void SetValue(const std::u16string& name, uint32_t type, std::string data, int number) {
        bool linkValue = type == kRegLink && EqualsNoCase(name, kLinkValueName);
        if (linkValue && linkKey_) {
            if (editor_.SetValue(linkKey_, name, type, std::move(data)) != kErrorSuccess)
                return Bad(number);
            changed_ = true;
            return;
        }
        if (!key_ || key_->IsDeleted() || !TakesValues(key_)) return Bad(number);
        // A new, empty key given a link value becomes the link it was when exported,
        // unless the link would lead back to itself.
        bool becomesLink =
            linkValue && keyCreated_ && key_->SubKeyCount() == 0 && key_->Values().empty();
        if (becomesLink) {
            std::u16string target = BytesToUtf16(data);
            while (!target.empty() && target.back() == u'\0')
                target.pop_back();
            if (!LinksEnd(store_, target, key_, target)) return Bad(number);
        }
        if (editor_.SetValue(key_, name, type, std::move(data)) != kErrorSuccess)
            return Bad(number);
        changed_ = true;
        if (becomesLink) {
            editor_.MakeLink(key_);
            linkKey_ = key_;
            key_ = store_.LinkTarget(linkKey_);
        }
        keyCreated_ = false;
    }

    void DeleteValue(const std::u16string& name, int number) {
        if (!key_ || key_->IsDeleted() || !TakesValues(key_)) return Bad(number);
        if (editor_.DeleteValue(key_, name) == kErrorSuccess) changed_ = true;
    }

    Machine& machine_;
    RegistryStore& store_;
    RegistryEditor editor_;
    bool ansiFile_;
    RegKey* key_ = nullptr;      // where the section's values go
    RegKey* linkKey_ = nullptr;  // the section's key itself when it is a link
    bool keyCreated_ = false;    // the section's key was made by this import
    bool changed_ = false;
    int skipped_ = 0;
    int firstBad_ = 0;
};

}  // namespace

namespace {

std::u16string DecodeRegFile(std::string_view bytes, bool* utf16) {
    *utf16 = IsUtf16File(bytes);
    return *utf16 ? BytesToUtf16(bytes.substr(2)) : AnsiToUtf16(bytes);
}

// The header's kind; false when the first line is none of the editor's headers.
bool ReadHeader(const std::vector<std::u16string_view>& lines, bool* win31) {
    if (lines.empty()) return false;
    std::u16string_view header = Trim(lines[0]);
    *win31 = header == u"REGEDIT";
    return *win31 || header == u"REGEDIT4" || header == u"Windows Registry Editor Version 5.00";
}

}  // namespace

std::optional<RegFileOutline> OutlineRegFile(std::string_view bytes) {
    bool utf16 = false, win31 = false;
    std::u16string text = DecodeRegFile(bytes, &utf16);
    std::vector<std::u16string_view> lines = SplitLines(text);
    if (!ReadHeader(lines, &win31)) return std::nullopt;
    RegFileOutline outline;
    // Every line is judged on its own: the import reads a line starting with '[' as a
    // key wherever it stands, and a line taken as more data sets no value of its own,
    // so this names every key the import can reach and never misses a link value.
    for (size_t i = 1; i < lines.size(); ++i) {
        std::u16string_view line = TrimLeft(lines[i]);
        if (line.empty()) continue;
        if (win31) {
            constexpr std::u16string_view kRoot = u"HKEY_CLASSES_ROOT\\";
            std::u16string_view rest = line;
            if (!ConsumePrefixNoCase(rest, kRoot)) continue;
            std::u16string key(kRoot);
            key += rest.substr(0, rest.find_first_of(u" \t="));
            outline.keys.push_back(std::move(key));
            continue;
        }
        if (line.front() == u'[') {
            size_t close = line.rfind(u']');
            if (close == std::u16string_view::npos) continue;
            std::u16string_view name = line.substr(1, close - 1);
            if (!name.empty() && name.front() == u'-') name.remove_prefix(1);
            outline.keys.emplace_back(name);
            continue;
        }
        if (line.front() != u'@' && line.front() != u'"') continue;
        bool quoted = line.front() == u'"';
        line.remove_prefix(1);
        std::u16string name;
        if (quoted && !ReadQuoted(line, &name)) continue;
        line = TrimLeft(line);
        if (line.empty() || line.front() != u'=') continue;
        line = TrimLeft(line.substr(1));
        uint32_t type = 0;
        if (ConsumePrefixNoCase(line, u"hex(") && ReadHexNumber(line, 8, &type) &&
            type == kRegLink) {
            outline.setsLinks = true;
        }
    }
    return outline;
}

RegImportResult ImportRegFile(Machine& machine, std::string_view bytes, bool refreshFacts) {
    bool utf16 = false, win31 = false;
    std::u16string text = DecodeRegFile(bytes, &utf16);
    std::vector<std::u16string_view> lines = SplitLines(text);
    if (!ReadHeader(lines, &win31)) return {};

    auto lock = machine.Registry().Lock();
    Importer importer(machine, !utf16);
    if (win31) {
        importer.RunWin31(lines);
    } else {
        importer.Run(lines);
    }
    if (importer.Changed() && refreshFacts) machine.RefreshDerivedFacts();
    RegImportResult result = importer.Result();
    result.changed = importer.Changed();
    return result;
}

RegImportResult ImportRegFileFrom(Machine& machine, const std::string& windowsFile) {
    auto host = FileSystemAccess(machine).ToHostPath(windowsFile);
    std::string bytes, error;
    if (!host || !ReadWholeFile(*host, &bytes, &error)) return {};
    return ImportRegFile(machine, bytes);
}

}  // namespace hivewise
