#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Text conversions and case rules shared by the registry and the file layer.
// Registry names and string data are kept as UTF-16 (as the registry keeps them);
// the program's own view is the Windows-1252 ANSI code page, the terminal's is UTF-8.
namespace hivewise {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Windows-1252. Characters without a mapping become '?', as WideCharToMultiByte does.
std::string Utf16ToAnsi(std::u16string_view text);
// The same into `out`, whose memory is reused: one ANSI character per UTF-16 unit.
void Utf16ToAnsiInto(std::u16string_view text, std::string& out);
// UTF-16LE bytes (an odd last byte ignored) to ANSI, into `out`.
void Utf16BytesToAnsiInto(std::string_view bytes, std::string& out);
std::u16string AnsiToUtf16(std::string_view text);
// One ANSI character's UTF-16 code unit.
char16_t AnsiCharToUtf16(char c);

// Lower-case mapping used for comparing names (ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic), the order in which the registry sorts sub-keys.
char16_t FoldChar(char16_t c);
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string FoldCase(std::u16string_view text);

// The same rules on ANSI text. Folding is a table look-up: scans fold every key path and
// finding they compare.
namespace text_detail {
constexpr char FoldAnsiByte(unsigned b) {
    if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
    if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return static_cast<char>(b + 32);
    if (b == 0x8A || b == 0x8C || b == 0x8E) return static_cast<char>(b + 16);
    if (b == 0x9F) return static_cast<char>(0xFF);
    return static_cast<char>(b);
}
struct AnsiFoldTable {
    char folded[256];
    constexpr AnsiFoldTable() : folded() {
        for (unsigned b = 0; b < 256; ++b)
            folded[b] = FoldAnsiByte(b);
    }
};
inline constexpr AnsiFoldTable kAnsiFold{};
}  // namespace text_detail
inline char AnsiFoldChar(char c) {
    return text_detail::kAnsiFold.folded[static_cast<unsigned char>(c)];
}
// Searching text eight bytes at a time. A word holds the bytes from `at` with the first
// one lowest; a mask marks bytes by their high bit, and only its lowest mark is exact
// (borrows may mark bytes above it), which is the first byte in the text that matches.
// The program reads UTF-16LE data as its own text, so it runs on little-endian hosts only,
// where a word loaded from memory holds its first byte lowest.
static_assert(std::endian::native == std::endian::little, "UTF-16LE data is read as native text");
namespace word_search {
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
inline uint64_t Load(const char* at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}
// Bytes equal to `byte`.
inline uint64_t Equal(uint64_t word, unsigned char byte) {
    const uint64_t x = word ^ (kOnes * byte);
    return (x - kOnes) & ~x & kHighs;
}
// Bytes below `bound` (at most 0x80).
inline uint64_t Below(uint64_t word, unsigned char bound) {
    return (word - kOnes * bound) & ~word & kHighs;
}
// Bytes from 0x80 on.
inline uint64_t High(uint64_t word) {
    return word & kHighs;
}
// The place in the word of the first marked byte of a mask that is not 0.
inline size_t FirstMarked(uint64_t mask) {
    return static_cast<size_t>(std::countr_zero(mask)) / 8;
}
}  // namespace word_search

// Whether every byte is below 0x80 (ASCII reads the same in every code page).
inline bool IsAscii(std::string_view text) {
    // Eight bytes at a time: every finding's texts pass here on their way out.
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if (word & 0x8080808080808080ULL) return false;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    }
    return true;
}
// Appends `text` folded to `out`.
void AppendAnsiLower(std::string& out, std::string_view text);
bool AnsiEqualsNoCase(std::string_view a, std::string_view b);
// Whether `text` holds `lowerPart` (lower-case ASCII) in any letter case, without folding a
// copy: only 'A' to 'Z' fold into ASCII letters.
bool AnsiContainsNoCase(std::string_view text, std::string_view lowerPart);
std::string AnsiLower(std::string_view text);

// String value data is UTF-16LE bytes.
std::u16string BytesToUtf16(std::string_view bytes);
std::string Utf16ToBytes(std::u16string_view text);

}  // namespace hivewise
