#include "platform/machine/text.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hivewise {
namespace {

// Windows-1252 code points 0x80..0x9F; 0 marks the five unassigned bytes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        char32_t cp = extra == 3 ? (b & 0x07) : extra == 2 ? (b & 0x0F) : (b & 0x1F);
        bool ok = extra > 0;
        for (int k = 1; ok && k <= extra; ++k) {
            if (i + k >= text.size()) {
                ok = false;
                break;
            }
            auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            // Not UTF-8: take the byte as Latin-1 so that nothing is dropped.
            out.push_back(b);
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

namespace {

char AnsiOf(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (size_t k = 0; k < kCp1252High.size(); ++k) {
        if (kCp1252High[k] == c && c != 0) return static_cast<char>(0x80 + k);
    }
    return '?';
}

}  // namespace

std::string Utf16ToAnsi(std::u16string_view text) {
    std::string out;
    Utf16ToAnsiInto(text, out);
    return out;
}

namespace {

// UTF-16LE units (as bytes) to ANSI: eight units at a time where all are ASCII, as nearly
// all of a registry's text is, the rest one by one.
void NarrowUnits(const char* units, size_t count, char* to) {
    auto unitAt = [units](size_t k) {
        return static_cast<char16_t>(static_cast<unsigned char>(units[2 * k]) |
                                     (static_cast<unsigned char>(units[2 * k + 1]) << 8));
    };
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= count; i += 8) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(block, high), zero)) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(block, zero));
            continue;
        }
        for (size_t k = i; k < i + 8; ++k)
            to[k] = AnsiOf(unitAt(k));
    }
#endif
    for (; i < count; ++i)
        to[i] = AnsiOf(unitAt(i));
}

}  // namespace

void Utf16ToAnsiInto(std::u16string_view text, std::string& out) {
    out.resize(text.size());
    NarrowUnits(reinterpret_cast<const char*>(text.data()), text.size(), out.data());
}

void Utf16BytesToAnsiInto(std::string_view bytes, std::string& out) {
    out.resize(bytes.size() / 2);
    NarrowUnits(bytes.data(), out.size(), out.data());
}

char16_t AnsiCharToUtf16(char ch) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0) {
        char16_t m = kCp1252High[b - 0x80];
        return m ? m : b;
    }
    return b;
}

std::u16string AnsiToUtf16(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = AnsiCharToUtf16(text[i]);
    return out;
}

char16_t FoldChar(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs upper/lower on even/odd, with a shifted stretch.
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
        if (c == 0x178) return 0xFF;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) ? c : c + 1;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    // The common start, four units at a time: sorted sibling names (class identifiers,
    // numbered entries) share long ones.
    while (i + 4 <= n && std::memcmp(a.data() + i, b.data() + i, 4 * sizeof(char16_t)) == 0)
        i += 4;
    for (; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x == y) continue;
        x = FoldChar(x);
        y = FoldChar(y);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

std::u16string FoldCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        c = FoldChar(c);
    return out;
}

bool AnsiEqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AnsiFoldChar(a[i]) != AnsiFoldChar(b[i])) return false;
    }
    return true;
}

bool AnsiContainsNoCase(std::string_view text, std::string_view lowerPart) {
    auto same = [](char c, char p) { return c == p || (p >= 'a' && p <= 'z' && c == p - 32); };
    if (lowerPart.empty() || lowerPart.size() > text.size()) return lowerPart.empty();
    for (size_t at = 0; at + lowerPart.size() <= text.size(); ++at) {
        if (!same(text[at], lowerPart[0])) continue;
        size_t k = 1;
        while (k < lowerPart.size() && same(text[at + k], lowerPart[k]))
            ++k;
        if (k == lowerPart.size()) return true;
    }
    return false;
}

void AppendAnsiLower(std::string& out, std::string_view text) {
    size_t at = out.size();
    out.append(text);
    for (size_t i = at; i < out.size(); ++i)
        out[i] = AnsiFoldChar(out[i]);
}

std::string AnsiLower(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = AnsiFoldChar(c);
    return out;
}

std::u16string BytesToUtf16(std::string_view bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return out;
}

std::string Utf16ToBytes(std::u16string_view text) {
    std::string out(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        out[2 * i] = static_cast<char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return out;
}

}  // namespace hivewise
