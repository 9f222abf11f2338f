#include "scan/text_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

namespace hivewise {
namespace {

std::string Hex(const TextDigester::Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (char byte : digest.bytes) {
        hex += kDigits[static_cast<unsigned char>(byte) >> 4];
        hex += kDigits[static_cast<unsigned char>(byte) & 15];
    }
    return hex;
}

// The algorithm's published answers for the key 00 01 .. 0f and the texts 00 01 .. (n-1):
// lengths below, at and across a word, so that the tail and the length byte are right.
TEST(TextDigest, GivesTheAlgorithmsPublishedAnswers) {
    const TextDigester digest(0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL);
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += static_cast<char>(i);
    EXPECT_EQ(Hex(digest("")), "a3817f04ba25a8e66df67214c7550293");
    EXPECT_EQ(Hex(digest(text.substr(0, 1))), "da87c1d86b99af44347659119b22fc45");
    EXPECT_EQ(Hex(digest(text.substr(0, 2))), "8177228da4a45dc7fca38bdef60affe4");
    EXPECT_EQ(Hex(digest(text.substr(0, 8))), "3b62a9ba6258f5610f83e264f31497b4");
    EXPECT_EQ(Hex(digest(text.substr(0, 15))), "5493e99933b0a8117e08ec0f97cfc3d9");
    EXPECT_EQ(Hex(digest(text.substr(0, 63))), "5150d1772f50834a503e069a973fbd7c");
}

// Two digesters made without a key draw different keys; one digester is steady. Texts
// that differ only late, in case, by a NUL or in length all part.
TEST(TextDigest, RandomKeysAndCloseTexts) {
    const TextDigester one;
    const TextDigester two;
    const std::string path = "value\nhklm\\software\\vendor\\product\n(default)";
    EXPECT_EQ(Hex(one(path)), Hex(one(path)));
    EXPECT_NE(Hex(one(path)), Hex(two(path)));

    std::unordered_set<std::string> seen;
    for (const std::string& text :
         {path, path + "x", path + std::string(1, '\0'), std::string("VALUE") + path.substr(5),
          path.substr(0, path.size() - 1), std::string(), std::string(1, '\0'),
          std::string(2, '\0'), std::string(256, 'a'), std::string(257, 'a')}) {
        EXPECT_TRUE(seen.insert(Hex(one(text))).second) << text.size();
    }
    for (int i = 0; i < 200000; ++i)
        ASSERT_TRUE(
            seen.insert(Hex(one("hklm\\software\\classes\\clsid\\" + std::to_string(i)))).second);
}

}  // namespace
}  // namespace hivewise
