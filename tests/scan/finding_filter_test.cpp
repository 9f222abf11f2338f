#include "scan/finding_filter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

class FindingFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("");
        prefix.UserReg("");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        filter = std::make_unique<FindingFilter>(*machine);
    }
    // Sections 3 and 4 report whole keys; section 13 reports values.
    bool Admit(int section, const std::string& location, const std::string& valueName = "Path") {
        const Problem problem(section, {.itemText = "C:\\gone.exe",
                                        .location = location,
                                        .valueName = valueName,
                                        .valueData = "C:\\gone.exe"});
        return filter->Admit(problem);
    }

    testing::TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<FindingFilter> filter;
};

TEST_F(FindingFilterTest, ValuesInsideAKeyAnotherSectionReportedWholeAreRepeats) {
    const std::string entry = "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Entry";
    ASSERT_TRUE(Admit(3, entry));
    EXPECT_FALSE(Admit(4, entry));  // the same key, whole, from another section
    EXPECT_FALSE(Admit(13, entry));
    EXPECT_FALSE(Admit(13, entry + "\\Deeper\\Still"));
    // Spelled another way, the same key.
    EXPECT_FALSE(Admit(13, "HKLM\\SOFTWARE\\vendor\\entry\\Deeper", "Other"));
    // Keys that only share the first letters of its name are not inside it.
    EXPECT_TRUE(Admit(13, entry + "2"));
    EXPECT_TRUE(Admit(13, "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Entr"));
    // Nor is its parent.
    EXPECT_TRUE(Admit(13, "HKEY_LOCAL_MACHINE\\Software\\Vendor"));
}

TEST_F(FindingFilterTest, TheSectionThatReportedAKeyWholeMayReportInsideIt) {
    const std::string entry = "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Entry";
    ASSERT_TRUE(Admit(3, entry));
    EXPECT_TRUE(Admit(3, entry + "\\Inner"));
    // Once two sections hold keys on the same line, each blocks the other below them.
    ASSERT_TRUE(Admit(4, "HKEY_LOCAL_MACHINE\\Software\\Vendor"));
    EXPECT_FALSE(Admit(3, entry + "\\Other"));
    EXPECT_FALSE(Admit(4, entry + "\\Other"));
    EXPECT_FALSE(Admit(13, entry + "\\Other"));
}

TEST_F(FindingFilterTest, EachValueAndFileOnce) {
    const std::string key = "HKEY_CURRENT_USER\\Software\\App";
    EXPECT_TRUE(Admit(13, key, "A"));
    EXPECT_FALSE(Admit(13, key, "a"));
    EXPECT_TRUE(Admit(13, key, "B"));
    // Many whole keys do not hide values beside them.
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(Admit(3, "HKEY_LOCAL_MACHINE\\Software\\Uninstall\\E" + std::to_string(i)));
    EXPECT_TRUE(Admit(13, "HKEY_LOCAL_MACHINE\\Software\\Uninstall\\F1"));
    EXPECT_FALSE(Admit(13, "HKEY_LOCAL_MACHINE\\Software\\Uninstall\\E99\\Sub"));
}

}  // namespace
}  // namespace hivewise
