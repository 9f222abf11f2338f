#include "scan/text_table.h"

#include <gtest/gtest.h>

#include <string>

namespace hivewise {
namespace {

// Texts stay exact through growth: many near-equal texts, the empty one, and one longer
// than a block of the table's memory each keep their own byte.
TEST(TextTable, KeepsEveryTextAndItsByteThroughGrowth) {
    TextTable table(1 << 20);
    const std::string longText(3 << 20, 'x');
    bool added = false;
    ASSERT_NE(table.FindOrAdd("", &added), nullptr);
    EXPECT_TRUE(added);
    *table.FindOrAdd(longText) = 7;
    for (int i = 0; i < 100000; ++i) {
        std::string text = "hklm\\software\\vendor\\product" + std::to_string(i);
        uint8_t* byte = table.FindOrAdd(text, &added);
        ASSERT_NE(byte, nullptr);
        ASSERT_TRUE(added) << text;
        *byte = static_cast<uint8_t>(i % 251);
    }
    EXPECT_EQ(table.Size(), 100002u);
    for (int i = 0; i < 100000; ++i) {
        std::string text = "hklm\\software\\vendor\\product" + std::to_string(i);
        const uint8_t* byte = table.Find(text);
        ASSERT_NE(byte, nullptr) << text;
        EXPECT_EQ(*byte, i % 251);
        EXPECT_EQ(*table.FindOrAdd(text, &added), i % 251);
        EXPECT_FALSE(added);
    }
    EXPECT_EQ(*table.Find(longText), 7);
    EXPECT_NE(table.Find(""), nullptr);
    EXPECT_EQ(table.Find("hklm\\software\\vendor\\product100000"), nullptr);
    EXPECT_EQ(table.Find(longText.substr(1)), nullptr);
}

// Lengths on either side of where an entry's length takes more room, each beside texts
// that differ from it only in length.
TEST(TextTable, TextsOfEveryLengthAroundTheLongFormStayApart) {
    TextTable table(1 << 10);
    for (size_t length = 250; length <= 260; ++length)
        *table.FindOrAdd(std::string(length, 'k')) = static_cast<uint8_t>(length - 249);
    *table.FindOrAdd(std::string(70000, 'k')) = 99;
    for (size_t length = 250; length <= 260; ++length) {
        const uint8_t* byte = table.Find(std::string(length, 'k'));
        ASSERT_NE(byte, nullptr) << length;
        EXPECT_EQ(*byte, length - 249);
    }
    EXPECT_EQ(*table.Find(std::string(70000, 'k')), 99);
    EXPECT_EQ(table.Find(std::string(249, 'k')), nullptr);
    EXPECT_EQ(table.Find(std::string(261, 'k')), nullptr);
    EXPECT_EQ(table.Size(), 12u);
}

TEST(TextTable, AddsNoMoreThanItsLimit) {
    TextTable table(2);
    ASSERT_NE(table.FindOrAdd("a"), nullptr);
    ASSERT_NE(table.FindOrAdd("b"), nullptr);
    bool added = true;
    EXPECT_EQ(table.FindOrAdd("c", &added), nullptr);
    EXPECT_FALSE(added);
    EXPECT_NE(table.FindOrAdd("a"), nullptr);  // what it holds is still found
    EXPECT_EQ(table.Size(), 2u);
}

}  // namespace
}  // namespace hivewise
