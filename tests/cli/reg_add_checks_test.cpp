// What `reg add` refuses before it changes anything: key names the registry does not
// keep, and text that is not UTF-8.
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

namespace hivewise::testing {
namespace {

class RegAddChecksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Test] 1700000000\n\"Name\"=\"Value\"\n");
        prefix.UserReg("\n[Software] 1700000000\n");
        system = prefix.Read("system.reg");
        user = prefix.Read("user.reg");
    }
    bool Untouched() {
        return prefix.Read("system.reg") == system && prefix.Read("user.reg") == user;
    }
    CliPrefix prefix;
    std::string system, user;
};

TEST_F(RegAddChecksTest, KeyNamesLongerThanTheRegistryKeepsAreError87) {
    std::string tooLong(256, 'k');
    CliRun run = prefix.Reg({"add", "HKCU\\Software\\" + tooLong + "\\Sub", "/f"});
    EXPECT_TRUE(FailedWithOneLine(run));
    EXPECT_EQ(run.err, "ERROR: The parameter is incorrect.\n");
    // Counted in UTF-16 units, as the registry counts: 128 two-byte characters fit.
    std::string wide;
    for (int i = 0; i < 256; ++i)
        wide += "\xC3\xA9";  // é
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"add", "HKCU\\Software\\" + wide, "/f"})));
    EXPECT_TRUE(Untouched());

    CliRun longest = prefix.Reg({"add", "HKCU\\Software\\" + std::string(255, 'k'), "/f"});
    EXPECT_EQ(longest.status, 0) << longest.err;
    // What was added exports and imports again.
    CliRun back = prefix.Reg({"query", "HKCU\\Software\\" + std::string(255, 'k')});
    EXPECT_EQ(back.status, 0) << back.err;
}

TEST_F(RegAddChecksTest, TextThatIsNotUtf8IsRefused) {
    const std::string bad[] = {"\xFF", "abc\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        CliRun data = prefix.Reg({"add", "HKCU\\Software\\X", "/v", "V", "/d", text, "/f"});
        EXPECT_TRUE(FailedWithOneLine(data));
        EXPECT_NE(data.err.find("/d"), std::string::npos);
        EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"add", "HKCU\\Software\\X", "/v", text, "/f"})));
        EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"add", "HKCU\\Software\\" + text, "/f"})));
    }
    EXPECT_TRUE(Untouched());
    // Well-formed text of any plane is taken.
    CliRun good = prefix.Reg(
        {"add", "HKCU\\Software\\X", "/v", "V", "/d", "caf\xC3\xA9 \xF0\x9F\x90\x9D", "/f"});
    EXPECT_EQ(good.status, 0) << good.err;
}

}  // namespace
}  // namespace hivewise::testing
