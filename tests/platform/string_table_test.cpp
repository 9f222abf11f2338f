#include <gtest/gtest.h>

#include <string>

#include "platform/machine/string_table.h"

namespace hivewise {
namespace {

TEST(StringTable, TextsAreExactIncludingSpacingLineBreaksAndQuotes) {
    EXPECT_EQ(LoadResourceText(kIdsFileMissing),
              "The file (%s) does not exist at the specified location");
    EXPECT_EQ(LoadResourceText(kIdsDefaultValueName), "(Default)");
    EXPECT_EQ(LoadResourceText(kIdsInvalidAppId),
              "The Application ID (%s) is not valid.  (%s does not exist)");
    EXPECT_EQ(LoadResourceText(kIdsShortClassesRoot), "HKCR");

    std::string startup = LoadResourceText(kIdsStartupExplanation);
    EXPECT_NE(startup.find("remove.\n\nNote:  Removal"), std::string::npos);
    EXPECT_NE(startup.find("computer \nbut will not"), std::string::npos);
    EXPECT_EQ(startup.find('\\'), std::string::npos);  // real line breaks, not escapes

    std::string welcome = LoadResourceText(kIdsFullBackupWelcome);
    EXPECT_EQ(welcome.substr(welcome.size() - 13), "select \"Next\"");
}

TEST(StringTable, EveryKnownEntryHasTextAndUnknownOnesAreEmpty) {
    for (int id : {105, 106, 107, 108, 109, 110, 111, 112, 114, 115, 116, 118, 119, 120, 121, 123,
                   128, 129}) {
        EXPECT_FALSE(LoadResourceText(id).empty()) << id;
    }
    for (int id : {-1, 0, 104, 113, 117, 122, 124, 130}) {
        EXPECT_EQ(LoadResourceText(id), "") << id;
    }
}

}  // namespace
}  // namespace hivewise
