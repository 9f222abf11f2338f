#include "platform/registry/hive_file.h"

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicks1601To1970 = 11644473600ULL * kTicksPerSecond;
constexpr std::string_view kSignature = "WINE REGISTRY Version 2";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Reads the file line by line; a line's text excludes its '\n' (and a '\r' before it).
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        start_ = pos_;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end < text_.size() ? end + 1 : end;
        ++number_;
        return true;
    }
    size_t LineStart() const { return start_; }
    size_t Position() const { return pos_; }
    int Number() const { return number_; }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t start_ = 0;
    int number_ = 0;
};

// Decodes an escaped string up to the unescaped `stop` character. Returns the number
// of input bytes consumed including `stop`, or 0 when `stop` never comes.
size_t ParseString(std::string_view in, char stop, std::u16string& out) {
    out.clear();
    size_t i = 0;
    while (i < in.size()) {
        // Runs of plain ASCII are the common case: widen them in one go.
        size_t run = i;
        while (run < in.size() && in[run] != stop && in[run] != '\\' &&
               static_cast<unsigned char>(in[run]) < 0x80) {
            ++run;
        }
        if (run > i) {
            size_t at = out.size();
            out.resize(at + (run - i));
            for (size_t k = i; k < run; ++k)
                out[at++] = static_cast<unsigned char>(in[k]);
            i = run;
            if (i >= in.size()) break;
        }
        char c = in[i];
        if (c == stop) return i + 1;
        if (c != '\\') {
            auto b = static_cast<unsigned char>(c);
            if (b < 0x80) {
                out.push_back(b);
                ++i;
            } else {
                // Raw bytes above ASCII: take a UTF-8 sequence as one character.
                size_t j = i + 1;
                while (j < in.size() && (static_cast<unsigned char>(in[j]) & 0xC0) == 0x80)
                    ++j;
                out += Utf8ToUtf16(in.substr(i, j - i));
                i = j;
            }
            continue;
        }
        if (i + 1 >= in.size()) return 0;
        char e = in[i + 1];
        i += 2;
        switch (e) {
            case 'a':
                out.push_back(u'\a');
                break;
            case 'b':
                out.push_back(u'\b');
                break;
            case 'e':
                out.push_back(0x1B);
                break;
            case 'f':
                out.push_back(u'\f');
                break;
            case 'n':
                out.push_back(u'\n');
                break;
            case 'r':
                out.push_back(u'\r');
                break;
            case 't':
                out.push_back(u'\t');
                break;
            case 'v':
                out.push_back(u'\v');
                break;
            case 'x': {
                if (i >= in.size() || HexDigit(in[i]) < 0) {
                    out.push_back(u'x');
                    break;
                }
                char16_t v = 0;
                for (int n = 0; n < 4 && i < in.size() && HexDigit(in[i]) >= 0; ++n, ++i) {
                    v = static_cast<char16_t>((v << 4) + HexDigit(in[i]));
                }
                out.push_back(v);
                break;
            }
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7': {
                char16_t v = static_cast<char16_t>(e - '0');
                for (int n = 1; n < 3 && i < in.size() && in[i] >= '0' && in[i] <= '7'; ++n, ++i) {
                    v = static_cast<char16_t>(v * 8 + (in[i] - '0'));
                }
                out.push_back(v);
                break;
            }
            default:
                out.push_back(static_cast<unsigned char>(e));
                break;
        }
    }
    return 0;
}

void AppendUtf16Bytes(std::string& out, std::u16string_view text) {
    size_t at = out.size();
    out.resize(at + text.size() * 2);
    for (char16_t c : text) {
        out[at++] = static_cast<char>(c & 0xFF);
        out[at++] = static_cast<char>(c >> 8);
    }
}

struct Parser {
    std::string_view content;
    HiveParseError* error;
    LineReader reader{content};
    std::u16string scratch;
    std::vector<std::pair<std::u16string, RegKey*>> chain;  // the previous section's path

    bool Fail(int line, std::string message) {
        if (error) {
            error->line = line;
            error->message = std::move(message);
        }
        return false;
    }

    // Finds or creates a child while loading: no timestamps change, nothing is dirty.
    static RegKey* LoadChild(RegKey* parent, std::u16string_view name, uint64_t modified) {
        size_t pos = parent->SubKeyPosition(name);
        if (pos < parent->subkeys.size() && EqualsNoCase(parent->subkeys[pos]->name, name)) {
            return parent->subkeys[pos].get();
        }
        auto child = std::make_shared<RegKey>();
        child->name = std::u16string(name);
        child->parent = parent;
        child->modified = modified;
        RegKey* raw = child.get();
        parent->subkeys.insert(parent->subkeys.begin() + static_cast<ptrdiff_t>(pos),
                               std::move(child));
        return raw;
    }

    // Hex bytes, comma separated, continued over lines ending in '\'.
    bool ParseHex(std::string_view rest, std::string& data) {
        int line = reader.Number();
        for (;;) {
            size_t i = 0;
            while (i < rest.size()) {
                while (i < rest.size() && IsSpace(rest[i]))
                    ++i;
                if (i >= rest.size()) break;
                if (rest[i] == '\\') {
                    ++i;
                    while (i < rest.size() && IsSpace(rest[i]))
                        ++i;
                    if (i != rest.size()) return Fail(line, "bad continuation in hex data");
                    std::string_view next;
                    if (!reader.Next(next)) return Fail(line, "hex data cut off at end of file");
                    line = reader.Number();
                    rest = next;
                    i = 0;
                    continue;
                }
                int hi = HexDigit(rest[i]);
                if (hi < 0) return Fail(line, "bad hex data");
                int value = hi;
                ++i;
                if (i < rest.size() && HexDigit(rest[i]) >= 0) {
                    value = value * 16 + HexDigit(rest[i]);
                    ++i;
                }
                data.push_back(static_cast<char>(value));
                while (i < rest.size() && IsSpace(rest[i]))
                    ++i;
                if (i < rest.size() && rest[i] == ',') ++i;
            }
            return true;
        }
    }

    bool ParseValue(std::string_view line, RegKey* key, std::unordered_set<std::u16string>* seen,
                    bool* duplicate) {
        int number = reader.Number();
        RegValue value;
        size_t pos;
        if (line[0] == '@') {
            pos = 1;
        } else {
            size_t used = ParseString(line.substr(1), '"', value.name);
            if (!used) return Fail(number, "value name not closed");
            pos = 1 + used;
        }
        while (pos < line.size() && IsSpace(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=') return Fail(number, "'=' missing after name");
        ++pos;
        while (pos < line.size() && IsSpace(line[pos]))
            ++pos;
        std::string_view rest = line.substr(pos);
        if (!rest.empty() && rest[0] == '"') {
            value.type = kRegSz;
        } else if (rest.substr(0, 4) == "str(") {
            size_t close = rest.find("):");
            if (close == std::string_view::npos) return Fail(number, "bad string type");
            unsigned type = 0;
            for (size_t k = 4; k < close; ++k) {
                int d = HexDigit(rest[k]);
                if (d < 0) return Fail(number, "bad string type");
                type = type * 16 + d;
            }
            value.type = type;
            rest.remove_prefix(close + 2);
            if (rest.empty() || rest[0] != '"') return Fail(number, "string data expected");
        } else if (rest.substr(0, 6) == "dword:") {
            std::string_view digits = rest.substr(6);
            while (!digits.empty() && IsSpace(digits.back()))
                digits.remove_suffix(1);
            if (digits.empty() || digits.size() > 8) return Fail(number, "bad dword data");
            uint32_t v = 0;
            for (char c : digits) {
                int d = HexDigit(c);
                if (d < 0) return Fail(number, "bad dword data");
                v = v * 16 + d;
            }
            value.type = kRegDword;
            value.data.resize(4);
            std::memcpy(value.data.data(), &v, 4);  // little-endian host
        } else if (rest.substr(0, 4) == "hex:" || rest.substr(0, 4) == "hex(") {
            value.type = kRegBinary;
            if (rest[3] == '(') {
                size_t close = rest.find("):");
                if (close == std::string_view::npos || close == 4)
                    return Fail(number, "bad hex type");
                unsigned type = 0;
                for (size_t k = 4; k < close; ++k) {
                    int d = HexDigit(rest[k]);
                    if (d < 0 || k > 11) return Fail(number, "bad hex type");
                    type = type * 16 + d;
                }
                value.type = type;
                rest.remove_prefix(close + 2);
            } else {
                rest.remove_prefix(4);
            }
            if (!ParseHex(rest, value.data)) return false;
        } else {
            return Fail(number, "unrecognised value data");
        }
        if (value.data.empty() && (value.type != kRegDword) && !rest.empty() && rest[0] == '"') {
            size_t used = ParseString(rest.substr(1), '"', scratch);
            if (!used) return Fail(number, "string not closed");
            std::string_view after = rest.substr(1 + used);
            while (!after.empty() && IsSpace(after.front()))
                after.remove_prefix(1);
            if (!after.empty()) return Fail(number, "text after string data");
            AppendUtf16Bytes(value.data, scratch);
            value.data.push_back('\0');
            value.data.push_back('\0');
        }
        // Names repeat only in hand-edited files; the later one wins, as on loading.
        bool repeated = false;
        if (key->values.size() < 16) {
            repeated = key->FindValue(value.name) != nullptr;
        } else {
            if (seen->empty()) {
                for (const auto& v : key->values)
                    seen->insert(FoldCase(v.name));
            }
            repeated = !seen->insert(FoldCase(value.name)).second;
        }
        if (repeated) {
            *key->FindValue(value.name) = std::move(value);
            *duplicate = true;
        } else {
            key->values.push_back(std::move(value));
        }
        return true;
    }

    bool ParseKeyLine(std::string_view line, RegKey* base, RegKey** key, uint64_t* modified) {
        int number = reader.Number();
        size_t used = ParseString(line.substr(1), ']', scratch);
        if (!used) return Fail(number, "key name not closed");
        std::string_view rest = line.substr(1 + used);
        uint64_t seconds = 0;
        bool any = false;
        size_t i = 0;
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
            seconds = seconds * 10 + (rest[i] - '0');
            any = true;
        }
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        if (i != rest.size()) return Fail(number, "text after key name");
        *modified = any ? seconds * kTicksPerSecond + kTicks1601To1970 : 0;
        // Sections come in tree order, so a path mostly repeats the previous one's
        // leading components: reuse those instead of looking them up again.
        RegKey* k = base;
        size_t depth = 0;
        bool reuse = true;
        std::u16string_view path(scratch);
        while (!path.empty()) {
            size_t cut = path.find(u'\\');
            std::u16string_view part = path.substr(0, cut);
            path.remove_prefix(cut == std::u16string_view::npos ? path.size() : cut + 1);
            if (part.empty()) continue;
            if (reuse && depth < chain.size() && chain[depth].first == part) {
                k = chain[depth].second;
            } else {
                reuse = false;
                k = LoadChild(k, part, *modified);
                chain.resize(depth);
                chain.emplace_back(std::u16string(part), k);
            }
            ++depth;
        }
        chain.resize(depth);
        *key = k;
        return true;
    }

    std::unique_ptr<ParsedHive> Run() {
        auto hive = std::make_unique<ParsedHive>();
        hive->base = std::make_shared<RegKey>();
        std::string_view line;
        if (!reader.Next(line) || line.substr(0, kSignature.size()) != kSignature) {
            Fail(1, "not a registry file (no \"WINE REGISTRY Version 2\" line)");
            return nullptr;
        }
        RegKey* key = nullptr;
        RawSection* section = nullptr;
        size_t bodyEnd = reader.Position();  // end of the last line that was not blank
        size_t headerEnd = bodyEnd;
        std::unordered_set<std::u16string> seen;
        auto close = [&]() {
            if (section)
                section->length =
                    static_cast<uint32_t>(bodyEnd - section->offset - section->leadIn);
        };
        while (reader.Next(line)) {
            size_t start = reader.LineStart();
            size_t first = 0;
            while (first < line.size() && IsSpace(line[first]))
                ++first;
            if (first == line.size()) continue;  // blank
            char c = line[first];
            if (c == '[') {
                close();
                uint64_t modified = 0;
                if (!ParseKeyLine(line.substr(first), hive->base.get(), &key, &modified)) {
                    return nullptr;
                }
                if (modified) key->modified = modified;
                if (key->raw) key->dirty = true;  // a second section for one key
                key->raw = RawSection{static_cast<uint32_t>(bodyEnd),
                                      static_cast<uint32_t>(start - bodyEnd), 0};
                section = &*key->raw;
                seen.clear();
            } else if (!key) {
                if (c != '#' && c != ';') {
                    Fail(reader.Number(), "text before the first key");
                    return nullptr;
                }
                if (line.substr(first, 23) == ";; All keys relative to") {
                    std::string_view rel = line.substr(first + 23);
                    while (!rel.empty() && IsSpace(rel.front()))
                        rel.remove_prefix(1);
                    std::u16string decoded;
                    ParseString(std::string(rel) + '\n', '\n', decoded);
                    hive->relativeTo = decoded;
                }
                headerEnd = reader.Position();
            } else if (c == '"' || c == '@') {
                bool duplicate = false;
                if (!ParseValue(line.substr(first), key, &seen, &duplicate)) return nullptr;
                if (duplicate) key->dirty = true;
            } else if (c == '#') {
                std::string_view opt = line.substr(first);
                if (opt.substr(0, 6) == "#time=") {
                    uint64_t t = 0;
                    for (char h : opt.substr(6)) {
                        int d = HexDigit(h);
                        if (d < 0) break;
                        t = (t << 4) | static_cast<uint64_t>(d);
                    }
                    key->modified = t;
                } else if (opt.substr(0, 8) == "#class=\"") {
                    std::u16string cls;
                    if (!ParseString(opt.substr(8), '"', cls)) {
                        Fail(reader.Number(), "class name not closed");
                        return nullptr;
                    }
                    key->className = cls;
                } else if (opt.substr(0, 5) == "#link") {
                    key->isLink = true;
                }
                // Other options are kept in the section's text and ignored.
            } else if (c != ';') {
                Fail(reader.Number(), "unrecognised line");
                return nullptr;
            }
            bodyEnd = reader.Position();
            if (!key) headerEnd = bodyEnd;
        }
        close();
        hive->header = std::string(content.substr(0, headerEnd));
        hive->trailer = std::string(content.substr(bodyEnd));
        return hive;
    }
};

void AppendTicksLine(std::string& out, uint64_t modified) {
    char buf[64];
    uint64_t seconds =
        modified >= kTicks1601To1970 ? (modified - kTicks1601To1970) / kTicksPerSecond : 0;
    int n = std::snprintf(buf, sizeof buf, "] %u\n#time=%x%08x\n", static_cast<unsigned>(seconds),
                          static_cast<unsigned>(modified >> 32), static_cast<unsigned>(modified));
    out.append(buf, static_cast<size_t>(n));
}

bool ShouldWrite(const RegKey& key) {
    return !key.values.empty() || key.subkeys.empty() || key.className || key.isLink;
}

void AppendPath(std::string& out, const RegKey& key, const RegKey& base) {
    if (&key == &base) return;
    if (key.parent && key.parent != &base) {
        AppendPath(out, *key.parent, base);
        out += "\\\\";
    }
    AppendEscaped(out, key.name, '[', ']');
}

void WriteKey(std::string& out, const RegKey& key, const RegKey& base, std::string_view original) {
    if (key.raw && !key.dirty &&
        key.raw->offset + key.raw->leadIn + key.raw->length <= original.size()) {
        out.append(original.substr(key.raw->offset, key.raw->leadIn + key.raw->length));
        if (!out.empty() && out.back() != '\n') out.push_back('\n');
    } else if (ShouldWrite(key)) {
        out += "\n[";
        AppendPath(out, key, base);
        AppendTicksLine(out, key.modified);
        if (key.className) {
            out += "#class=\"";
            AppendEscaped(out, *key.className, '"', '"');
            out += "\"\n";
        }
        if (key.isLink) out += "#link\n";
        for (const auto& v : key.values)
            AppendValueText(out, v);
    }
    for (const auto& child : key.subkeys)
        WriteKey(out, *child, base, original);
}

bool IsHexDigitAscii(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::unique_ptr<ParsedHive> ParseHive(std::string_view content, HiveParseError* error) {
    Parser parser{content, error, LineReader(content), {}, {}};
    return parser.Run();
}

void AppendEscaped(std::string& out, std::u16string_view text, char quoteA, char quoteB) {
    static const char kEscapes[33] = ".......abtnvfr.............e....";
    char buf[16];
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        size_t left = text.size() - i;
        if (c > 127) {
            bool nextIsHex = left > 1 && text[i + 1] < 128 && IsHexDigitAscii(text[i + 1]);
            int n = std::snprintf(buf, sizeof buf, nextIsHex ? "\\x%04x" : "\\x%x", c);
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (c < 32) {
            if (c == 0 && left == 1) continue;  // the terminator is implied
            if (kEscapes[c] != '.') {
                out.push_back('\\');
                out.push_back(kEscapes[c]);
            } else {
                bool nextIsOctal = left > 1 && text[i + 1] >= '0' && text[i + 1] <= '7';
                int n = std::snprintf(buf, sizeof buf, nextIsOctal ? "\\%03o" : "\\%o", c);
                out.append(buf, static_cast<size_t>(n));
            }
            continue;
        }
        if (c == '\\' || c == quoteA || c == quoteB) out.push_back('\\');
        out.push_back(static_cast<char>(c));
    }
}

void AppendValueText(std::string& out, const RegValue& value) {
    size_t lineStart = out.size();
    if (!value.name.empty()) {
        out.push_back('"');
        AppendEscaped(out, value.name, '"', '"');
        out += "\"=";
    } else {
        out += "@=";
    }
    const std::string& data = value.data;
    switch (value.type) {
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz: {
            // Only properly terminated strings are written as text.
            if (data.size() < 2 || data.size() % 2) break;
            if (data[data.size() - 1] || data[data.size() - 2]) break;
            if (value.type != kRegSz) {
                char buf[24];
                int n = std::snprintf(buf, sizeof buf, "str(%x):", value.type);
                out.append(buf, static_cast<size_t>(n));
            }
            out.push_back('"');
            AppendEscaped(out, BytesToUtf16(data), '"', '"');
            out += "\"\n";
            return;
        }
        case kRegDword: {
            if (data.size() != 4) break;
            uint32_t dw;
            std::memcpy(&dw, data.data(), 4);
            char buf[24];
            int n = std::snprintf(buf, sizeof buf, "dword:%08x\n", dw);
            out.append(buf, static_cast<size_t>(n));
            return;
        }
        default:
            break;
    }
    if (value.type == kRegBinary) {
        out += "hex:";
    } else {
        char buf[24];
        int n = std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
        out.append(buf, static_cast<size_t>(n));
    }
    // The line is wrapped once its count passes 76, as the server counts it.
    size_t count = out.size() - lineStart;
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        auto b = static_cast<unsigned char>(data[i]);
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
        count += 2;
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (++count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    out.push_back('\n');
}

std::string WriteHive(const RegKey& base, std::string_view header, std::string_view trailer,
                      std::string_view original) {
    std::string out;
    out.reserve(original.size() + 4096);
    out.append(header);
    WriteKey(out, base, base, original);
    out.append(trailer);
    return out;
}

std::string NewHiveHeader(std::u16string_view relativeTo, std::string_view arch) {
    std::string out = "WINE REGISTRY Version 2\n;; All keys relative to ";
    std::u16string_view rest = relativeTo;
    bool first = true;
    while (!rest.empty()) {
        size_t cut = rest.find(u'\\');
        if (!first) out += "\\\\";
        AppendEscaped(out, rest.substr(0, cut), '[', ']');
        first = false;
        rest.remove_prefix(cut == std::u16string_view::npos ? rest.size() : cut + 1);
    }
    out += "\n\n#arch=";
    out += arch;
    out += "\n";
    return out;
}

}  // namespace hivewise
