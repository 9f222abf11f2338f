#include "platform/registry/plain_value_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/files/atomic_file.h"
#include "platform/registry/hive_values.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TestDataDir;

constexpr size_t kNone = std::string_view::npos;

// The full check of the line at `at`: whether it passes, and where the reader stands after.
struct FullCheck {
    bool ok = false;
    size_t end = 0;
    int lines = 0;
};

FullCheck CheckFully(std::string_view text, size_t at) {
    LineReader reader(text.substr(at));
    std::string_view line;
    if (!reader.Next(line)) return {};
    HiveParseError error;
    ValueReader values(reader, &error);
    FullCheck check;
    check.ok = values.Read(line, nullptr);
    check.end = at + reader.Position();
    check.lines = reader.Number();
    return check;
}

// Text after a line, so that a line is read as in the middle of a file: where 64 bytes
// follow, lines are checked otherwise than near the end.
std::string Padded(std::string_view line) {
    std::string text(line);
    for (int i = 0; i < 7; ++i)
        text += "[Padding]\n";
    return text;
}

// Whatever the quick check passes, the full check passes too, over the same lines.
void ExpectAgreesWithFullCheck(std::string_view line) {
    for (const std::string& text : {std::string(line), Padded(line)}) {
        int lines = 0;
        size_t end = PlainValueLineEnd(text, 0, &lines);
        if (end == kNone) continue;
        FullCheck full = CheckFully(text, 0);
        EXPECT_TRUE(full.ok) << "passed only by the quick check: "
                             << ::testing::PrintToString(text);
        EXPECT_EQ(full.end, end) << ::testing::PrintToString(text);
        EXPECT_EQ(full.lines, lines) << ::testing::PrintToString(text);
    }
}

// Whatever the plain decoder takes, the full reader decodes alike, over the same lines, into
// a value that held something else before.
void ExpectDecodesAsTheFullReader(std::string_view line) {
    for (const std::string& text : {std::string(line), Padded(line)}) {
        RegValue fast{u"stale name", kRegMultiSz, std::string(40, 'x')};
        const size_t end = DecodePlainValueLine(text, 0, &fast);
        if (end == kNone) continue;
        LineReader reader(text);
        std::string_view first;
        ASSERT_TRUE(reader.Next(first));
        ValueReader values(reader, nullptr);
        RegValue full;
        EXPECT_TRUE(values.Read(first, &full))
            << "decoded only by the plain decoder: " << ::testing::PrintToString(text);
        EXPECT_EQ(reader.Position(), end) << ::testing::PrintToString(text);
        EXPECT_TRUE(full.name == fast.name && full.type == fast.type && full.data == fast.data)
            << ::testing::PrintToString(text);
    }
}

// Both checks of a line: the quick one and the plain decoder.
void ExpectAgreesWithFullReader(std::string_view line) {
    ExpectAgreesWithFullCheck(line);
    ExpectDecodesAsTheFullReader(line);
}

size_t Decoded(std::string_view text) {
    RegValue value;
    return DecodePlainValueLine(text, 0, &value);
}

size_t Quick(std::string_view text, size_t at = 0) {
    int lines = 0;
    return PlainValueLineEnd(text, at, &lines);
}

std::set<std::string> ValueLinesOf(const std::string& text) {
    std::set<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        // A value with the lines that continue it.
        size_t from = at;
        while (end < text.size() && end >= 2 && text[end - 2] == '\\') {
            nl = text.find('\n', end);
            end = nl == std::string::npos ? text.size() : nl + 1;
        }
        if (text[from] == '"' || text[from] == '@') lines.insert(text.substr(from, end - from));
        at = end;
    }
    return lines;
}

TEST(PlainValueLine, TakesTheUsualFormsWhole) {
    const std::string lines[] = {
        "\"Path\"=\"C:\\\\Program Files\\\\App\\\\app.exe\"\n",
        "@=\"{00020420-0000-0000-C000-000000000046}\"\n",
        "\"\"=\"\"\n",
        "\"Quote \\\"in\\\" name\"=\"a \\\"b\\\"\"\n",
        "\"Count\"=dword:0000000b\n",
        "\"Count\"=dword:1\n",
        "\"Blob\"=hex:01,02,ff,0A\n",
        "\"Blob\"=hex:01,02,\n",
        "\"Empty\"=hex:\n",
        "\"Multi\"=hex(7):41,00,00,00\n",
        "\"Path\"=str(2):\"%SystemRoot%\"\n",
        "\"Long\"=hex:01,02,\\\n  03,04,\\\r\n  05\n",
        "\"Cut\"=hex(2):41,00,\\\n\n",
        "\"Spaced\" = \"x\" \t\r\n",
        "\"NoLineEnd\"=\"x\"",
        "\"Utf8 \xc3\xa9\"=\"\xe2\x82\xac\"\r\n",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        ExpectAgreesWithFullReader(line);
        EXPECT_EQ(Quick(line), line.size());
        if (line.back() == '\n') {
            EXPECT_EQ(Quick(Padded(line)), line.size());
        }
    }
    // A line among others: its end is its own.
    std::string text = "[Key]\n\"A\"=\"1\"\n\"B\"=dword:2\n";
    EXPECT_EQ(Quick(text, 6), 14u);
    EXPECT_EQ(Quick(text, 14), text.size());
    EXPECT_EQ(Quick(text), kNone);
}

TEST(PlainValueLine, LeavesEveryFaultAndContinuationToTheFullCheck) {
    const std::string lines[] = {
        "\"Open=\"x\"\n",                // the name's quote closes at the data's
        "\"Open\n\"=\"x\"\n",            // name cut by a line end
        "\"Slash\\\n\"=\"x\"\n",         // an escape hides the line end
        "\"Slash\\\r\n",                 // ... or the carriage return before it
        "\"A\"=\"open\n",                // string not closed
        "\"A\"=\"x\\\"\n",               // its closing quote escaped
        "\"A\"=\"x\" y\n",               // text after the string
        "\"A\"\"x\"\n",                  // no '='
        "\"A\"=\n",                      // no data
        "\"A\"=dword:\n",                // no digits
        "\"A\"=dword:123456789\n",       // nine digits
        "\"A\"=dword:12 34\n",           // a blank among them
        "\"A\"=dword:1g\n",              // not a digit
        "\"A\"=hex:01,02,\\\n",          // continued past the end
        "\"A\"=hex:01,02,\\ x\n  03\n",  // text after the backslash
        "\"A\"=hex:01,\\\n[Key]\n",      // continued onto a key line
        "\"A\"=hex:01, 02\n",            // loose forms the full check reads itself
        "\"A\"=hex:1,2\n",               //
        "\"A\"=hex(7:41\n",              // type not closed
        "\"A\"=hex():41\n",              // no type
        "\"A\"=hex(123456789):41\n",     // type too long
        "\"A\"=str(2):\"x\n",            // typed string not closed
        "\"A\"=str(2):x\n",              // nor opened
        "\"A\"=other\n",                 //
        "  \"Indented\"=\"x\"\n",        // leading blanks
        "[Key]\n",                       //
        "",                              //
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Quick(line), kNone);
        if (!line.empty()) {
            EXPECT_EQ(Quick(Padded(line)), kNone);
        }
    }
}

// The plain decoder takes the forms most lines of a prefix have, and leaves every other
// line, faulty or not, to the full reader.
TEST(PlainValueLine, DecodesThePlainFormsAndLeavesTheRest) {
    const std::string taken[] = {
        "\"Path\"=\"C:\\\\Program Files\\\\App\\\\app.exe\"\n",
        "@=\"{00020420-0000-0000-C000-000000000046}\"\n",
        "\"\"=\"\"\n",
        "\"Quote \\\"in\\\" name\"=\"a \\\"b\\\"\"\n",
        "\"Tab\tin\"=\"\x01\x7f\"\n",
        "\"Count\"=dword:0000000B\n",
        "\"Count\"=dword:1\n",
        "\"Blob\"=hex:01,02,ff,0A\n",
        "\"Blob\"=hex:01,02,\n",
        "\"Empty\"=hex:\n",
        "\"NoLineEnd\"=\"x\"",
    };
    for (const std::string& line : taken) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Decoded(line), line.size());
        ExpectDecodesAsTheFullReader(line);
    }
    const std::string left[] = {
        "\"Multi\"=hex(7):41,00,00,00\n",  // typed data
        "\"Path\"=str(2):\"%SystemRoot%\"\n",
        "\"Long\"=hex:01,02,\\\n  03\n",  // continued
        "\"Spaced\" = \"x\"\n",           // blanks around '=' or after the data
        "\"A\"=\"x\" \n",
        "\"A\"=dword:1 \n",
        "\"A\"=\"x\"\r\n",  // a carriage return
        "\"A\r\"=\"x\"\n",
        "\"Utf8 \xc3\xa9\"=\"x\"\n",  // above ASCII
        "\"A\"=\"\xe2\x82\xac\"\n",
        "\"A\"=\"a\\nb\"\n",  // other escapes
        "\"A\"=\"\\x41\"\n",
        "\"A\\101\"=\"x\"\n",
        "\"A\"=hex:1,2\n",  // single digits
        "\"A\"=hex:01,,02\n",
        "\"A\"=dword:123456789\n",  // faults
        "\"A\"=\"open\n\"x\"\n",
        "\"A\"=\"x\\\"\n",
        "\"Open\n\"=\"x\"\n",
        "\"A\"\"x\"\n",
        "  \"Indented\"=\"x\"\n",
        "[Key]\n",
        "",
    };
    for (const std::string& line : left) {
        SCOPED_TRACE(::testing::PrintToString(line));
        EXPECT_EQ(Decoded(line), kNone);
        ExpectDecodesAsTheFullReader(line);
    }
}

// Lines about as long as the bytes checked at once, with escapes on either side of its end.
TEST(PlainValueLine, LinesAroundSixtyFourBytes) {
    for (size_t length = 50; length < 80; ++length) {
        for (size_t slash = 0; slash + 2 <= length - 9; slash += 5) {
            std::string data(length - 9, 'x');
            data.replace(slash, 2, "\\\\");
            for (const std::string& line :
                 {"\"N\"=\"" + data + "\"\n", "\"N" + data + "\"=dword:1\n"}) {
                SCOPED_TRACE(line);
                EXPECT_EQ(Quick(Padded(line)), line.size());
                EXPECT_EQ(Decoded(Padded(line)), line.size());
                ExpectAgreesWithFullReader(line);
                // The same with the string left open by an escaped quote.
                std::string open = line;
                open.insert(open.find('"', 1), "\\");
                EXPECT_EQ(Quick(Padded(open)), kNone);
                EXPECT_EQ(Decoded(Padded(open)), kNone);
            }
        }
    }
}

// Every value line of Wine's own files, and every line made from one by cutting it short,
// dropping a character, or putting a quote, a backslash or a line end anywhere in it.
TEST(PlainValueLine, NeverPassesWhatTheFullCheckFails) {
    if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
    size_t taken = 0;
    size_t decoded = 0;
    size_t lines = 0;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::string text;
        ASSERT_TRUE(ReadWholeFile(TestDataDir() / "wine-prefix" / name, &text, nullptr));
        for (const std::string& line : ValueLinesOf(text)) {
            ++lines;
            if (Quick(line) != kNone) ++taken;
            if (Decoded(line) != kNone) ++decoded;
            ExpectAgreesWithFullReader(line);
            for (size_t i = 0; i < line.size(); ++i) {
                ExpectAgreesWithFullReader(line.substr(0, i));
                ExpectAgreesWithFullReader(line.substr(0, i) + line.substr(i + 1));
                for (char c : {'"', '\\', '\n', '\r', ' ', ','})
                    ExpectAgreesWithFullReader(line.substr(0, i) + c + line.substr(i));
            }
        }
    }
    // A real file's value lines are all taken; most are decoded the plain way too (typed
    // strings and continued hex data are not).
    EXPECT_EQ(taken, lines) << taken << " of " << lines;
    EXPECT_GT(decoded * 2, lines) << decoded << " of " << lines;
}

}  // namespace
}  // namespace hivewise
