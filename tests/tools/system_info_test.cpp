#include "tools/system_info.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

VersionFacts Facts(bool nt, unsigned major, unsigned minor, std::string servicePack,
                   std::string productType = "WinNT", unsigned suiteMask = 0) {
    VersionFacts facts;
    facts.isNt = nt;
    facts.major = major;
    facts.minor = minor;
    facts.build = 1234;
    facts.servicePack = std::move(servicePack);
    facts.productType = nt ? std::move(productType) : "";
    facts.suiteMask = suiteMask;
    return facts;
}

TEST(SystemInfoTest, Names) {
    struct {
        VersionFacts facts;
        const char* name;
    } cases[] = {
        {Facts(true, 5, 1, "Service Pack 2"), "Windows XP Professional Edition Service Pack 2"},
        {Facts(true, 5, 1, "", "WinNT", 0x200), "Windows XP Home Edition"},
        {Facts(true, 5, 0, "Service Pack 4", "ServerNT"), "Windows 2000 Server Service Pack 4"},
        {Facts(true, 5, 0, "Service Pack 4"), "Windows 2000 Professional Service Pack 4"},
        {Facts(true, 4, 0, "Service Pack 6"), "Windows NT 4.0 Workstation Service Pack 6"},
        // Before Service Pack 6 there is no extended query, so no edition words.
        {Facts(true, 4, 0, "Service Pack 5"), "Windows NT 4.0 Service Pack 5"},
        {Facts(true, 4, 0, "Service Pack 6a", "LanmanNT"),
         "Windows NT 4.0 Server Domain Controller Service Pack 6a"},
        {Facts(true, 5, 0, "", "ServerNT", 0x2 | 0x80 | 0x10 | 0x4),
         "Windows 2000 Advanced DataCenter Terminal BackOffice Server"},
        {Facts(true, 5, 0, "", "LanmanNT", 0x2), "Windows 2000 Advanced Server Domain Controller"},
        // Later versions by the names Windows gives them; no edition words of XP or 2000.
        {Facts(true, 6, 0, ""), "Windows Vista"},
        {Facts(true, 6, 1, "Service Pack 1"), "Windows 7 Service Pack 1"},
        {Facts(true, 6, 1, "", "ServerNT", 0x2), "Windows Server 2008 R2"},
        {Facts(true, 6, 3, ""), "Windows 8.1"},
        {Facts(true, 10, 0, "", "ServerNT", 0x2), "Windows Server 2016"},
        {Facts(true, 5, 2, "", "ServerNT"), "Windows Server 2003"},
        {Facts(true, 11, 4, ""), "Windows 11.4"},
        // An unknown product type stands for a failed extended query.
        {Facts(true, 5, 1, "Service Pack 3", ""), "Windows XP Service Pack 3"},
        // Service-pack text without a digit 1 to 9 adds nothing.
        {Facts(true, 5, 1, "Service Pack 0 Beta"), "Windows XP Professional Edition"},
        {Facts(false, 4, 0, ""), "Windows 95"},
        {Facts(false, 4, 0, " B"), "Windows 95 B"},
        {Facts(false, 4, 10, " A"), "Windows 98 A"},
        {Facts(false, 4, 90, ""), "Windows ME"},
        {Facts(false, 4, 3, " X"), " X"},
    };
    for (const auto& c : cases) {
        SystemInfo info(c.facts);
        EXPECT_EQ(info.isNtFamily, c.facts.isNt);
        EXPECT_EQ(info.osName, "");  // only Identify fills the name
        info.Identify();
        EXPECT_EQ(info.osName, c.name);
    }
}

TEST(SystemInfoTest, Numbers) {
    SystemInfo info(Facts(true, 5, 1, "Service Pack 21"));
    info.Identify();
    EXPECT_EQ(info.servicePackDigit, 1u);  // digits are tried from 1 up, not left to right
    EXPECT_EQ(info.majorVersion, 5u);
    EXPECT_EQ(info.minorVersion, 1u);
    EXPECT_EQ(info.buildNumber, 1234u);
    SystemInfo nine(Facts(false, 4, 10, " A 2"));
    nine.Identify();
    EXPECT_EQ(nine.servicePackDigit, 0u);  // only the NT family has one
}

TEST(SystemInfoTest, Windows10And11AreToldApartByTheirBuild) {
    VersionFacts ten = Facts(true, 10, 0, "");
    ten.build = 19045;
    VersionFacts eleven = ten;
    eleven.build = 22631;
    SystemInfo a(ten), b(eleven);
    a.Identify();
    b.Identify();
    EXPECT_EQ(a.osName, "Windows 10");
    EXPECT_EQ(b.osName, "Windows 11");
}

TEST(SystemInfoTest, FromTheMachinesRegistry) {
    testing::TempPrefix prefix;
    prefix.SystemReg(R"(
[Software\\Microsoft\\Windows NT\\CurrentVersion] 1700000000
"CSDVersion"="Service Pack 3"
"CurrentBuildNumber"="2600"
"CurrentVersion"="5.1"

[System\\CurrentControlSet\\Control\\ProductOptions] 1700000000
"ProductType"="WinNT"
)");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    SystemInfo info(*machine);
    info.Identify();
    EXPECT_TRUE(info.isNtFamily);
    EXPECT_EQ(info.osName, "Windows XP Professional Edition Service Pack 3");
    EXPECT_EQ(info.buildNumber, 2600u);
}

// Wine's Windows 10 keeps "6.3" in CurrentVersion, as Windows does, and its own numbers
// in the two DWORD values.
TEST(SystemInfoTest, WindowsTenAsWineWritesIt) {
    testing::TempPrefix prefix;
    prefix.SystemReg(R"(
[Software\\Microsoft\\Windows NT\\CurrentVersion] 1700000000
"CurrentBuild"="19045"
"CurrentBuildNumber"="19045"
"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"CurrentVersion"="6.3"

[System\\CurrentControlSet\\Control\\ProductOptions] 1700000000
"ProductType"="WinNT"
)");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    SystemInfo info(*machine);
    info.Identify();
    EXPECT_EQ(info.osName, "Windows 10");
    EXPECT_EQ(info.majorVersion, 10u);
}

}  // namespace
}  // namespace hivewise
