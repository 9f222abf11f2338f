#include "report/output_text.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "platform/machine/text.h"

namespace hivewise {

namespace {

// The length of the well-formed sequence at `i`, or 0.
size_t SequenceLength(std::string_view text, size_t i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // overlong
        if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;   // overlong
        if (b == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// The bytes a JSON literal escapes: quote, backslash and the controls.
constexpr std::array<bool, 256> kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (int b = 0; b < 0x20; ++b)
        escaped[b] = true;
    escaped['"'] = escaped['\\'] = escaped[0x7F] = true;
    return escaped;
}();

// The first byte from `i` on that a JSON literal escapes, or the end. Eight bytes at a time:
// every finding's texts pass here, paths with a backslash every few characters.
size_t NextEscaped(std::string_view text, size_t i) {
    namespace ws = word_search;
    for (; i + 8 <= text.size(); i += 8) {
        const uint64_t word = ws::Load(text.data() + i);
        const uint64_t hits = ws::Below(word, 0x20) | ws::Equal(word, '"') | ws::Equal(word, '\\') |
                              ws::Equal(word, 0x7F);
        if (hits) return i + ws::FirstMarked(hits);
    }
    while (i < text.size() && !kEscaped[static_cast<unsigned char>(text[i])])
        ++i;
    return i;
}

// Appends well-formed UTF-8 as a JSON literal; runs that need no escape are copied whole.
void AppendQuoted(std::string& json, std::string_view utf8) {
    json += '"';
    size_t plain = 0;
    for (size_t i = 0; (i = NextEscaped(utf8, i)) < utf8.size(); ++i) {
        const char c = utf8[i];
        json.append(utf8.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"':
                json += "\\\"";
                break;
            case '\\':
                json += "\\\\";
                break;
            case '\n':
                json += "\\n";
                break;
            case '\r':
                json += "\\r";
                break;
            case '\t':
                json += "\\t";
                break;
            case '\b':
                json += "\\b";
                break;
            case '\f':
                json += "\\f";
                break;
            default: {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                json += escape;
            }
        }
    }
    json.append(utf8.substr(plain));
    json += '"';
}

std::string Quote(std::string_view utf8) {
    std::string json;
    json.reserve(utf8.size() + 8);
    AppendQuoted(json, utf8);
    return json;
}

std::string Replaced(std::string_view utf8, bool oneLine) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x20 || b == 0x7F) {
            bool layout = b == '\n' || b == '\t';
            out += layout ? (oneLine ? ' ' : static_cast<char>(b)) : '?';
            ++i;
            continue;
        }
        size_t length = SequenceLength(utf8, i);
        if (length == 0) {
            out += '?';  // a stray byte could start a control sequence on some terminals
            ++i;
            continue;
        }
        // U+0080..U+009F are the C1 controls, CSI (U+009B) among them.
        if (length == 2 && b == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            out += '?';
        } else {
            out.append(utf8.substr(i, length));
        }
        i += length;
    }
    return out;
}

}  // namespace

bool IsStrictUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        size_t length = SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string AnsiToUtf8(std::string_view ansi) {
    if (IsAscii(ansi)) return std::string(ansi);
    return Utf16ToUtf8(AnsiToUtf16(ansi));
}

std::string JsonString(std::string_view ansi) {
    std::string json;
    AppendJsonString(json, ansi);
    return json;
}

void AppendJsonString(std::string& json, std::string_view ansi) {
    if (IsAscii(ansi)) {
        AppendQuoted(json, ansi);
    } else {
        AppendQuoted(json, AnsiToUtf8(ansi));
    }
}

std::string JsonHostString(std::string_view host) {
    return IsStrictUtf8(host) ? Quote(host) : JsonString(host);
}

std::string TerminalSafe(std::string_view utf8) {
    return Replaced(utf8, false);
}

std::string TerminalField(std::string_view utf8) {
    return Replaced(utf8, true);
}

}  // namespace hivewise
