#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A strict JSON reader for the tests: it accepts exactly one JSON value of RFC 8259 in
// well-formed UTF-8, with nothing but white space around it, and keeps the tree, so that
// a test checks the shape of what a command printed rather than its bytes.
namespace hivewise::testing {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // the string, its escapes decoded to UTF-8
    std::vector<JsonValue> items;
    std::vector<std::string> keys;  // in order; members holds them by name
    std::map<std::string, JsonValue> members;

    bool Has(const std::string& key) const { return members.count(key) != 0; }
    const JsonValue& operator[](const std::string& key) const { return members.at(key); }
    bool Is(Kind k) const { return kind == k; }
};

class JsonReader {
  public:
    // The value `text` holds; nothing when it is not exactly one valid JSON value.
    static std::optional<JsonValue> Parse(std::string_view text) {
        JsonReader reader(text);
        JsonValue value;
        reader.Blank();
        if (!reader.Value(value, 0)) return std::nullopt;
        reader.Blank();
        if (reader.at_ != text.size()) return std::nullopt;
        return value;
    }

  private:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool Value(JsonValue& value, int depth) {
        if (depth > 64 || at_ >= text_.size()) return false;
        char c = text_[at_];
        if (c == '{') return Object(value, depth);
        if (c == '[') return Array(value, depth);
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        }
        if (Word("true")) {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = true;
            return true;
        }
        if (Word("false")) {
            value.kind = JsonValue::Kind::Bool;
            return true;
        }
        if (Word("null")) return true;
        return Number(value);
    }

    bool Object(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Object;
        ++at_;
        Blank();
        if (Take('}')) return true;
        for (;;) {
            std::string key;
            if (at_ >= text_.size() || text_[at_] != '"' || !String(key)) return false;
            Blank();
            if (!Take(':')) return false;
            Blank();
            JsonValue member;
            if (!Value(member, depth + 1) || value.members.count(key)) return false;
            value.keys.push_back(key);
            value.members.emplace(key, std::move(member));
            Blank();
            if (Take('}')) return true;
            if (!Take(',')) return false;
            Blank();
        }
    }

    bool Array(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Array;
        ++at_;
        Blank();
        if (Take(']')) return true;
        for (;;) {
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            value.items.push_back(std::move(item));
            Blank();
            if (Take(']')) return true;
            if (!Take(',')) return false;
            Blank();
        }
    }

    bool Number(JsonValue& value) {
        size_t start = at_;
        Take('-');
        if (Take('0')) {
        } else if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) return false;
        if (Take('e') || Take('E')) {
            if (!Take('+')) Take('-');
            if (!Digits()) return false;
        }
        value.kind = JsonValue::Kind::Number;
        value.number = std::stod(std::string(text_.substr(start, at_ - start)));
        return true;
    }

    bool String(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (!Escape(out)) return false;
                continue;
            }
            size_t length = Utf8Length(at_);
            if (length == 0) return false;
            out.append(text_.substr(at_, length));
            at_ += length;
        }
        return false;
    }

    bool Escape(std::string& out) {
        if (++at_ >= text_.size()) return false;
        char c = text_[at_++];
        switch (c) {
            case '"':
                out += '"';
                return true;
            case '\\':
                out += '\\';
                return true;
            case '/':
                out += '/';
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        uint32_t code = 0;
        if (!Hex4(&code)) return false;
        if (code >= 0xD800 && code < 0xDC00) {  // a surrogate pair, or nothing
            uint32_t low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code < 0xE000) {
            return false;
        }
        Append(out, code);
        return true;
    }

    bool Hex4(uint32_t* code) {
        if (at_ + 4 > text_.size()) return false;
        for (int i = 0; i < 4; ++i) {
            char c = text_[at_++];
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0) return false;
            *code = *code * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    }

    static void Append(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // The length of the well-formed UTF-8 sequence at `i`: no overlong forms, no
    // surrogates, nothing above U+10FFFF. 0 when there is none.
    size_t Utf8Length(size_t i) const {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(text_[i + k]); };
        unsigned char b = byte(0);
        if (b < 0x80) return 1;
        size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                        : b >= 0xE0 && b <= 0xEF ? 3
                        : b >= 0xF0 && b <= 0xF4 ? 4
                                                 : 0;
        if (length == 0 || i + length > text_.size()) return 0;
        for (size_t k = 1; k < length; ++k) {
            if ((byte(k) & 0xC0) != 0x80) return 0;
        }
        unsigned char second = byte(1);
        if (b == 0xE0 && second < 0xA0) return 0;   // overlong
        if (b == 0xED && second >= 0xA0) return 0;  // surrogate
        if (b == 0xF0 && second < 0x90) return 0;   // overlong
        if (b == 0xF4 && second >= 0x90) return 0;  // above U+10FFFF
        return length;
    }

    bool Digits() {
        size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > start;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool Take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Blank() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    std::string_view text_;
    size_t at_ = 0;
};

}  // namespace hivewise::testing
