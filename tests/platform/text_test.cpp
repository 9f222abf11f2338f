#include "platform/machine/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hivewise {
namespace {

// Every answer of a plain character-by-character comparison, for names that share starts
// of every length up to past a word, differ in case or in a non-ASCII letter at each
// place, or end there.
TEST(Text, ComparisonWithoutCaseAgreesWithCharacterByCharacter) {
    auto reference = [](std::u16string_view a, std::u16string_view b) {
        for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
            const char16_t x = FoldChar(a[i]), y = FoldChar(b[i]);
            if (x != y) return x < y ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    };
    const std::u16string base = u"{00000001-0000-4000-8000-00000000BE4C}";
    std::vector<std::u16string> names;
    for (size_t length = 0; length <= 11; ++length) {
        const std::u16string start = base.substr(0, length);
        names.push_back(start);
        for (char16_t c : {u'a', u'A', u'b', u'\u00C9', u'\u00E9', u'\u0178', u'\u00FF'})
            names.push_back(start + c + u"0000");
    }
    for (const auto& a : names) {
        for (const auto& b : names) {
            EXPECT_EQ(CompareNoCase(a, b), reference(a, b))
                << std::string(a.begin(), a.end()) << " / " << std::string(b.begin(), b.end());
        }
    }
}

// UTF-16 bytes become the ANSI text of the same characters wherever the non-ASCII ones
// stand among the ASCII ones, and an odd last byte is dropped.
// A part found in any letter case agrees with a search of the folded text: at the start,
// at the end, after a false start, and never through a non-ASCII letter.
TEST(Text, ContainsWithoutCaseAgreesWithSearchingTheFoldedText) {
    const std::vector<std::string> texts = {"Software\\Classes",
                                            "MyCLASSESCache",
                                            "classe",
                                            "xclassclasses",
                                            "CLASSES",
                                            "cl\xC1sses",
                                            "cl\xE1sses",
                                            "",
                                            "c",
                                            "Software\\Vendor",
                                            "ClAsSeS\\Deeper",
                                            "Rundll32.EXE x",
                                            "RUNDLL3"};
    for (const std::string& text : texts) {
        for (std::string_view part : {"classes", "rundll32", "c", ""}) {
            EXPECT_EQ(AnsiContainsNoCase(text, part),
                      AnsiLower(text).find(part) != std::string::npos)
                << text << " / " << part;
        }
    }
}

TEST(Text, Utf16BytesBecomeTheirAnsiTextWhereverTheNonAsciiStand) {
    const std::pair<char16_t, char> odds[] = {{u'\u00E9', '\xE9'}, {u'\u20AC', '\x80'},
                                              {u'\u0100', '?'},    {u'\u4E2D', '?'},
                                              {u'\u0080', '?'},    {u'\u00FF', '\xFF'}};
    for (const auto& [odd, ansi] : odds) {
        for (size_t length = 0; length <= 19; ++length) {
            for (size_t at = 0; at <= length; ++at) {
                std::u16string text(length, u'x');
                std::string expected(length, 'x');
                if (at < length) {
                    text[at] = odd;
                    expected[at] = ansi;
                }
                std::string bytes;
                for (char16_t c : text) {
                    bytes += static_cast<char>(c & 0xFF);
                    bytes += static_cast<char>(c >> 8);
                }
                std::string out = "left over";
                Utf16BytesToAnsiInto(bytes, out);
                EXPECT_EQ(out, expected) << length << " " << at;
                Utf16BytesToAnsiInto(bytes + 'z', out);
                EXPECT_EQ(out, expected);
                EXPECT_EQ(Utf16ToAnsi(text), expected) << length << " " << at;
            }
        }
    }
}

TEST(Text, AsciiIsToldAtEveryPlace) {
    for (size_t length = 0; length <= 19; ++length) {
        std::string text(length, 'a');
        EXPECT_TRUE(IsAscii(text));
        for (size_t at = 0; at < length; ++at) {
            std::string marked = text;
            marked[at] = '\x80';
            EXPECT_FALSE(IsAscii(marked)) << length << " " << at;
            marked[at] = '\xFF';
            EXPECT_FALSE(IsAscii(marked));
        }
    }
}

}  // namespace
}  // namespace hivewise
