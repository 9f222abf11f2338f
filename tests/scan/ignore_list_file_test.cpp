#include "scan/ignore_list_file.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

TEST(ExclusionTest, TableEntriesMatchAnywhereWithoutRegardToCase) {
    EXPECT_EQ(kExclusionList.size(), 38u);
    EXPECT_EQ(kExclusionList[3], "ie.hklmzoneInfo");
    EXPECT_TRUE(IsExcluded("HKEY_CLASSES_ROOT\\x\\\\C:\\WINDOWS\\SVCHOST.EXE", {}));
    EXPECT_TRUE(IsExcluded("HKEY_CURRENT_USER\\a\\IE.HKLMZONEINFO\\", {}));
    EXPECT_TRUE(
        IsExcluded("HKEY_CLASSES_ROOT\\CLSID\\{8e16892b-25c6-431F-8297-0eabcf13ac59}"
                   "\\InprocServer32\\\\x.dll",
                   {}));
    EXPECT_FALSE(IsExcluded("HKEY_LOCAL_MACHINE\\SOFTWARE\\App\\Path\\C:\\gone.exe", {}));
}

TEST(ExclusionTest, IgnoredKeyHidesItsSubKeysAndNamesBeginningWithIt) {
    IgnoreList ignore = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Foo"};
    EXPECT_TRUE(IsExcluded("HKEY_LOCAL_MACHINE\\SOFTWARE\\Foo\\Bar\\v\\d", ignore));
    EXPECT_TRUE(IsExcluded("hkey_local_machine\\software\\FOOBAR\\v\\d", ignore));
    EXPECT_FALSE(IsExcluded("HKEY_LOCAL_MACHINE\\SOFTWARE\\Fo\\v\\d", ignore));
    // An empty entry would hide every finding.
    EXPECT_FALSE(IsExcluded("HKEY_LOCAL_MACHINE\\SOFTWARE\\Fo\\v\\d", {""}));
}

TEST(IgnoreListFile, EveryLineEndingLoadsTheSameList) {
    IgnoreList expected = {"HKEY_LOCAL_MACHINE\\A", "HKEY_CURRENT_USER\\B c"};
    EXPECT_EQ(ParseIgnoreList("HKEY_LOCAL_MACHINE\\A\nHKEY_CURRENT_USER\\B c"), expected);
    EXPECT_EQ(ParseIgnoreList("HKEY_LOCAL_MACHINE\\A\r\nHKEY_CURRENT_USER\\B c\r\n"), expected);
    EXPECT_EQ(ParseIgnoreList("HKEY_LOCAL_MACHINE\\A\r\r\n\r\r\n \t HKEY_CURRENT_USER\\B c \r\r\n"),
              expected);
    // A line break inside an entry cannot be stored; it would split into other entries.
    EXPECT_EQ(FormatIgnoreList({"a", "b\nc", "d"}), "a\r\r\nd\r\r\n");
}

TEST(IgnoreListFile, SavedListReadsBack) {
    testing::TempPrefix prefix;
    prefix.SystemReg("");
    prefix.UserReg("");
    prefix.File("Program Files/Hivewise/hivewise.exe", "MZ");
    std::unique_ptr<Machine> machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    IgnoreList list;
    LoadIgnoreList(*machine, &list);
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(SaveIgnoreList(*machine, {"HKEY_LOCAL_MACHINE\\A", "HKEY_CLASSES_ROOT\\.x"}));
    EXPECT_EQ(prefix.Read("drive_c/Program Files/Hivewise/Iglist.lst"),
              "HKEY_LOCAL_MACHINE\\A\r\r\nHKEY_CLASSES_ROOT\\.x\r\r\n");
    list = {"stale"};
    LoadIgnoreList(*machine, &list);
    EXPECT_EQ(list, (IgnoreList{"HKEY_LOCAL_MACHINE\\A", "HKEY_CLASSES_ROOT\\.x"}));
}

}  // namespace
}  // namespace hivewise
