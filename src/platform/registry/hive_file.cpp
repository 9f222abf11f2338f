#include "platform/registry/hive_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

// Where a decoded string goes: UTF-16 text, or its UTF-16LE bytes as value data holds it.
struct TextSink {
    std::u16string* out;
    void Clear() { out->clear(); }
    void Put(char16_t c) { out->push_back(c); }
    void PutAscii(std::string_view run) {
        size_t at = out->size();
        out->resize(at + run.size());
        for (char c : run)
            (*out)[at++] = static_cast<unsigned char>(c);
    }
    void PutText(std::u16string_view text) { out->append(text); }
};

struct BytesSink {
    std::string* out;
    void Clear() { out->clear(); }
    void Put(char16_t c) {
        out->push_back(static_cast<char>(c & 0xFF));
        out->push_back(static_cast<char>(c >> 8));
    }
    void PutAscii(std::string_view run) {
        size_t at = out->size();
        out->resize(at + run.size() * 2);
        for (char c : run) {
            (*out)[at++] = c;
            (*out)[at++] = '\0';
        }
    }
    void PutText(std::u16string_view text) {
        for (char16_t c : text)
            Put(c);
    }
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
    out.Clear();
    size_t i = 0;
    while (i < in.size()) {
        // Runs of plain ASCII are the common case: widen them in one go.
        size_t run = i;
        while (run < in.size() && in[run] != stop && in[run] != '\\' &&
               static_cast<unsigned char>(in[run]) < 0x80) {
            ++run;
        }
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

size_t ParseString(std::string_view in, char stop, std::u16string* out) {
    return out ? ParseStringTo(in, stop, TextSink{out}) : ParseStringTo(in, stop, NoSink{});
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

// One value line (with its continuation lines) into `value`, or only checked when
// `value` is null. Errors name the line they were found on.
class ValueReader {
  public:
    ValueReader(LineReader& reader, HiveParseError* error) : reader_(reader), error_(error) {}

    bool Read(std::string_view line, RegValue* value) {
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

  private:
    bool Fail(int line, std::string message) {
        if (error_) {
            error_->line = line;
            error_->message = std::move(message);
        }
        return false;
    }

    // Hex bytes, comma separated, continued over lines ending in '\'.
    bool ReadHex(std::string_view rest, std::string* data) {
        int line = reader_.Number();
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
                if (!reader_.Next(next)) return Fail(line, "hex data cut off at end of file");
                line = reader_.Number();
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
            if (data) data->push_back(static_cast<char>(value));
            while (i < rest.size() && IsSpace(rest[i]))
                ++i;
            if (i < rest.size() && rest[i] == ',') ++i;
        }
        return true;
    }

    LineReader& reader_;
    HiveParseError* error_;
};

// The first character of a line that is not blank, or 0 for a blank line.
char FirstChar(std::string_view line, size_t* first) {
    size_t i = 0;
    while (i < line.size() && IsSpace(line[i]))
        ++i;
    *first = i;
    return i < line.size() ? line[i] : 0;
}

// Names repeat only in hand-edited files; the later one wins, as on loading.
void DropRepeatedNames(std::vector<RegValue>& values) {
    if (values.size() < 2) return;
    bool repeated = false;
    if (values.size() <= 16) {
        for (size_t i = 1; i < values.size() && !repeated; ++i)
            for (size_t j = 0; j < i && !repeated; ++j)
                repeated = EqualsNoCase(values[i].name, values[j].name);
    } else {
        std::vector<const RegValue*> sorted;
        sorted.reserve(values.size());
        for (const auto& v : values)
            sorted.push_back(&v);
        std::sort(sorted.begin(), sorted.end(), [](const RegValue* a, const RegValue* b) {
            return CompareNoCase(a->name, b->name) < 0;
        });
        for (size_t i = 1; i < sorted.size() && !repeated; ++i)
            repeated = EqualsNoCase(sorted[i - 1]->name, sorted[i]->name);
    }
    if (!repeated) return;
    // The first place of a name keeps the last value given for it.
    std::vector<RegValue> kept;
    for (auto& v : values) {
        auto it = std::find_if(kept.begin(), kept.end(),
                               [&](const RegValue& k) { return EqualsNoCase(k.name, v.name); });
        if (it == kept.end()) {
            kept.push_back(std::move(v));
        } else {
            *it = std::move(v);
        }
    }
    values = std::move(kept);
}

}  // namespace

void DecodeSectionValues(std::string_view text, const RawSection& section,
                         std::vector<RegValue>* values) {
    uint64_t end = section.offset + section.leadIn + section.length;
    if (section.body > end || end > text.size()) {
        values->clear();
        return;
    }
    std::string_view body = text.substr(section.body, end - section.body);
    LineReader reader(body);
    ValueReader parser(reader, nullptr);
    std::string_view line;
    size_t count = 0;
    while (reader.Next(line)) {
        size_t first;
        char c = FirstChar(line, &first);
        if (c != '"' && c != '@') continue;
        // The values already there are decoded into, so that their memory is used again.
        if (count == values->size()) values->emplace_back();
        if (parser.Read(line.substr(first), &(*values)[count])) ++count;
    }
    values->resize(count);
    DropRepeatedNames(*values);
}

// Reads a file's sections into keys, checking every line but decoding values later.
class HiveReader {
  public:
    HiveReader(RegistryStore& store, const std::string_view* text, HiveParseError* error)
        : store_(store),
          text_(text),
          content_(*text),
          error_(error),
          reader_(content_),
          values_(reader_, error) {}

    bool Run(RegKey* base, HiveInfo* info) {
        // A large file's keys in one block: estimated generously, as a block's untouched
        // tail costs nothing (a fresh prefix's system.reg holds a key per 190 bytes).
        if (content_.size() >= (size_t{256} << 10)) store_.ReserveKeys(content_.size() / 128);
        std::string_view line;
        if (!reader_.Next(line) || line.substr(0, kSignature.size()) != kSignature)
            return Fail(1, "not a registry file (no \"WINE REGISTRY Version 2\" line)");
        RegKey* key = nullptr;
        RawSection* section = nullptr;
        size_t bodyEnd = reader_.Position();  // end of the last line that was not blank
        size_t headerEnd = bodyEnd;
        bool eager = false;  // a key's second section: its values are decoded now
        auto close = [&]() {
            if (section) section->length = bodyEnd - section->offset - section->leadIn;
        };
        while (reader_.Next(line)) {
            size_t start = reader_.LineStart();
            size_t first;
            char c = FirstChar(line, &first);
            if (c == 0) continue;  // blank
            if (c == '[') {
                close();
                uint64_t modified = 0;
                if (!KeyLine(line.substr(first), base, &key, &modified)) return false;
                if (modified) key->modified_ = modified;
                eager = key->raw_.has_value();
                if (eager) {
                    // A second section for one key: the key is written anew from its values.
                    key->DecodeValues();
                    key->dirty_ = true;
                }
                key->raw_ = RawSection{bodyEnd, start - bodyEnd, 0, reader_.Position()};
                key->text_ = text_;
                key->lazyValues_ = !eager;
                section = &*key->raw_;
            } else if (!key) {
                if (c != '#' && c != ';')
                    return Fail(reader_.Number(), "text before the first key");
                if (line.substr(first, 23) == ";; All keys relative to") {
                    std::string_view rel = line.substr(first + 23);
                    while (!rel.empty() && IsSpace(rel.front()))
                        rel.remove_prefix(1);
                    std::u16string decoded;
                    ParseString(std::string(rel) + '\n', '\n', &decoded);
                    info->relativeTo = decoded;
                }
                headerEnd = reader_.Position();
            } else if (c == '"' || c == '@') {
                if (eager) {
                    RegValue value;
                    if (!values_.Read(line.substr(first), &value)) return false;
                    key->values_.push_back(std::move(value));
                    DropRepeatedNames(key->values_);
                } else if (!values_.Read(line.substr(first), nullptr)) {
                    return false;
                }
            } else if (c == '#') {
                if (!Option(line.substr(first), key)) return false;
            } else if (c != ';') {
                return Fail(reader_.Number(), "unrecognised line");
            }
            bodyEnd = reader_.Position();
            if (!key) headerEnd = bodyEnd;
        }
        close();
        info->header = std::string(content_.substr(0, headerEnd));
        info->trailer = std::string(content_.substr(bodyEnd));
        return true;
    }

  private:
    bool Fail(int line, std::string message) {
        if (error_) {
            error_->line = line;
            error_->message = std::move(message);
        }
        return false;
    }

    bool Option(std::string_view opt, RegKey* key) {
        if (opt.substr(0, 6) == "#time=") {
            uint64_t t = 0;
            for (char h : opt.substr(6)) {
                int d = HexDigit(h);
                if (d < 0) break;
                t = (t << 4) | static_cast<uint64_t>(d);
            }
            key->modified_ = t;
        } else if (opt.substr(0, 8) == "#class=\"") {
            std::u16string cls;
            if (!ParseString(opt.substr(8), '"', &cls))
                return Fail(reader_.Number(), "class name not closed");
            key->className_ = cls;
        } else if (opt.substr(0, 5) == "#link") {
            key->isLink_ = true;
        }
        // Other options are kept in the section's text and ignored.
        return true;
    }

    // Finds or makes a child while loading: no timestamps change, nothing is dirty.
    static RegKey* LoadChild(RegistryStore& store, RegKey* parent, std::u16string_view name,
                             uint64_t modified) {
        size_t pos = parent->SubKeyPosition(name);
        if (pos < parent->subkeys_.size() && EqualsNoCase(parent->subkeys_[pos]->name_, name))
            return parent->subkeys_[pos];
        RegKey* child = store.NewDetachedKey();
        child->name_ = std::u16string(name);
        child->parent_ = parent;
        child->depth_ = parent->depth_ + 1;
        child->modified_ = modified;
        parent->subkeys_.insert(parent->subkeys_.begin() + static_cast<ptrdiff_t>(pos), child);
        return child;
    }

    bool KeyLine(std::string_view line, RegKey* base, RegKey** key, uint64_t* modified) {
        int number = reader_.Number();
        size_t used = ParseString(line.substr(1), ']', &scratch_);
        if (!used) return Fail(number, "key name not closed");
        std::string_view rest = line.substr(1 + used);
        uint64_t seconds = 0;
        bool any = false;
        size_t i = 0;
        while (i < rest.size() && IsSpace(rest[i]))
            ++i;
        for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
            seconds = seconds * 10 + static_cast<uint64_t>(rest[i] - '0');
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
        std::u16string_view path(scratch_);
        while (!path.empty()) {
            size_t cut = path.find(u'\\');
            std::u16string_view part = path.substr(0, cut);
            path.remove_prefix(cut == std::u16string_view::npos ? path.size() : cut + 1);
            if (part.empty()) continue;
            if (reuse && depth < chain_.size() && chain_[depth]->name_ == part) {
                k = chain_[depth];
            } else {
                reuse = false;
                k = LoadChild(store_, k, part, *modified);
                chain_.resize(depth);
                chain_.push_back(k);
            }
            ++depth;
        }
        chain_.resize(depth);
        *key = k;
        return true;
    }

    RegistryStore& store_;
    const std::string_view* text_;
    std::string_view content_;
    HiveParseError* error_;
    LineReader reader_;
    ValueReader values_;
    std::u16string scratch_;
    std::vector<RegKey*> chain_;  // the keys of the previous section's path
};

namespace {
void AppendTicksLine(std::string& out, uint64_t modified) {
    char buf[64];
    uint64_t seconds =
        modified >= kTicks1601To1970 ? (modified - kTicks1601To1970) / kTicksPerSecond : 0;
    int n = std::snprintf(buf, sizeof buf, "] %u\n#time=%x%08x\n", static_cast<unsigned>(seconds),
                          static_cast<unsigned>(modified >> 32), static_cast<unsigned>(modified));
    out.append(buf, static_cast<size_t>(n));
}

bool IsHexDigitAscii(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

// Writes keys in tree order without recursion; runs of untouched sections that stood
// together in their file are copied in one piece.
//
// A key without a section of its own is named only inside other sections' paths, and
// whoever loads the file (Wine too) keeps the first spelling it meets. So the first
// section written below such a key is one that spells it as it is named, where one
// does; a section that would still name a key differently gets its path written anew.
class HiveWriter {
  public:
    HiveWriter(HiveText& out, const RegKey& base, bool reuse)
        : text_(out), base_(base), reuse_(reuse) {}

    void Run() {
        std::vector<std::pair<const RegKey*, size_t>> stack{{&base_, 0}};
        std::vector<const RegKey*> children;
        while (!stack.empty()) {
            auto [key, depth] = stack.back();
            stack.pop_back();
            path_.resize(depth);
            named_.resize(depth);
            path_.push_back(key);
            named_.push_back(depth == 0);
            Key(*key, depth);
            children.assign(key->subkeys_.begin(), key->subkeys_.end());
            if (!named_[depth] && children.size() > 1) KeepSpelling(children, depth);
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.emplace_back(*it, depth + 1);
        }
        FlushCopy();
    }

  private:
    bool Reusable(const RegKey& key) const {
        return reuse_ && key.raw_ && !key.dirty_ && key.text_ &&
               key.raw_->offset + key.raw_->leadIn + key.raw_->length <= key.text_->size();
    }

    bool WritesSection(const RegKey& key) const {
        return Reusable(key) || !key.Values().empty() || key.subkeys_.empty() || key.className_ ||
               key.isLink_;
    }

    // Puts first the children whose first section spells the key at `depth` as it is
    // named, when the first child in tree order would spell it otherwise.
    void KeepSpelling(std::vector<const RegKey*>& children, size_t depth) {
        const std::u16string& name = path_[depth]->name_;
        auto spellsRight = [&](const RegKey* child) {
            const RegKey* first = child;
            while (!WritesSection(*first))
                first = first->subkeys_.front();
            std::u16string_view spelled;
            return !SpelledComponent(*first, depth, &spelled) || spelled == name;
        };
        if (spellsRight(children.front())) return;
        std::stable_partition(children.begin(), children.end(), spellsRight);
    }

    // The `depth`th component (1-based) of the key's section path as its file spelled it;
    // false when the section is written from the key's names anyway.
    bool SpelledComponent(const RegKey& key, size_t depth, std::u16string_view* component) {
        std::string_view spelled = reuse_ ? SpelledPath(key) : std::string_view{};
        if (spelled.empty()) return false;
        Decode(spelled);
        if (depth > parts_.size()) return false;
        *component = parts_[depth - 1];
        return true;
    }

    // Whether the section of the key at `depth` names every key not named before as the
    // key is named.
    bool KeepsNames(std::string_view spelled, size_t depth) {
        Decode(spelled);
        if (parts_.size() != depth) return false;
        for (size_t i = 1; i <= depth; ++i) {
            if (!named_[i] && parts_[i - 1] != path_[i]->name_) return false;
        }
        return true;
    }

    // `spelled` comes from SpelledPath: its closing ']' follows it in the file's text.
    void Decode(std::string_view spelled) {
        decoded_.clear();
        ParseString(std::string_view(spelled.data(), spelled.size() + 1), ']', &decoded_);
        parts_.clear();
        std::u16string_view rest(decoded_);
        while (!rest.empty()) {
            size_t cut = rest.find(u'\\');
            if (cut != 0) parts_.push_back(rest.substr(0, cut));
            rest.remove_prefix(cut == std::u16string_view::npos ? rest.size() : cut + 1);
        }
    }

    void Key(const RegKey& key, size_t depth) {
        if (Reusable(key)) {
            uint64_t from = key.raw_->offset;
            uint64_t to = from + key.raw_->leadIn + key.raw_->length;
            std::string_view spelled = SpelledPath(key);
            if (spelled.empty() || !KeepsNames(spelled, depth)) {
                // The section as it stands, but its path from the keys' names.
                FlushCopy();
                std::string_view text = *key.text_;
                uint64_t line = from + key.raw_->leadIn;
                std::string_view header = text.substr(line, key.raw_->body - line);
                size_t open = header.find('[');
                size_t used = open == std::string_view::npos
                                  ? 0
                                  : ParseString(header.substr(open + 1), ']', nullptr);
                std::string& out = text_.Owned();
                out.append(text.substr(from, key.raw_->leadIn));
                out += '[';
                AppendPath(out, key);
                out.append(used ? header.substr(open + 1 + used - 1) : "]\n");
                text_.AppendView(text.substr(key.raw_->body, to - key.raw_->body));
                if (text_.Back() && text_.Back() != '\n') text_.Owned().push_back('\n');
            } else if (copyText_ == key.text_ && copyEnd_ == from) {
                copyEnd_ = to;
            } else {
                FlushCopy();
                copyText_ = key.text_;
                copyStart_ = from;
                copyEnd_ = to;
            }
            MarkNamed(depth);
            return;
        }
        FlushCopy();
        const auto& values = key.Values();
        bool write = !values.empty() || key.subkeys_.empty() || key.className_ || key.isLink_;
        if (!write) return;
        std::string& out = text_.Owned();
        out += "\n[";
        // A section read from this file keeps its path as the file spelled it (every
        // escape), unless that would rename a key.
        std::string_view spelled = reuse_ ? SpelledPath(key) : std::string_view{};
        if (!spelled.empty() && KeepsNames(spelled, depth)) {
            out.append(spelled);
        } else {
            AppendPath(out, key);
        }
        MarkNamed(depth);
        AppendTicksLine(out, key.modified_);
        if (key.className_) {
            out += "#class=\"";
            AppendEscaped(out, *key.className_, '"', '"');
            out += "\"\n";
        }
        if (key.isLink_) out += "#link\n";
        for (const auto& v : values)
            AppendValueText(out, v);
    }

    void MarkNamed(size_t depth) {
        for (size_t i = depth; i > 0 && !named_[i]; --i)
            named_[i] = true;
    }

    void FlushCopy() {
        if (!copyText_) return;
        text_.AppendView(copyText_->substr(copyStart_, copyEnd_ - copyStart_));
        if (text_.Back() && text_.Back() != '\n') text_.Owned().push_back('\n');
        copyText_ = nullptr;
    }

    // The path of the key's own section line in its file, without the brackets.
    static std::string_view SpelledPath(const RegKey& key) {
        if (!key.raw_ || !key.text_) return {};
        std::string_view text = *key.text_;
        uint64_t start = key.raw_->offset + key.raw_->leadIn;
        if (start >= text.size()) return {};
        std::string_view line = text.substr(start, key.raw_->body - start);
        size_t first = line.find('[');
        if (first == std::string_view::npos) return {};
        size_t used = ParseString(line.substr(first + 1), ']', nullptr);
        return used ? line.substr(first + 1, used - 1) : std::string_view{};
    }

    void AppendPath(std::string& out, const RegKey& key) {
        chain_.clear();
        for (const RegKey* k = &key; k && k != &base_; k = k->parent_)
            chain_.push_back(k);
        for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
            if (it != chain_.rbegin()) out += "\\\\";
            AppendEscaped(out, (*it)->name_, '[', ']');
        }
    }

    HiveText& text_;
    const RegKey& base_;
    bool reuse_;
    const std::string_view* copyText_ = nullptr;
    uint64_t copyStart_ = 0;
    uint64_t copyEnd_ = 0;
    std::vector<const RegKey*> chain_;
    // The keys from the base to the one being written, and whether a section written so
    // far names each of them.
    std::vector<const RegKey*> path_;
    std::vector<bool> named_;
    std::u16string decoded_;
    std::vector<std::u16string_view> parts_;
};

bool ReadHive(RegistryStore& store, RegKey* base, const std::string_view* text, HiveInfo* info,
              HiveParseError* error) {
    HiveReader reader(store, text, error);
    return reader.Run(base, info);
}

std::unique_ptr<ParsedHive> ParseHive(std::string_view content, HiveParseError* error) {
    auto hive = std::make_unique<ParsedHive>();
    hive->base = hive->store.NewDetachedKey();
    const std::string_view* text = hive->store.KeepText(std::string(content));
    if (!ReadHive(hive->store, hive->base, text, hive.get(), error)) return nullptr;
    return hive;
}

std::string SavedKeyHeader(std::u16string_view relativeTo, std::string_view arch) {
    // Right below the signature line, so that a file cut after the mark is told by its
    // missing end line and one cut before it by its missing relative line.
    std::string header = NewHiveHeader(relativeTo, arch);
    header.insert(header.find('\n') + 1, std::string(kSavedKeyMark) + '\n');
    return header;
}

std::string SavedKeyTrailer() {
    return std::string(kSavedKeyEnd) + '\n';
}

bool CheckWholeHive(std::string_view content, WholeHive* whole, HiveParseError* error) {
    auto fail = [error](int line, const char* message) {
        if (error) {
            error->line = line;
            error->message = message;
        }
        return false;
    };
    if (content.empty() || content.back() != '\n') return fail(0, "last line not finished");
    int number = 0;
    bool timeExpected = false;
    bool marked = false;
    std::string_view last;
    whole->sections = 0;
    for (size_t at = 0; at < content.size();) {
        size_t end = content.find('\n', at);
        std::string_view line = content.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) return fail(number, "bare carriage return");
        size_t first;
        char c = FirstChar(line, &first);
        if (timeExpected && line.substr(first, 6) != "#time=")
            return fail(number, "key line without its time line");
        timeExpected = c == '[';
        if (timeExpected) ++whole->sections;
        if (whole->sections == 0 && line == kSavedKeyMark) marked = true;
        last = line;
    }
    if (timeExpected) return fail(number, "key line without its time line");
    if (marked && last != kSavedKeyEnd) return fail(number, "end line missing");
    auto parsed = ParseHive(content, error);
    if (!parsed) return false;
    // Every save names the key it was made from.
    if (parsed->relativeTo.empty()) return fail(0, "no \";; All keys relative to\" line");
    whole->relativeTo = parsed->relativeTo;
    return true;
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

void HiveText::AppendView(std::string_view piece) {
    if (!piece.empty()) pieces_.push_back(Piece{piece, {}, true});
}

std::string& HiveText::Owned() {
    if (pieces_.empty() || pieces_.back().isView) pieces_.push_back(Piece{{}, {}, false});
    return pieces_.back().owned;
}

char HiveText::Back() const {
    for (auto it = pieces_.rbegin(); it != pieces_.rend(); ++it) {
        std::string_view text = it->isView ? it->view : std::string_view(it->owned);
        if (!text.empty()) return text.back();
    }
    return 0;
}

std::vector<std::string_view> HiveText::Pieces() const {
    std::vector<std::string_view> out;
    out.reserve(pieces_.size());
    for (const Piece& p : pieces_)
        out.push_back(p.isView ? p.view : std::string_view(p.owned));
    return out;
}

std::string HiveText::Join() const {
    std::string out;
    size_t size = 0;
    for (std::string_view piece : Pieces())
        size += piece.size();
    out.reserve(size);
    for (std::string_view piece : Pieces())
        out.append(piece);
    return out;
}

HiveText WriteHiveText(const RegKey& base, std::string_view header, std::string_view trailer,
                       bool reuseSections) {
    HiveText text;
    text.Owned().append(header);
    HiveWriter(text, base, reuseSections).Run();
    text.Owned().append(trailer);
    return text;
}

std::string WriteHive(const RegKey& base, std::string_view header, std::string_view trailer,
                      bool reuseSections) {
    return WriteHiveText(base, header, trailer, reuseSections).Join();
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
