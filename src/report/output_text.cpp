#include "report/output_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

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

// Marks, in the high bit of each byte of a word, the bytes a JSON literal escapes: the
// controls, quote, backslash and 0x7F. Unlike word_search's masks every mark is exact
// (no borrow crosses a byte), so the marks of a word are followed one after another.
uint64_t EscapedMarks(uint64_t word) {
    namespace ws = word_search;
    constexpr uint64_t kLow7 = ws::kOnes * 0x7F;
    auto zero = [](uint64_t x) { return ~(((x & kLow7) + kLow7) | x) & ws::kHighs; };
    const uint64_t control = ~(((word & kLow7) + ws::kOnes * 0x60) | word) & ws::kHighs;
    return control | zero(word ^ ws::kOnes * '"') | zero(word ^ ws::kOnes * '\\') |
           zero(word ^ ws::kOnes * 0x7F);
}

bool Escaped(unsigned char b) {
    return b < 0x20 || b == '"' || b == '\\' || b == 0x7F;
}

// The letter of a byte's two-character escape, or 0 when it is written \u00XX.
constexpr std::array<char, 128> kShortEscape = [] {
    std::array<char, 128> letters{};
    letters['"'] = '"';
    letters['\\'] = '\\';
    letters['\n'] = 'n';
    letters['\r'] = 'r';
    letters['\t'] = 't';
    letters['\b'] = 'b';
    letters['\f'] = 'f';
    return letters;
}();

// Writes the escape of `c`, an escaped byte, at `out`; returns the end.
char* WriteEscape(char* out, unsigned char c) {
    *out++ = '\\';
    if (const char letter = kShortEscape[c & 0x7F]) {
        *out++ = letter;
        return out;
    }
    constexpr char kHex[] = "0123456789abcdef";
    std::memcpy(out, "u00", 3);
    out[3] = kHex[c >> 4];
    out[4] = kHex[c & 0xF];
    return out + 5;
}

// Appends well-formed UTF-8 as a JSON literal. The text goes out through a buffer a piece
// at a time, eight bytes at a time where none needs an escape: paths hold a backslash
// every few characters, and an append per run cost more than the escapes themselves.
void AppendQuoted(std::string& json, std::string_view utf8) {
    constexpr size_t kPiece = 256;
    // The quotes, every byte of a piece escaped as \u00XX, and the spill of a word's store.
    char buffer[1 + kPiece * 6 + 8 + 1];
    char* out = buffer;
    *out++ = '"';
    const char* in = utf8.data();
    const char* const end = in + utf8.size();
    while (true) {
        const char* const pieceEnd = in + std::min<size_t>(kPiece, static_cast<size_t>(end - in));
        for (; pieceEnd - in >= 8; in += 8) {
            const uint64_t word = word_search::Load(in);
            uint64_t marks = EscapedMarks(word);
            // The word is stored whole; after each escape, what follows it is stored again.
            std::memcpy(out, &word, 8);
            size_t done = 0;
            for (; marks; marks &= marks - 1) {
                const size_t at = word_search::FirstMarked(marks);
                out = WriteEscape(out + (at - done), static_cast<unsigned char>(in[at]));
                done = at + 1;
                if (done < 8) {
                    const uint64_t rest = word >> (8 * done);
                    std::memcpy(out, &rest, 8);
                }
            }
            out += 8 - done;
        }
        for (; in < pieceEnd; ++in) {
            const auto b = static_cast<unsigned char>(*in);
            if (Escaped(b)) {
                out = WriteEscape(out, b);
            } else {
                *out++ = *in;
            }
        }
        if (in == end) break;
        json.append(buffer, static_cast<size_t>(out - buffer));
        out = buffer;
    }
    *out++ = '"';
    json.append(buffer, static_cast<size_t>(out - buffer));
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
