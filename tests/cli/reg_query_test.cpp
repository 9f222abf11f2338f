#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "platform/machine/prefix_lock.h"

namespace hivewise::testing {
namespace {

// Sections as Wine writes them: sorted without regard to case.
const std::string kTestKeys =
    "\n[Software\\\\Test] 1700000000\n#time=1da1b2c3d4e5f60\n"
    "\"Name\"=\"Value\"\n"
    "@=\"Default text\"\n"
    "\"Num\"=dword:0000002a\n"
    "\"Bin\"=hex:01,ab,ff\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n"
    "\"Exp\"=str(2):\"%SystemRoot%\\\\x\"\n"
    "\"Big\"=hex(b):ef,cd,ab,89,67,45,23,01\n"
    "\n[Software\\\\Test\\\\alpha] 1700000000\n#time=1da1b2c3d4e5f60\n"
    "\n[Software\\\\Test\\\\Sub] 1700000000\n#time=1da1b2c3d4e5f60\n"
    "\"Inner\"=\"x\"\n"
    "\n[Software\\\\Test\\\\Sub\\\\Deep] 1700000000\n#time=1da1b2c3d4e5f60\n"
    "\"D\"=dword:00000001\n";

const std::string kUserKeys =
    "\n[Software\\\\Caf\\xe9] 1700000000\n#time=1da1b2c3d4e5f60\n"
    "\"N\\xe4me\"=\"Gr\\xfc\\x00dfe\"\n";

class RegQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(kTestKeys);
        prefix.UserReg(kUserKeys);
    }
    CliPrefix prefix;
};

TEST_F(RegQueryTest, ShowsValuesThenSubKeysAsRegDoes) {
    CliRun run = prefix.Reg({"query", "HKLM\\Software\\Test"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "\n"
              "HKEY_LOCAL_MACHINE\\Software\\Test\n"
              "    Name    REG_SZ    Value\n"
              "    (Default)    REG_SZ    Default text\n"
              "    Num    REG_DWORD    0x2a\n"
              "    Bin    REG_BINARY    01ABFF\n"
              "    Multi    REG_MULTI_SZ    a\\0bc\n"
              "    Exp    REG_EXPAND_SZ    %SystemRoot%\\x\n"
              "    Big    REG_QWORD    0x123456789abcdef\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\Software\\Test\\alpha\n"
              "HKEY_LOCAL_MACHINE\\Software\\Test\\Sub\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(RegQueryTest, RootNamesAreCaseInsensitiveAndEchoTheTypedPath) {
    CliRun shortName = prefix.Reg({"query", "hklm\\software\\TEST\\sub\\", "/v", "inner"});
    EXPECT_EQ(shortName.status, 0) << shortName.err;
    EXPECT_EQ(shortName.out,
              "\nHKEY_LOCAL_MACHINE\\software\\TEST\\sub\n    Inner    REG_SZ    x\n\n");
}

TEST_F(RegQueryTest, RecursesWithS) {
    CliRun run = prefix.Reg({"query", "HKLM\\Software\\Test\\Sub", "/s"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "\n"
              "HKEY_LOCAL_MACHINE\\Software\\Test\\Sub\n"
              "    Inner    REG_SZ    x\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\Software\\Test\\Sub\\Deep\n"
              "    D    REG_DWORD    0x1\n"
              "\n");
}

TEST_F(RegQueryTest, SingleValueDefaultValueAndSearch) {
    CliRun ve = prefix.Reg({"query", "HKLM\\Software\\Test", "/ve"});
    EXPECT_EQ(ve.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\n    (Default)    REG_SZ    Default text\n\n");
    CliRun unset = prefix.Reg({"query", "HKLM\\Software\\Test\\Sub", "/ve"});
    EXPECT_EQ(unset.status, 0);
    EXPECT_EQ(unset.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\\Sub\n    (Default)    REG_SZ    (value not "
              "set)\n\n");
    CliRun search = prefix.Reg({"query", "HKLM\\Software", "/v", "d", "/s"});
    EXPECT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(search.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Test\\Sub\\Deep\n    D    REG_DWORD    0x1\n"
              "\nEnd of search: 1 match(es) found.\n");
}

TEST_F(RegQueryTest, ShowsNonAsciiNamesAndDataInUtf8) {
    CliRun run = prefix.Reg({"query", "HKCU\\Software\\Café"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "\nHKEY_CURRENT_USER\\Software\\Café\n    Näme    REG_SZ    Grüße\n\n");
    // HKEY_USERS holds the same key under the user's SID.
    CliRun users = prefix.Reg({"query", "HKU\\S-1-5-21-0-0-0-1000\\Software\\CAFÉ", "/v", "NÄME"});
    EXPECT_EQ(users.status, 0) << users.err;
}

TEST_F(RegQueryTest, FailuresExitOneWithOneLine) {
    CliRun missingKey = prefix.Reg({"query", "HKLM\\Software\\Nope"});
    EXPECT_TRUE(FailedWithOneLine(missingKey));
    EXPECT_EQ(missingKey.out, "");
    EXPECT_EQ(missingKey.err,
              "ERROR: The system was unable to find the specified registry key or value.\n");
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\Software\\Test", "/v", "Nope"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKXX\\Software"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\Software\\\\Test"})));
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\Software", "/v"})));
    // A classes root that does not exist yet is reported, not made.
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKCR\\.txt"})));
}

TEST_F(RegQueryTest, UnreadablePrefixIsOneLine) {
    CliRun noPrefix =
        CliPrefix::Run({"--prefix", (prefix.Dir() / "missing").string(), "reg", "query", "HKLM"});
    EXPECT_TRUE(FailedWithOneLine(noPrefix));
    prefix.Write("system.reg", std::string(kSystemHeader) + "\n[Software\\\\Broken\n");
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM"})));
}

TEST_F(RegQueryTest, ReadsWhileAnotherInstanceHoldsThePrefix) {
    std::string error;
    auto lock = PrefixLock::Acquire(prefix.Dir(), &error);
    ASSERT_TRUE(lock) << error;
    EXPECT_EQ(prefix.Reg({"query", "HKLM\\Software\\Test\\Sub", "/v", "Inner"}).status, 0);
    // Changing it is refused while the other instance works on it.
    CliRun add = prefix.Reg({"add", "HKLM\\Software\\Test", "/v", "X", "/d", "1", "/f"});
    EXPECT_TRUE(FailedWithOneLine(add));
}

TEST(RegLinkTest, QueryFollowsLinksAndDeleteRemovesOnlyTheLink) {
    CliPrefix prefix;
    std::string target;
    for (char c : std::string("\\Registry\\Machine\\Software\\Target")) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%s%02x,00", target.empty() ? "" : ",", c);
        target += buf;
    }
    prefix.SystemReg(
        "\n[Software\\\\Target] 1700000000\n#time=1da1b2c3d4e5f60\n\"T\"=\"t\"\n"
        "\n[Software\\\\Target\\\\Back] 1700000000\n#time=1da1b2c3d4e5f60\n#link\n"
        "\"SymbolicLinkValue\"=hex(6):" +
        target +
        "\n"
        "\n[Software\\\\Via] 1700000000\n#time=1da1b2c3d4e5f60\n#link\n"
        "\"SymbolicLinkValue\"=hex(6):" +
        target + "\n");
    CliRun via = prefix.Reg({"query", "HKLM\\Software\\Via"});
    EXPECT_EQ(via.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Via\n    T    REG_SZ    t\n\n"
              "HKEY_LOCAL_MACHINE\\Software\\Via\\Back\n");
    // A link back to a key being shown ends the recursion instead of looping.
    CliRun tree = prefix.Reg({"query", "HKLM\\Software\\Target", "/s"});
    EXPECT_EQ(tree.status, 0);
    EXPECT_EQ(tree.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Target\n    T    REG_SZ    t\n"
              "\nHKEY_LOCAL_MACHINE\\Software\\Target\\Back\n\n");

    EXPECT_EQ(prefix.Reg({"delete", "HKLM\\Software\\Via", "/f"}).status, 0);
    EXPECT_TRUE(FailedWithOneLine(prefix.Reg({"query", "HKLM\\Software\\Via"})));
    EXPECT_EQ(prefix.Reg({"query", "HKLM\\Software\\Target", "/v", "T"}).status, 0);
}

}  // namespace
}  // namespace hivewise::testing
