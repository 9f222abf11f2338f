#include "report/output_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace hivewise {
namespace {

TEST(OutputText, StrictUtf8RejectsWhatJsonParsersReject) {
    EXPECT_TRUE(IsStrictUtf8("plain"));
    EXPECT_TRUE(IsStrictUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8D\xB7"));
    EXPECT_FALSE(IsStrictUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsStrictUtf8("\xE0\x80\xAF"));      // overlong, three bytes
    EXPECT_FALSE(IsStrictUtf8("\xF0\x80\x80\xAF"));  // overlong, four bytes
    EXPECT_FALSE(IsStrictUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(IsStrictUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsStrictUtf8("\xE2\x82"));          // cut at the end
    EXPECT_FALSE(IsStrictUtf8("\xA9"));              // a lone continuation byte
}

TEST(OutputText, JsonLiteralsAreAlwaysValidUtf8AndEscaped) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(JsonString("Caf\xE9"), "\"Caf\xC3\xA9\"");  // ANSI to UTF-8
    EXPECT_EQ(JsonHostString("Caf\xC3\xA9"), "\"Caf\xC3\xA9\"");
    // A host name that is not well-formed is read as ANSI rather than copied raw.
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "x\xE2\x82"}) {
        std::string json = JsonHostString(bad);
        EXPECT_TRUE(IsStrictUtf8(json)) << json;
        EXPECT_EQ(json.front(), '"');
        EXPECT_EQ(json.back(), '"');
    }
    EXPECT_EQ(JsonHostString("\x1B]0;title\x07"), "\"\\u001b]0;title\\u0007\"");
}

TEST(OutputText, JsonStringsOfAnsiText) {
    // Windows-1252 bytes become UTF-8; quotes, backslashes and controls are escaped.
    EXPECT_EQ(JsonString("caf\xe9 \x80 \"q\" \\ \n\x01"),
              "\"caf\xc3\xa9 \xe2\x82\xac \\\"q\\\" \\\\ \\n\\u0001\"");
    // Plain ASCII is escaped the same way.
    EXPECT_EQ(JsonString("C:\\a \"b\"\t\x1f"), "\"C:\\\\a \\\"b\\\"\\t\\u001f\"");
    EXPECT_EQ(JsonString(""), "\"\"");
}

// The JSON literal of ASCII text escaped a byte at a time.
std::string ByteByByteLiteral(const std::string& utf8) {
    std::string json = "\"";
    for (char c : utf8) {
        auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c == '\b') {
            json += "\\b";
        } else if (c == '\f') {
            json += "\\f";
        } else if (b < 0x20 || b == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

// Texts are searched eight bytes at a time for what needs an escape: every byte value at
// every place in such a word comes out as a byte-by-byte escape gives it.
TEST(OutputText, JsonEscapesEveryByteAtEveryPlaceInAWord) {
    auto reference = ByteByByteLiteral;
    for (int byte = 1; byte < 0x80; ++byte) {
        for (size_t at = 0; at < 18; ++at) {
            std::string text = std::string(at, 'a') + static_cast<char>(byte) + "b\x1f" +
                               std::string(17 - at, '!');
            ASSERT_EQ(JsonHostString(text), reference(text)) << byte << " at " << at;
        }
    }
    // Bytes above ASCII in a word are no escape, and a text of a few bytes has no word.
    EXPECT_EQ(JsonHostString("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\"x"),
              "\"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\\\"x\"");
    EXPECT_EQ(JsonHostString("a\""), "\"a\\\"\"");
}

// Words with several escapes side by side, NULs among them (a borrow from a zero byte
// would mark the byte above it), each counted and written in its place.
TEST(OutputText, JsonEscapesRunsOfEscapesInAndAcrossWords) {
    const std::string alphabet("\0\x01\x1f !\"\\\x7f\na~", 11);
    std::mt19937 random(26);
    for (int round = 0; round < 20000; ++round) {
        // Now and then a text of several of the pieces it is escaped in.
        std::string text(round % 50 == 0 ? random() % 2000 : random() % 40, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        ASSERT_EQ(JsonHostString(text), ByteByByteLiteral(text)) << round;
        std::string appended = "x";
        AppendJsonString(appended, text);
        ASSERT_EQ(appended, "x" + ByteByByteLiteral(text)) << round;
    }
}

TEST(OutputText, TerminalTextCarriesNoControlSequences) {
    // OSC retitling the terminal, CSI in its C1 form, a carriage return overwriting the line.
    EXPECT_EQ(TerminalSafe("key\x1B]0;owned\x07 end"), "key?]0;owned? end");
    EXPECT_EQ(TerminalSafe("a\xC2\x9B"
                           "2Jb"),
              "a?2Jb");
    EXPECT_EQ(TerminalSafe("line\rover"), "line?over");
    EXPECT_EQ(TerminalSafe("two\nlines\tand tab"), "two\nlines\tand tab");
    EXPECT_EQ(TerminalSafe("Caf\xC3\xA9 \xC2\xA0"), "Caf\xC3\xA9 \xC2\xA0");  // printable kept
    EXPECT_EQ(TerminalSafe("bad\xFF"), "bad?");
    EXPECT_EQ(TerminalField("a\tb\nc"), "a b c");
}

}  // namespace
}  // namespace hivewise
