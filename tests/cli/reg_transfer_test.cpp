#include <gtest/gtest.h>

#include "cli_fixture.h"

namespace hivewise::testing {
namespace {

class RegTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Vendor\\\\App] 1700000000\n#time=1da1b2c3d4e5f60\n"
            "\"Path\"=\"C:\\\\Program Files\\\\App\\\\app.exe\"\n"
            "\"Count\"=dword:00000007\n"
            "\"Blob\"=hex:00,01,02\n"
            "\n[Software\\\\Vendor\\\\App\\\\Sub] 1700000000\n#time=1da1b2c3d4e5f60\n"
            "@=str(2):\"%SystemRoot%\\\\x\"\n");
        prefix.UserReg("");
        file = (prefix.Dir() / "app.reg").string();
    }
    CliPrefix prefix;
    std::string file;
};

TEST_F(RegTransferTest, ExportDeleteImportGivesTheKeyBack) {
    std::string before = prefix.Reg({"query", "HKLM\\Software\\Vendor", "/s"}).out;
    ASSERT_EQ(prefix.Reg({"export", "HKLM\\Software\\Vendor", file}).status, 0);
    std::string exported = prefix.Read("app.reg");
    ASSERT_GE(exported.size(), 2u);
    EXPECT_EQ(exported.substr(0, 2), "\xff\xfe");  // UTF-16 with its byte-order mark
    ASSERT_EQ(prefix.Reg({"delete", "HKLM\\Software\\Vendor", "/f"}).status, 0);
    EXPECT_EQ(prefix.Reg({"query", "HKLM\\Software\\Vendor"}).status, 1);
    CliRun imported = prefix.Reg({"import", file});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(prefix.Reg({"query", "HKLM\\Software\\Vendor", "/s"}).out, before);
}

TEST_F(RegTransferTest, ExportAsksBeforeOverwritingUnlessTold) {
    prefix.Write("app.reg", "keep me");
    CliRun refused = prefix.Reg({"export", "HKLM\\Software\\Vendor", file});
    const std::string question = "File " + file + " already exists. Overwrite (Yes/No)? ";
    EXPECT_EQ(refused.err.rfind(question, 0), 0u) << refused.err;
    EXPECT_TRUE(FailedWithOneLine(WithoutQuestion(refused, question)));
    EXPECT_EQ(prefix.Read("app.reg"), "keep me");
    EXPECT_EQ(prefix.Reg({"export", "HKLM\\Software\\Vendor", file}, "yes\n").status, 0);
    EXPECT_NE(prefix.Read("app.reg"), "keep me");
    prefix.Write("app.reg", "keep me");
    EXPECT_EQ(prefix.Reg({"export", "HKLM\\Software\\Vendor", file, "/y"}).status, 0);
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"export", "HKLM\\Software\\Missing", file, "/y"})));
}

TEST_F(RegTransferTest, ImportSaysWhenPartOfTheFileDidNotApply) {
    prefix.Write("bad.reg",
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Good]\r\n\"a\"=\"1\"\r\n"
                 "\"b\"=dword:nothex\r\n\"c\"=\"3\"\r\n");
    CliRun run = prefix.Reg({"import", (prefix.Dir() / "bad.reg").string()});
    EXPECT_TRUE(FailedWithOneLine(run));
    EXPECT_NE(run.err.find("line 5"), std::string::npos) << run.err;
    // What could be applied was applied and saved.
    EXPECT_NE(prefix.Read("user.reg").find("\"c\"=\"3\""), std::string::npos);

    prefix.Write("none.reg", "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"1\"\n");
    std::string userBefore = prefix.Read("user.reg");
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"import", (prefix.Dir() / "none.reg").string()})));
    EXPECT_EQ(prefix.Read("user.reg"), userBefore);
}

}  // namespace
}  // namespace hivewise::testing
