#include "platform/registry/plain_value_line.h"

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/machine/text.h"
#include "platform/registry/hive_values.h"

namespace hivewise {
namespace {

constexpr size_t kNone = std::string_view::npos;

bool IsHex(char c) {
    return HexDigit(c) >= 0;
}

// The first quote, backslash or line feed from `i`, or the text's end.
size_t QuoteSlashOrLineEnd(const char* p, size_t n, size_t i) {
    namespace ws = word_search;
    for (; i + 8 <= n; i += 8) {
        const uint64_t word = ws::Load(p + i);
        const uint64_t hits = ws::Equal(word, '"') | ws::Equal(word, '\\') | ws::Equal(word, '\n');
        if (hits) return i + ws::FirstMarked(hits);
    }
    while (i < n && p[i] != '"' && p[i] != '\\' && p[i] != '\n')
        ++i;
    return i;
}

// Just past the quote closing the text from `i`, where a backslash hides the character
// after it; npos when the line ends first.
size_t ClosingQuoteEnd(const char* p, size_t n, size_t i) {
    for (;;) {
        i = QuoteSlashOrLineEnd(p, n, i);
        if (i >= n || p[i] == '\n') return kNone;
        if (p[i] == '"') return i + 1;
        // An escape: a line end after the backslash leaves the text open.
        if (i + 1 >= n || p[i + 1] == '\n') return kNone;
        i += 2;
    }
}

size_t SkipSpaces(const char* p, size_t n, size_t i) {
    while (i < n && IsSpace(p[i]))
        ++i;
    return i;
}

// The line's end when only blanks are left from `i`.
size_t EndAfterBlanks(const char* p, size_t n, size_t i) {
    i = SkipSpaces(p, n, i);
    if (i >= n) return n;
    return p[i] == '\n' ? i + 1 : kNone;
}

// Past the name at `i`: blanks, '=', blanks, then where the data starts; npos when the
// '=' or the data is missing.
size_t DataStart(const char* p, size_t n, size_t i) {
    i = SkipSpaces(p, n, i);
    if (i >= n || p[i] != '=') return kNone;
    i = SkipSpaces(p, n, i + 1);
    return i < n ? i : kNone;
}

bool StartsWith(const char* p, size_t n, size_t i, std::string_view word) {
    return n - i >= word.size() && std::string_view(p + i, word.size()) == word;
}

// One to eight hex digits from `i`; their end, or npos.
size_t HexNumberEnd(const char* p, size_t n, size_t i) {
    size_t end = i;
    while (end < n && end - i <= 8 && IsHex(p[end]))
        ++end;
    return end > i && end - i <= 8 ? end : kNone;
}

// Hex digits in pairs from `i`, each pair but the last followed by a comma; their end.
size_t PairsEnd(const char* p, size_t n, size_t i) {
    while (i + 1 < n && IsHex(p[i]) && IsHex(p[i + 1])) {
        i += 2;
        if (i >= n || p[i] != ',') break;
        ++i;
    }
    return i;
}

// The line read byte by byte, over as many lines as its hex bytes continue.
size_t WholeLineEnd(std::string_view text, size_t at, int* lines) {
    const char* p = text.data();
    const size_t n = text.size();
    size_t i = at;
    if (i >= n) return kNone;
    if (p[i] == '"') {
        i = ClosingQuoteEnd(p, n, i + 1);
        if (i == kNone) return kNone;
    } else if (p[i] == '@') {
        ++i;
    } else {
        return kNone;
    }
    i = DataStart(p, n, i);
    if (i == kNone) return kNone;
    if (StartsWith(p, n, i, "dword:")) {
        i = HexNumberEnd(p, n, i + 6);
        return i == kNone ? kNone : EndAfterBlanks(p, n, i);
    }
    // A type in brackets: "str(" or "hex(", one to eight digits, "):".
    const bool typed = StartsWith(p, n, i, "str(") || StartsWith(p, n, i, "hex(");
    const bool hex = p[i] == 'h';
    if (typed) {
        i = HexNumberEnd(p, n, i + 4);
        if (i == kNone || !StartsWith(p, n, i, "):")) return kNone;
        i += 2;
    } else if (StartsWith(p, n, i, "hex:")) {
        i += 4;
    } else if (p[i] != '"') {
        return kNone;
    }
    if (!hex) {
        if (i >= n || p[i] != '"') return kNone;
        i = ClosingQuoteEnd(p, n, i + 1);
        return i == kNone ? kNone : EndAfterBlanks(p, n, i);
    }
    for (;;) {
        i = PairsEnd(p, n, i);
        if (i >= n || p[i] != '\\') return EndAfterBlanks(p, n, i);
        // Continued: only blanks may follow the backslash, and a next line must come.
        i = EndAfterBlanks(p, n, i + 1);
        if (i == kNone || i >= n) return kNone;
        ++*lines;
        i = SkipSpaces(p, n, i);
    }
}

#if defined(__SSE2__)
// Most value lines fit in 64 bytes: their quotes, backslashes and line end are found for
// all of the bytes at once.
constexpr size_t kWindow = 64;
constexpr size_t kTryWhole = kNone - 1;

struct WindowMarks {
    uint64_t quotes = 0;
    uint64_t slashes = 0;
    uint64_t ends = 0;
};

// Marks of the 64 bytes from `p`, the first byte lowest.
WindowMarks MarksOf(const char* p) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i slash = _mm_set1_epi8('\\');
    const __m128i lineEnd = _mm_set1_epi8('\n');
    WindowMarks marks;
    auto mark = [&](int k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        auto marked = [&](__m128i c) {
            const auto bits = static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, c)));
            return uint64_t{bits} << (16 * k);
        };
        marks.quotes |= marked(quote);
        marks.slashes |= marked(slash);
        marks.ends |= marked(lineEnd);
    };
    mark(0);
    mark(1);
    mark(2);
    mark(3);
    return marks;
}

// The bytes that a backslash hides: each run of backslashes hides its own every second
// byte, and the byte after it when the run is odd. Without a branch per backslash, as paths
// hold several and their number varies from line to line.
uint64_t HiddenBySlashes(uint64_t slashes) {
    constexpr uint64_t kEven = 0x5555555555555555ULL;
    const uint64_t runStarts = slashes & ~(slashes << 1);
    // Adding a run's first bit carries to the byte after the run.
    const uint64_t endsFromEven = (slashes + (runStarts & kEven)) & ~slashes;
    const uint64_t endsFromOdd = (slashes + (runStarts & ~kEven)) & ~slashes;
    // An odd run starting on an even byte ends on an odd one, and the other way round.
    return (endsFromEven & ~kEven) | (endsFromOdd & kEven);
}

// The line at `at`, with 64 bytes to read there: as WholeLineEnd, or kTryWhole for a line
// longer than that, continued, or with a typed value, which the byte-wise reading takes.
size_t WindowLineEnd(const char* p, size_t at) {
    const WindowMarks marks = MarksOf(p + at);
    if (!marks.ends) return kTryWhole;
    const size_t length = static_cast<size_t>(std::countr_zero(marks.ends));
    const uint64_t inLine = (uint64_t{1} << length) - 1;
    uint64_t quotes = marks.quotes & inLine & ~HiddenBySlashes(marks.slashes & inLine);
    const size_t end = at + length;
    auto nextQuote = [&]() {
        return quotes ? at + static_cast<size_t>(std::countr_zero(quotes)) : kNone;
    };
    size_t i = at;
    if (p[at] == '"') {
        quotes &= quotes - 1;
        i = nextQuote();
        if (i == kNone) return kNone;
        quotes &= quotes - 1;
        ++i;
    } else if (p[at] == '@') {
        ++i;
    } else {
        return kNone;
    }
    i = DataStart(p, end, i);
    if (i == kNone) return kNone;
    if (p[i] == '"') {
        // Only blanks and '=' lie between the name and here: this is the next quote.
        if (nextQuote() != i) return kNone;
        quotes &= quotes - 1;
        i = nextQuote();
        if (i == kNone) return kNone;
        ++i;
    } else if (StartsWith(p, end, i, "dword:")) {
        i = HexNumberEnd(p, end, i + 6);
        if (i == kNone) return kNone;
    } else if (StartsWith(p, end, i, "hex:")) {
        i = PairsEnd(p, end, i + 4);
        if (i < end && p[i] == '\\') return kTryWhole;
    } else {
        return kTryWhole;
    }
    i = SkipSpaces(p, end, i);
    return i == end ? end + 1 : kNone;
}
#endif

}  // namespace

size_t PlainValueLineEnd(std::string_view text, size_t at, int* lines) {
    *lines = 1;
    // Key, option and blank lines come here too: they are turned away before any scan.
    if (at >= text.size() || (text[at] != '"' && text[at] != '@')) return kNone;
#if defined(__SSE2__)
    if (text.size() - at >= kWindow) {
        size_t end = WindowLineEnd(text.data(), at);
        if (end != kTryWhole) return end;
    }
#endif
    return WholeLineEnd(text, at, lines);
}

}  // namespace hivewise
