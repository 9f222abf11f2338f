#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/hive_file.h"
#include "platform/registry/plain_value_line.h"

// Values in the prefix's registry text format: the lines of a file, escaped strings and
// value lines decoded, for the readers of hive_file.cpp. Only platform/registry uses it.
namespace hivewise {

constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline bool IsSpace(char c) {
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
    // Steps over the next line when it is a plain value line (plain_value_line.h), already
    // checked; otherwise leaves it to Next. LineStart is then the value's first line.
    bool SkipPlainValue() {
        int lines;
        size_t end = PlainValueLineEnd(text_, pos_, &lines);
        if (end == std::string_view::npos) return false;
        start_ = pos_;
        pos_ = end;
        number_ += lines;
        return true;
    }
    // Moves on to `pos`, the start of a later line, without counting the lines passed: for
    // readers that name no line.
    void SkipTo(size_t pos) { start_ = pos_ = pos; }
    size_t LineStart() const { return start_; }
    size_t Position() const { return pos_; }
    int Number() const { return number_; }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t start_ = 0;
    int number_ = 0;
};

// Where the run of plain ASCII from `i` ends: at `stop`, a backslash, a line end or carriage
// return, a byte above ASCII or the end.
size_t PlainRunEnd(std::string_view in, size_t i, char stop);

// Decodes an escaped string up to the unescaped `stop` character into `out` (only checks
// it when `out` is null). Returns the number of input bytes consumed including `stop`,
// or 0 when `stop` never comes.
size_t ParseString(std::string_view in, char stop, std::u16string* out);

// The value on the line at `at`, when that line is of the usual plain forms: a quoted or
// default name and a string, dword or one line of hex data, written in ASCII with no escape
// but \\ and \", with nothing after the data. Returns where the next line starts, or npos
// (`value` then changed in part) for any other line: the full reader below decodes those,
// and decodes what this takes alike.
size_t DecodePlainValueLine(std::string_view text, size_t at, RegValue* value);
// The same line as the ANSI calls give it, without the UTF-16 between.
size_t DecodePlainValueLine(std::string_view text, size_t at, PlainValue* value);

// One value line (with its continuation lines) into `value`, or only checked when
// `value` is null. Errors name the line they were found on.
class ValueReader {
  public:
    ValueReader(LineReader& reader, HiveParseError* error) : reader_(reader), error_(error) {}

    bool Read(std::string_view line, RegValue* value);

  private:
    bool Fail(int line, std::string message);
    // Hex bytes, comma separated, continued over lines ending in '\'.
    bool ReadHex(std::string_view rest, std::string* data);

    LineReader& reader_;
    HiveParseError* error_;
};

// The first character of a line that is not blank, or 0 for a blank line.
inline char FirstChar(std::string_view line, size_t* first) {
    size_t i = 0;
    while (i < line.size() && IsSpace(line[i]))
        ++i;
    *first = i;
    return i < line.size() ? line[i] : 0;
}

// Names repeat only in hand-edited files; the later one wins, as on loading.
void DropRepeatedNames(std::vector<RegValue>& values);
void DropRepeatedNames(std::vector<PlainValue>& values);

}  // namespace hivewise
