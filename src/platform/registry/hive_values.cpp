#include "platform/registry/hive_values.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// ASCII bytes as UTF-16LE, eight at a time: every string a walk reads is widened here.
void WidenAscii(std::string_view run, char* to) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= run.size(); i += 8, to += 16) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(run.data() + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(bytes, zero));
    }
#endif
    for (; i < run.size(); ++i, to += 2) {
        to[0] = run[i];
        to[1] = '\0';
    }
}

// Where a decoded string goes: UTF-16 text, or its UTF-16LE bytes as value data holds it.
struct TextSink {
    std::u16string* out;
    void Clear() { out->clear(); }
    void Put(char16_t c) { out->push_back(c); }
    void PutAscii(std::string_view run) {
        size_t at = out->size();
        out->resize(at + run.size());
        WidenAscii(run, reinterpret_cast<char*>(out->data() + at));
    }
    void PutText(std::u16string_view text) { out->append(text); }
};

struct BytesSink {
    std::string* out;
    void Clear() { out->clear(); }
    void Put(char16_t c) {
        const char bytes[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        out->append(bytes, 2);
    }
    void PutAscii(std::string_view run) {
        size_t at = out->size();
        out->resize(at + run.size() * 2);
        WidenAscii(run, out->data() + at);
    }
    void PutText(std::u16string_view text) {
        for (char16_t c : text)
            Put(c);
    }
};

// A plain text as it stands: ASCII, as the ANSI calls give it.
struct AsciiSink {
    std::string* out;
    void Clear() { out->clear(); }
    void Put(char16_t c) { out->push_back(static_cast<char>(c)); }
    void PutAscii(std::string_view run) { out->append(run); }
};

// Only checks: nothing is kept.
struct NoSink {
    void Clear() {}
    void Put(char16_t) {}
    void PutAscii(std::string_view) {}
    void PutText(std::u16string_view) {}
};

// Decodes an escaped string up to the unescaped `stop` character. Returns the number
// of input bytes consumed including `stop`, or 0 when `stop` never comes.
template <typename Sink>
size_t ParseStringTo(std::string_view in, char stop, Sink out) {
    if constexpr (std::is_same_v<Sink, NoSink>) {
        // Only where the string ends matters, and an escape only hides the character after
        // its backslash: the file's check of every value at loading looks for no more.
        size_t i = 0;
        for (;;) {
            size_t end = in.find(stop, i);
            if (end == std::string_view::npos) return 0;
            size_t slash = in.substr(i, end - i).find('\\');
            if (slash == std::string_view::npos) return end + 1;
            i += slash + 2;
            if (i > in.size()) return 0;
        }
    }
    out.Clear();
    size_t i = 0;
    while (i < in.size()) {
        // Runs of plain ASCII are the common case: widen them in one go.
        size_t run = PlainRunEnd(in, i, stop);
        if (run > i) {
            out.PutAscii(in.substr(i, run - i));
            i = run;
            if (i >= in.size()) break;
        }
        char c = in[i];
        if (c == stop) return i + 1;
        if (c != '\\') {
            auto b = static_cast<unsigned char>(c);
            if (b < 0x80) {
                out.Put(b);
                ++i;
            } else {
                // Raw bytes above ASCII: take a UTF-8 sequence as one character.
                size_t j = i + 1;
                while (j < in.size() && (static_cast<unsigned char>(in[j]) & 0xC0) == 0x80)
                    ++j;
                out.PutText(Utf8ToUtf16(in.substr(i, j - i)));
                i = j;
            }
            continue;
        }
        if (i + 1 >= in.size()) return 0;
        char e = in[i + 1];
        i += 2;
        switch (e) {
            case 'a':
                out.Put(u'\a');
                break;
            case 'b':
                out.Put(u'\b');
                break;
            case 'e':
                out.Put(0x1B);
                break;
            case 'f':
                out.Put(u'\f');
                break;
            case 'n':
                out.Put(u'\n');
                break;
            case 'r':
                out.Put(u'\r');
                break;
            case 't':
                out.Put(u'\t');
                break;
            case 'v':
                out.Put(u'\v');
                break;
            case 'x': {
                if (i >= in.size() || HexDigit(in[i]) < 0) {
                    out.Put(u'x');
                    break;
                }
                char16_t v = 0;
                for (int n = 0; n < 4 && i < in.size() && HexDigit(in[i]) >= 0; ++n, ++i) {
                    v = static_cast<char16_t>((v << 4) + HexDigit(in[i]));
                }
                out.Put(v);
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
                out.Put(v);
                break;
            }
            default:
                out.Put(static_cast<unsigned char>(e));
                break;
        }
    }
    return 0;
}

uint32_t ReadHexType(std::string_view digits, bool* ok) {
    uint32_t type = 0;
    *ok = !digits.empty() && digits.size() <= 8;
    for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) *ok = false;
        type = type * 16 + static_cast<uint32_t>(d < 0 ? 0 : d);
    }
    return type;
}

bool IsHexDigitAscii(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A quoted text from `i` (after its opening quote) into `out`, when its only escapes are
// \\ and \" and it stays on its line in ASCII. The place after its closing quote, or npos.
template <typename Sink>
size_t PlainQuoted(std::string_view in, size_t i, Sink out) {
    out.Clear();
    for (;;) {
        const size_t run = PlainRunEnd(in, i, '"');
        if (run > i) out.PutAscii(in.substr(i, run - i));
        if (run >= in.size()) return std::string_view::npos;
        if (in[run] == '"') return run + 1;
        if (in[run] != '\\' || run + 1 >= in.size()) return std::string_view::npos;
        const char escaped = in[run + 1];
        if (escaped != '\\' && escaped != '"') return std::string_view::npos;
        out.Put(static_cast<unsigned char>(escaped));
        i = run + 2;
    }
}

}  // namespace

// Sixteen bytes at a time where the host can, as every value a walk reads is decoded here.
size_t PlainRunEnd(std::string_view in, size_t i, char stop) {
#if defined(__SSE2__)
    const __m128i stops = _mm_set1_epi8(stop);
    const __m128i slash = _mm_set1_epi8('\\');
    const __m128i lineEnd = _mm_set1_epi8('\n');
    const __m128i carriage = _mm_set1_epi8('\r');
    for (; i + 16 <= in.size(); i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, stops), _mm_cmpeq_epi8(bytes, slash)),
            _mm_or_si128(_mm_cmpeq_epi8(bytes, lineEnd), _mm_cmpeq_epi8(bytes, carriage)));
        // A byte above ASCII has its top bit set.
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)) |
                              static_cast<unsigned>(_mm_movemask_epi8(bytes));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    for (; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c == static_cast<unsigned char>(stop) || c == '\\' || c == '\n' || c == '\r' ||
            c >= 0x80)
            break;
    }
    return i;
}

size_t ParseString(std::string_view in, char stop, std::u16string* out) {
    return out ? ParseStringTo(in, stop, TextSink{out}) : ParseStringTo(in, stop, NoSink{});
}

namespace {

// The plain line's value, its name into a NameSink and a text into a DataSink, which then
// gets `terminator` zero bytes.
template <typename NameSink, typename DataSink, typename Value>
size_t DecodePlainLine(std::string_view text, size_t at, Value* value, size_t terminator) {
    constexpr size_t kNotTaken = std::string_view::npos;
    size_t i = at;
    if (i >= text.size()) return kNotTaken;
    if (text[i] == '@') {
        value->name.clear();
        ++i;
    } else if (text[i] == '"') {
        i = PlainQuoted(text, i + 1, NameSink{&value->name});
        if (i == kNotTaken) return kNotTaken;
    } else {
        return kNotTaken;
    }
    if (i >= text.size() || text[i] != '=') return kNotTaken;
    ++i;
    std::string& data = value->data;
    size_t end = kNotTaken;  // where the data ends
    if (i < text.size() && text[i] == '"') {
        end = PlainQuoted(text, i + 1, DataSink{&data});
        if (end == kNotTaken) return kNotTaken;
        data.append(terminator, '\0');
        value->type = kRegSz;
    } else if (text.compare(i, 6, "dword:") == 0) {
        uint32_t number = 0;
        size_t digits = 0;
        for (end = i + 6; end < text.size() && HexDigit(text[end]) >= 0 && digits <= 8; ++end) {
            number = number * 16 + static_cast<uint32_t>(HexDigit(text[end]));
            ++digits;
        }
        if (digits == 0 || digits > 8) return kNotTaken;
        data.resize(4);
        std::memcpy(data.data(), &number, 4);  // little-endian host
        value->type = kRegDword;
    } else if (text.compare(i, 4, "hex:") == 0) {
        // Pairs of digits, each but the last followed by a comma.
        data.clear();
        for (end = i + 4; end + 2 <= text.size();) {
            const int high = HexDigit(text[end]);
            const int low = HexDigit(text[end + 1]);
            if ((high | low) < 0) break;
            data.push_back(static_cast<char>(high * 16 + low));
            end += 2;
            if (end >= text.size() || text[end] != ',') break;
            ++end;
        }
        value->type = kRegBinary;
    } else {
        return kNotTaken;
    }
    // Nothing follows the data on its line.
    if (end == text.size()) return end;
    return text[end] == '\n' ? end + 1 : kNotTaken;
}

}  // namespace

size_t DecodePlainValueLine(std::string_view text, size_t at, RegValue* value) {
    return DecodePlainLine<TextSink, BytesSink>(text, at, value, 2);
}

size_t DecodePlainValueLine(std::string_view text, size_t at, PlainValue* value) {
    return DecodePlainLine<AsciiSink, AsciiSink>(text, at, value, 1);
}

bool ValueReader::Read(std::string_view line, RegValue* value) {
    int number = reader_.Number();
    size_t pos;
    std::u16string* name = value ? &value->name : nullptr;
    if (line[0] == '@') {
        if (name) name->clear();
        pos = 1;
    } else {
        size_t used = ParseString(line.substr(1), '"', name);
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
    std::string* data = value ? &value->data : nullptr;
    if (data) data->clear();
    uint32_t type = kRegSz;
    bool ok = true;
    if (!rest.empty() && rest[0] == '"') {
        type = kRegSz;
    } else if (rest.substr(0, 4) == "str(") {
        size_t close = rest.find("):");
        if (close == std::string_view::npos) return Fail(number, "bad string type");
        type = ReadHexType(rest.substr(4, close - 4), &ok);
        if (!ok) return Fail(number, "bad string type");
        rest.remove_prefix(close + 2);
        if (rest.empty() || rest[0] != '"') return Fail(number, "string data expected");
    } else if (rest.substr(0, 6) == "dword:") {
        std::string_view digits = rest.substr(6);
        while (!digits.empty() && IsSpace(digits.back()))
            digits.remove_suffix(1);
        uint32_t v = ReadHexType(digits, &ok);
        if (!ok) return Fail(number, "bad dword data");
        if (value) {
            value->type = kRegDword;
            data->resize(4);
            std::memcpy(data->data(), &v, 4);  // little-endian host
        }
        return true;
    } else if (rest.substr(0, 4) == "hex:" || rest.substr(0, 4) == "hex(") {
        type = kRegBinary;
        if (rest[3] == '(') {
            size_t close = rest.find("):");
            if (close == std::string_view::npos) return Fail(number, "bad hex type");
            type = ReadHexType(rest.substr(4, close - 4), &ok);
            if (!ok) return Fail(number, "bad hex type");
            rest.remove_prefix(close + 2);
        } else {
            rest.remove_prefix(4);
        }
        if (value) value->type = type;
        return ReadHex(rest, data);
    } else {
        return Fail(number, "unrecognised value data");
    }
    // A quoted string, whatever type str(...) named: the type is kept with the text.
    size_t used = data ? ParseStringTo(rest.substr(1), '"', BytesSink{data})
                       : ParseStringTo(rest.substr(1), '"', NoSink{});
    if (!used) return Fail(number, "string not closed");
    std::string_view after = rest.substr(1 + used);
    while (!after.empty() && IsSpace(after.front()))
        after.remove_prefix(1);
    if (!after.empty()) return Fail(number, "text after string data");
    if (value) {
        value->type = type;
        data->push_back('\0');
        data->push_back('\0');
    }
    return true;
}

bool ValueReader::Fail(int line, std::string message) {
    if (error_) {
        error_->line = line;
        error_->message = std::move(message);
    }
    return false;
}

// Hex bytes, comma separated, continued over lines ending in '\'.
bool ValueReader::ReadHex(std::string_view rest, std::string* data) {
    static constexpr auto kHexValue = [] {
        std::array<int8_t, 256> table{};
        for (int c = 0; c < 256; ++c)
            table[static_cast<size_t>(c)] = static_cast<int8_t>(HexDigit(static_cast<char>(c)));
        return table;
    }();
    auto hexValue = [](char c) { return kHexValue[static_cast<unsigned char>(c)]; };
    int line = reader_.Number();
    size_t i = 0;
    // Bytes go into room made for a line's worth at a time, cut to what was read at the end.
    // A line of single digits holds more bytes than that guess, so every byte checks it.
    size_t used = data ? data->size() : 0;
    auto room = [&](size_t more) {
        if (data && data->size() < used + more) data->resize(used + more);
    };
    auto put = [&](int byte) {
        if (!data) return;
        room(1);
        (*data)[used++] = static_cast<char>(byte);
    };
    room(rest.size() / 3 + 1);
    while (i < rest.size()) {
        // The usual two digits and a comma, in one step.
        if (i + 3 <= rest.size() && rest[i + 2] == ',') {
            const int hi = hexValue(rest[i]);
            const int lo = hexValue(rest[i + 1]);
            if ((hi | lo) >= 0) {
                put(hi * 16 + lo);
                i += 3;
                continue;
            }
        }
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        if (i >= rest.size()) break;
        if (rest[i] == '\\') {
            ++i;
            while (i < rest.size() && IsSpace(rest[i]))
                ++i;
            if (i != rest.size()) return Fail(line, "bad continuation in hex data");
            std::string_view next;
            if (!reader_.Next(next)) return Fail(line, "hex data cut off at end of file");
            line = reader_.Number();
            rest = next;
            i = 0;
            room(rest.size() / 3 + 1);
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
        put(value);
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        if (i < rest.size() && rest[i] == ',') ++i;
    }
    if (data) data->resize(used);
    return true;
}

namespace {

// A character without its letter case: ASCII letters fold here, FoldChar takes the rest.
inline char16_t FoldUnit(char16_t c) {
    return c < 0x80 ? static_cast<char16_t>(
                          c | (static_cast<unsigned>((c | 0x20) - u'a') < 26u ? 0x20 : 0))
                    : FoldChar(c);
}

// A unit of a name: a plain value's name is ASCII.
inline char16_t UnitOf(char16_t c) {
    return c;
}
inline char16_t UnitOf(char c) {
    return static_cast<unsigned char>(c);
}

// A hash of a name that letter case does not change.
template <typename Char>
uint64_t FoldedHash(std::basic_string_view<Char> name) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (Char c : name)
        h = (h ^ FoldUnit(UnitOf(c))) * 0x100000001b3ULL;
    return h;
}

bool SameNameNoCase(std::u16string_view a, std::u16string_view b) {
    return EqualsNoCase(a, b);
}
bool SameNameNoCase(std::string_view a, std::string_view b) {
    return AnsiEqualsNoCase(a, b);
}

// For each value, the index of the first value of its name (letter case aside). Each name
// is hashed once: a key's values are decoded again for every walk that reads them, and a
// crafted key may hold very many.
template <typename Value>
bool FirstOfEachName(const std::vector<Value>& values, std::vector<uint32_t>* first) {
    const size_t n = values.size();
    constexpr size_t kFew = 32;
    uint64_t local[kFew];
    std::vector<uint64_t> many;
    uint64_t* hashes = local;
    if (n > kFew) {
        many.resize(n);
        hashes = many.data();
    }
    // Few names are told apart by their length and folded first and last characters, which
    // cost less than a hash of every character; many need the hash to spread in a table.
    for (size_t i = 0; i < n; ++i) {
        const std::basic_string_view<typename decltype(Value::name)::value_type> name =
            values[i].name;
        hashes[i] = n > kFew       ? FoldedHash(name)
                    : name.empty() ? 0
                                   : (uint64_t{FoldUnit(UnitOf(name.front()))} << 48 |
                                      uint64_t{FoldUnit(UnitOf(name.back()))} << 32 | name.size());
    }
    auto same = [&](size_t a, size_t b) {
        return hashes[a] == hashes[b] && SameNameNoCase(values[a].name, values[b].name);
    };
    bool repeated = false;
    if (n <= kFew) {
        // Few names: each against those before it.
        for (size_t i = 0; i < n; ++i) {
            size_t index = i;
            for (size_t j = 0; j < i; ++j) {
                if (same(j, i)) {
                    index = j;
                    repeated = true;
                    break;
                }
            }
            if (first) first->push_back(static_cast<uint32_t>(index));
        }
        return repeated;
    }
    // Many: an open table of indexes by hash, at most half full.
    size_t size = 16;
    while (size < 2 * n)
        size *= 2;
    constexpr uint32_t kFree = UINT32_MAX;
    std::vector<uint32_t> table(size, kFree);
    for (size_t i = 0; i < n; ++i) {
        auto index = static_cast<uint32_t>(i);
        for (size_t at = hashes[i] & (size - 1);; at = (at + 1) & (size - 1)) {
            if (table[at] == kFree) {
                table[at] = index;
                break;
            }
            if (same(table[at], i)) {
                index = table[at];
                repeated = true;
                break;
            }
        }
        if (first) first->push_back(index);
    }
    return repeated;
}

template <typename Value>
void DropRepeated(std::vector<Value>& values) {
    if (values.size() < 2 || !FirstOfEachName(values, nullptr)) return;
    std::vector<uint32_t> first;
    first.reserve(values.size());
    FirstOfEachName(values, &first);
    // The first place of a name keeps the last value given for it.
    std::vector<uint32_t> place(values.size());
    size_t kept = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (first[i] == i) {
            place[i] = static_cast<uint32_t>(kept);
            if (kept != i) values[kept] = std::move(values[i]);
            ++kept;
        } else {
            values[place[first[i]]] = std::move(values[i]);
        }
    }
    values.resize(kept);
}

enum class LineTaken { kYes, kLeftOut, kGiveUp };

// The section's values into `values`, replacing them but reusing their elements' memory.
// A value line the plain decoder does not take goes to `other`, which decodes it into the
// value it is given, leaves it out, or gives the section up (false is then returned).
template <typename Value, typename Other>
bool DecodeSection(std::string_view text, const RawSection& section, std::vector<Value>* values,
                   Other other) {
    uint64_t end = uint64_t{section.offset} + section.leadIn + section.length;
    if (section.body > end || end > text.size()) {
        values->clear();
        return true;
    }
    std::string_view body = text.substr(section.body, end - section.body);
    LineReader reader(body);
    std::string_view line;
    size_t count = 0;
    for (;;) {
        const size_t at = reader.Position();
        if (at < body.size() && (body[at] == '"' || body[at] == '@')) {
            if (count == values->size()) values->emplace_back();
            const size_t next = DecodePlainValueLine(body, at, &(*values)[count]);
            if (next != std::string_view::npos) {
                ++count;
                reader.SkipTo(next);
                continue;
            }
        }
        if (!reader.Next(line)) break;
        size_t first;
        char c = FirstChar(line, &first);
        if (c != '"' && c != '@') continue;
        if (count == values->size()) values->emplace_back();
        const LineTaken taken = other(reader, line.substr(first), &(*values)[count]);
        if (taken == LineTaken::kGiveUp) return false;
        if (taken == LineTaken::kYes) ++count;
    }
    values->resize(count);
    DropRepeatedNames(*values);
    return true;
}

}  // namespace

void DropRepeatedNames(std::vector<RegValue>& values) {
    DropRepeated(values);
}

void DropRepeatedNames(std::vector<PlainValue>& values) {
    DropRepeated(values);
}

void DecodeSectionValues(std::string_view text, const RawSection& section,
                         std::vector<RegValue>* values) {
    DecodeSection(text, section, values,
                  [](LineReader& reader, std::string_view line, RegValue* value) {
                      ValueReader parser(reader, nullptr);
                      return parser.Read(line, value) ? LineTaken::kYes : LineTaken::kLeftOut;
                  });
}

bool DecodePlainSectionValues(std::string_view text, const RawSection& section,
                              std::vector<PlainValue>* values) {
    return DecodeSection(text, section, values, [](LineReader&, std::string_view, PlainValue*) {
        return LineTaken::kGiveUp;
    });
}

void AppendEscaped(std::string& out, std::u16string_view text, char quoteA, char quoteB,
                   bool impliedTerminator) {
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
            if (c == 0 && left == 1 && impliedTerminator) continue;
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
            AppendEscaped(out, BytesToUtf16(data), '"', '"', true);
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

}  // namespace hivewise
