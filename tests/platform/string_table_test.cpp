#include <gtest/gtest.h>

#include <string>

#include "platform/machine/string_table.h"

namespace hivewise {
namespace {

constexpr int kKnown[] = {105, 106, 107, 108, 109, 110, 111, 112, 114,
                          115, 116, 118, 119, 120, 121, 123, 128, 129};

size_t Placeholders(const std::string& text) {
    size_t count = 0;
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        if (at + 1 < text.size() && text[at + 1] == 's') ++count;
    }
    return count;
}

// Callers format these entries with a fixed number of arguments: a placeholder more or
// less reads past the arguments or drops one.
TEST(StringTable, FormattedEntriesHaveThePlaceholdersTheirCallersFill) {
    EXPECT_EQ(Placeholders(LoadResourceText(kIdsFileMissing)), 1u);
    EXPECT_EQ(Placeholders(LoadResourceText(kIdsInvalidAppId)), 2u);
    EXPECT_EQ(Placeholders(LoadResourceText(kIdsShortcutInvalid)), 1u);
    EXPECT_EQ(Placeholders(LoadResourceText(kIdsDirectoryInvalid)), 1u);
    for (int id : kKnown) {
        if (id >= kIdsFileMissing && id <= kIdsDirectoryInvalid) continue;
        EXPECT_EQ(Placeholders(LoadResourceText(id)), 0u) << id;
    }
}

// The texts are shown and compared as they stand: real line breaks rather than escapes
// left over from a resource script, and no stray blanks at the ends.
TEST(StringTable, EveryKnownEntryIsFinishedTextAndUnknownOnesAreEmpty) {
    for (int id : kKnown) {
        std::string text = LoadResourceText(id);
        ASSERT_FALSE(text.empty()) << id;
        EXPECT_EQ(text.find("\\n"), std::string::npos) << id;
        EXPECT_EQ(text.find("\\\""), std::string::npos) << id;
        EXPECT_NE(text.front(), ' ') << id;
        EXPECT_NE(text.back(), ' ') << id;
    }
    for (int id : {-1, 0, 104, 113, 117, 122, 124, 130}) {
        EXPECT_EQ(LoadResourceText(id), "") << id;
    }
}

}  // namespace
}  // namespace hivewise
