#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files/short_names.h"
#include "platform/files/wildcard.h"

namespace hivewise {
namespace {

TEST(Wildcard, StarDotStarMatchesEveryNameWithOrWithoutDot) {
    for (const char* name : {"README", "a.b.c", ".hidden", "x.", "."}) {
        EXPECT_TRUE(WildcardMatch("*.*", name)) << name;
    }
    EXPECT_TRUE(WildcardMatch("readme.*", "README"));
    EXPECT_TRUE(WildcardMatch("readme.*", "readme.txt"));
    EXPECT_FALSE(WildcardMatch("readme.*", "readmes"));
}

TEST(Wildcard, StarsQuestionMarksAndCase) {
    EXPECT_TRUE(WildcardMatch("*.TXT", "notes.txt"));
    EXPECT_FALSE(WildcardMatch("*.txt", "notes.txt.bak"));
    EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(WildcardMatch("file?.dll", "FILE1.DLL"));
    EXPECT_FALSE(WildcardMatch("file?.dll", "file.dll"));
    EXPECT_TRUE(WildcardMatch("\xC9T\xC9.*", "\xE9t\xE9.doc"));  // Windows-1252 accents
}

TEST(ShortNames, LegalNamesAreTheirOwnShortForm) {
    EXPECT_TRUE(IsValid83("README.TXT"));
    EXPECT_TRUE(IsValid83("readme.txt"));
    EXPECT_TRUE(IsValid83("KERNEL32"));
    for (const char* name :
         {"Program Files", "a.b.c", "toolongname.txt", "x.html", ".bashrc", "a+b.txt", "x.", ""}) {
        EXPECT_FALSE(IsValid83(name)) << name;
    }
}

TEST(ShortNames, NumberedInFolderOrderAvoidingExistingNames) {
    // An entry already called PROGRA~1 keeps that name; the long names number on.
    auto shorts = MakeShortNames({"progra~1", "Program Files", "Program Files (x86)", "readme.txt",
                                  "my file.html", ".htaccess", "a.b.c.d"});
    EXPECT_EQ(shorts, (std::vector<std::string>{"PROGRA~1", "PROGRA~2", "PROGRA~3", "README.TXT",
                                                "MYFILE~1.HTM", "HTACCE~1", "ABC~1.D"}));
}

TEST(ShortNames, TenthCollisionShortensTheBase) {
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i)
        names.push_back("Document " + std::to_string(i) + ".txt");
    auto shorts = MakeShortNames(names);
    EXPECT_EQ(shorts[0], "DOCUME~1.TXT");
    EXPECT_EQ(shorts[8], "DOCUME~9.TXT");
    EXPECT_EQ(shorts[9], "DOCUM~10.TXT");
}

}  // namespace
}  // namespace hivewise
