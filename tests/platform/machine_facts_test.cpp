#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

std::string Env(const Machine& m, const std::string& name) {
    return m.GetEnv(name).value_or("<undefined>");
}

TEST(MachineDrives, OneDrivePerLetterLinkWithTypesFromTheRegistry) {
    TempPrefix p;
    for (const char* dir : {"cd", "floppy", "net", "ram"})
        fs::create_directory(p.Dir() / dir);
    fs::path dev = p.Dir() / "dosdevices";
    fs::create_directory_symlink("../cd", dev / "d:");
    fs::create_directory_symlink("../floppy", dev / "a:");
    fs::create_directory_symlink("../net", dev / "n:");
    fs::create_directory_symlink("../ram", dev / "r:");
    fs::create_directory_symlink("/", dev / "z:");
    fs::create_directory_symlink("../gone", dev / "e:");  // dangling
    fs::create_symlink("/dev/null", dev / "d::");         // raw device, not a drive
    fs::create_symlink("/dev/ttyS0", dev / "com1");
    p.SystemReg(R"(
[Software\\Wine\\Drives] 1700000000
"D:"="cdrom"
"a:"="Floppy"
"n:"="network"
"r:"="ramdisk"
"e:"="hd"
)");
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();

    const auto& drives = m->Drives();
    std::string letters;
    for (const auto& d : drives)
        letters += d.letter;
    EXPECT_EQ(letters, "ACDENRZ");
    EXPECT_EQ(m->FindDrive('a')->type, DriveType::Removable);
    EXPECT_EQ(m->FindDrive('C')->type, DriveType::Fixed);  // unstated
    EXPECT_EQ(m->FindDrive('D')->type, DriveType::CdRom);
    EXPECT_EQ(m->FindDrive('E')->type, DriveType::NoRootDir);
    EXPECT_EQ(m->FindDrive('N')->type, DriveType::Remote);
    EXPECT_EQ(m->FindDrive('R')->type, DriveType::RamDisk);
    EXPECT_EQ(m->FindDrive('Z')->type, DriveType::Fixed);

    EXPECT_EQ(m->FindDrive('C')->hostRoot, fs::canonical(p.Dir() / "drive_c"));
    EXPECT_EQ(m->FindDrive('Z')->hostRoot, fs::path("/"));
}

// An XP-style machine: the Windows folder, profiles and environment as that system keeps them.
constexpr const char* kXpSystem = R"(
[Software\\Microsoft\\Windows NT\\CurrentVersion] 1700000000
"CSDVersion"="Service Pack 2"
"CurrentBuildNumber"="2600"
"CurrentVersion"="5.1"
"ProductName"="Microsoft Windows XP"
"SystemRoot"="C:\\WINDOWS"

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList] 1700000000
"AllUsersProfile"="All Users"
"ProfilesDirectory"=str(2):"%SystemDrive%\\Documents and Settings"

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000] 1700000000
"ProfileImagePath"=str(2):"%SystemDrive%\\Documents and Settings\\alice"

[Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"ProgramFilesDir"="C:\\Program Files"

[System\\CurrentControlSet\\Control\\ComputerName\\ComputerName] 1700000000
"ComputerName"="DESK"

[System\\CurrentControlSet\\Control\\ProductOptions] 1700000000
"ProductSuite"=str(7):"Terminal Server\0Personal\0"
"ProductType"="WinNT"

[System\\CurrentControlSet\\Control\\Session Manager\\Environment] 1700000000
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"Path"=str(2):"%SystemRoot%\\system32;%SystemRoot%"
"TEMP"=str(2):"%SystemRoot%\\TEMP"
"TMP"=str(2):"%SystemRoot%\\TEMP"
"USERNAME"="SYSTEM"
"windir"=str(2):"%SystemRoot%"
"ToolDir"=str(2):"%ToolRoot%\\bin"
"ToolRoot"="D:\\tools"
"Unknown"=str(2):"%NOPE%\\x;%%"
"Literal"="%SystemRoot%"
"Empty"=""
)";

constexpr const char* kXpUser = R"(
[Control Panel\\International] 1700000000
"Locale"="00000407"

[Environment] 1700000000
"PATH"=str(2):"%USERPROFILE%\\bin"
"TEMP"=str(2):"%USERPROFILE%\\Local Settings\\Temp"
"ToolRoot"="E:\\mine"

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders] 1700000000
"AppData"="C:\\stale\\Application Data"
"Local AppData"="C:\\Documents and Settings\\alice\\Local Settings\\Application Data"

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders] 1700000000
"AppData"=str(2):"%USERPROFILE%\\Application Data"
)";

TEST(MachineEnvironment, MachineThenUserValuesAsTheSystemBuildsThem) {
    TempPrefix p;
    p.SystemReg(kXpSystem);
    p.UserReg(kXpUser);
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();

    EXPECT_EQ(Env(*m, "SystemRoot"), "C:\\WINDOWS");
    EXPECT_EQ(Env(*m, "windir"), "C:\\WINDOWS");
    EXPECT_EQ(Env(*m, "SystemDrive"), "C:");
    EXPECT_EQ(Env(*m, "ComSpec"), "C:\\WINDOWS\\system32\\cmd.exe");
    EXPECT_EQ(Env(*m, "ProgramFiles"), "C:\\Program Files");
    EXPECT_EQ(Env(*m, "CommonProgramFiles"), "C:\\Program Files\\Common Files");
    EXPECT_EQ(Env(*m, "ALLUSERSPROFILE"), "C:\\Documents and Settings\\All Users");
    EXPECT_EQ(Env(*m, "COMPUTERNAME"), "DESK");
    EXPECT_EQ(Env(*m, "OS"), "Windows_NT");

    // The user's profile replaces the machine's placeholder user.
    EXPECT_EQ(Env(*m, "USERPROFILE"), "C:\\Documents and Settings\\alice");
    EXPECT_EQ(Env(*m, "USERNAME"), "alice");
    // User Shell Folders win over the cached Shell Folders; the cache fills the gaps.
    EXPECT_EQ(Env(*m, "APPDATA"), "C:\\Documents and Settings\\alice\\Application Data");
    EXPECT_EQ(Env(*m, "LOCALAPPDATA"),
              "C:\\Documents and Settings\\alice\\Local Settings\\Application Data");

    // The user's PATH is appended to the machine's; other user values replace.
    EXPECT_EQ(Env(*m, "PATH"),
              "C:\\WINDOWS\\system32;C:\\WINDOWS;C:\\Documents and Settings\\alice\\bin");
    EXPECT_EQ(Env(*m, "TEMP"), "C:\\Documents and Settings\\alice\\Local Settings\\Temp");
    EXPECT_EQ(Env(*m, "TMP"), "C:\\WINDOWS\\TEMP");
    EXPECT_EQ(Env(*m, "ToolRoot"), "E:\\mine");

    // Plain strings are defined before any expandable one is expanded.
    EXPECT_EQ(Env(*m, "ToolDir"), "D:\\tools\\bin");
    // Undefined references and "%%" stay as written; plain strings are never expanded.
    EXPECT_EQ(Env(*m, "Unknown"), "%NOPE%\\x;%%");
    EXPECT_EQ(Env(*m, "Literal"), "%SystemRoot%");
    // An empty value defines nothing.
    EXPECT_FALSE(m->GetEnv("Empty"));
    // Names match without regard to case.
    EXPECT_EQ(Env(*m, "path"), Env(*m, "PATH"));
    EXPECT_EQ(Env(*m, "SYSTEMROOT"), "C:\\WINDOWS");
    EXPECT_EQ(m->Env().count("Windir"), 1u);
}

TEST(MachineEnvironment, DefaultsWhenTheRegistryStatesNothing) {
    TempPrefix p;
    p.SystemReg("");
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();

    EXPECT_EQ(Env(*m, "SystemRoot"), "C:\\windows");
    EXPECT_EQ(Env(*m, "windir"), "C:\\windows");
    EXPECT_EQ(Env(*m, "SystemDrive"), "C:");
    std::string profile = Env(*m, "USERPROFILE");
    EXPECT_EQ(profile.rfind("C:\\users\\", 0), 0u) << profile;
    EXPECT_EQ(Env(*m, "USERNAME"), profile.substr(9));
    EXPECT_EQ(Env(*m, "TEMP"), profile + "\\Temp");
    EXPECT_EQ(Env(*m, "TMP"), profile + "\\Temp");
    // Not invented: the program-files fallback depends on the variable being absent.
    EXPECT_FALSE(m->GetEnv("ProgramFiles"));
    EXPECT_FALSE(m->GetEnv("APPDATA"));
}

TEST(MachineVersion, NtFactsFromTheRegistry) {
    TempPrefix p;
    p.SystemReg(kXpSystem);
    p.UserReg(kXpUser);
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();
    const VersionFacts& v = m->Version();
    EXPECT_TRUE(v.isNt);
    EXPECT_EQ(v.major, 5u);
    EXPECT_EQ(v.minor, 1u);
    EXPECT_EQ(v.build, 2600u);
    EXPECT_EQ(v.servicePack, "Service Pack 2");
    EXPECT_EQ(v.productName, "Microsoft Windows XP");
    EXPECT_EQ(v.productType, "WinNT");
    EXPECT_EQ(v.suiteMask, 0x0210u);  // Terminal Server | Personal
    EXPECT_EQ(v.userDefaultLanguage, 0x0407u);
}

TEST(MachineVersion, NinetyEightFactsWhenTheNtVersionIsAbsent) {
    TempPrefix p;
    // A prefix switched to Windows 98 keeps the NT key but drops its version values.
    p.SystemReg(R"(
[Software\\Microsoft\\Windows NT\\CurrentVersion] 1700000000
"SystemRoot"="C:\\windows"

[Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"ProductName"="Microsoft Windows 98"
"SubVersionNumber"=" A "
"VersionNumber"="4.10.2222"
)");
    p.UserReg(R"(
[Control Panel\\International] 1700000000
"Locale"="garbage"
)");
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();
    const VersionFacts& v = m->Version();
    EXPECT_FALSE(v.isNt);
    EXPECT_EQ(v.major, 4u);
    EXPECT_EQ(v.minor, 10u);
    EXPECT_EQ(v.build, 2222u);
    EXPECT_EQ(v.servicePack, " A ");
    EXPECT_EQ(v.productName, "Microsoft Windows 98");
    EXPECT_EQ(v.userDefaultLanguage, 0x0409u);  // unreadable locale: the default
    EXPECT_FALSE(m->GetEnv("OS"));
}

// The registry of a prefix made by Wine itself: what a program started in it is told.
TEST(MachineCorpus, WineSevenPrefix) {
    fs::path data = testing::TestDataDir();
    if (data.empty() || !fs::exists(data / "wine-prefix" / "system.reg")) {
        GTEST_SKIP() << "test data folder not found: " << HIVEWISE_TESTDATA_DIR;
    }
    TempPrefix p;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(data / "wine-prefix" / name, p.Dir() / name);
    }
    fs::create_directory_symlink("/", p.Dir() / "dosdevices" / "z:");
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();

    const VersionFacts& v = m->Version();
    EXPECT_TRUE(v.isNt);
    EXPECT_EQ(v.major, 6u);
    EXPECT_EQ(v.minor, 1u);
    EXPECT_EQ(v.build, 7601u);
    EXPECT_EQ(v.servicePack, "Service Pack 1");
    EXPECT_EQ(v.productName, "Microsoft Windows 7");
    EXPECT_EQ(v.userDefaultLanguage, 0x0409u);

    EXPECT_EQ(Env(*m, "SystemRoot"), "C:\\windows");
    EXPECT_EQ(Env(*m, "ComSpec"), "C:\\windows\\system32\\cmd.exe");
    EXPECT_EQ(
        Env(*m, "PATH").rfind("C:\\windows\\system32;C:\\windows;C:\\windows\\system32\\wbem", 0),
        0u)
        << Env(*m, "PATH");
    EXPECT_EQ(Env(*m, "USERPROFILE"), "C:\\users\\root");
    EXPECT_EQ(Env(*m, "USERNAME"), "root");
    EXPECT_EQ(Env(*m, "TEMP"), "C:\\users\\root\\Temp");
    EXPECT_EQ(Env(*m, "APPDATA"), "C:\\users\\root\\AppData\\Roaming");
    EXPECT_EQ(Env(*m, "LOCALAPPDATA"), "C:\\users\\root\\AppData\\Local");
    EXPECT_EQ(Env(*m, "ProgramFiles"), "C:\\Program Files");
    EXPECT_EQ(Env(*m, "ALLUSERSPROFILE"), "C:\\ProgramData");
    EXPECT_EQ(Env(*m, "PUBLIC"), "C:\\users\\Public");
    EXPECT_EQ(Env(*m, "COMPUTERNAME"), "VM");
    EXPECT_EQ(Env(*m, "PATHEXT"), ".com;.exe;.bat;.cmd;.vbs;.vbe;.js;.jse;.wsf;.wsh");

    ASSERT_EQ(m->Drives().size(), 2u);
    EXPECT_EQ(m->Drives()[0].letter, 'C');
    EXPECT_EQ(m->Drives()[0].type, DriveType::Fixed);
    EXPECT_EQ(m->Drives()[1].letter, 'Z');
}

}  // namespace
}  // namespace hivewise
