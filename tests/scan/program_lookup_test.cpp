#include "scan/scanners/program_lookup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "scanner_harness.h"

namespace hivewise {
namespace {

using program_lookup::IconFile;
using program_lookup::Judged;
using program_lookup::ProgramOfCommand;

// Drive C: fixed, D: a CD-ROM; a few programs, one registered under App Paths.
class ProgramLookupTest : public testing::DrivesTest {
  protected:
    void SetUp() override {
        DrivesTest::SetUp();
        for (const char* file : {"windows/system32/notepad.exe", "windows/system32/rundll32.exe",
                                 "windows/system32/setupapi.dll", "Program Files/App/app.exe",
                                 "Program Files/App/app.ico", "Program Files/Other Dir/tool.exe",
                                 "Program Files/Windows NT/Accessories/wordpad.exe"}) {
            prefix.File(file, "MZ");
        }
        machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wordpad.exe] 1700000000
@="C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe"
)");
        ASSERT_TRUE(machine);
        registry = std::make_unique<RegistryAccess>(*machine);
        files = std::make_unique<FileSystemAccess>(*machine);
        refs = std::make_unique<ReferenceContext>(ReferenceContext{*registry, *files});
    }
    // "file | present" of a command's program or an icon's file.
    std::string Command(std::string_view text) { return Text(ProgramOfCommand(*refs, text)); }
    std::string Icon(std::string_view text) { return Text(IconFile(*refs, text)); }
    static std::string Text(const Judged& judged) {
        return judged.file + (judged.present ? " | present" : " | missing");
    }

    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> registry;
    std::unique_ptr<FileSystemAccess> files;
    std::unique_ptr<ReferenceContext> refs;
};

TEST_F(ProgramLookupTest, CommandLinesNameTheirProgramAsTheShellRunsIt) {
    // Quoted: the quotes end the program; arguments and placeholders are not part of it.
    EXPECT_EQ(Command(R"("C:\Program Files\App\app.exe" /x "%1")"),
              "C:\\Program Files\\App\\app.exe | present");
    EXPECT_EQ(Command(R"(  "C:\Program Files\Gone\a.exe" "%1")"),
              "C:\\Program Files\\Gone\\a.exe | missing");
    // Unquoted with blanks: any prefix that is a program; when none is, the longest that
    // reads as one.
    EXPECT_EQ(Command(R"(C:\Program Files\Other Dir\tool.exe -x %1)"),
              "C:\\Program Files\\Other Dir\\tool.exe | present");
    EXPECT_EQ(Command(R"(C:\Program Files\Gone Dir\a.exe /x %1)"),
              "C:\\Program Files\\Gone Dir\\a.exe | missing");
    EXPECT_EQ(Command(R"(C:\Gone\runner %1)"), "C:\\Gone\\runner | missing");
    EXPECT_EQ(Command(R"(C:\Program Files\Gone\runner /x %1)"),
              "C:\\Program Files\\Gone\\runner | missing");
    // ".exe" is added to a program written without it.
    EXPECT_EQ(Command(R"(C:\Program Files\App\app /x)"), "C:\\Program Files\\App\\app | present");
    // Variables of any case are expanded; one the machine lacks cannot be judged.
    EXPECT_EQ(Command(R"(%SystemRoot%\system32\notepad.exe %1)"),
              "C:\\windows\\system32\\notepad.exe | present");
    EXPECT_EQ(Command(R"(%SYSTEMROOT%\gone.exe)"), "C:\\windows\\gone.exe | missing");
    EXPECT_EQ(Command(R"(%NOSUCHVARIABLE%\x.exe %1)"), "%NOSUCHVARIABLE%\\x.exe | present");
    // Bare names: the system folders, PATH, App Paths.
    EXPECT_EQ(Command("notepad %1"), "notepad | present");
    EXPECT_EQ(Command(R"(wordpad.exe "%1")"), "wordpad.exe | present");
    EXPECT_EQ(Command("gonefind.exe %1"), "gonefind.exe | missing");
    // rundll32 names the library it loads (".dll" added as the loader does).
    EXPECT_EQ(Command("rundll32 setupapi,InstallHinfSection DefaultInstall 132 %1"),
              "setupapi | present");
    EXPECT_EQ(Command(R"(rundll32.exe C:\Program Files\Gone\x.dll,Entry %1)"),
              "C:\\Program Files\\Gone\\x.dll | missing");
    EXPECT_EQ(Command(R"("C:\windows\system32\rundll32.exe" "C:\Gone\y.dll",Entry)"),
              "C:\\Gone\\y.dll | missing");
    EXPECT_EQ(Command("rundll32.exe gone32.dll,Entry"), "gone32.dll | missing");
    // What cannot be known to be gone is present.
    for (std::string_view text : {R"("%1" %*)", R"(D:\setup\run.exe %1)", R"(\\server\share\x.exe)",
                                  R"(bin\x.exe)", "/usr/bin/xdg-open %u", "", "   "}) {
        EXPECT_TRUE(ProgramOfCommand(*refs, text).present) << text;
    }
}

TEST_F(ProgramLookupTest, IconsAreAFileAndAnIndex) {
    EXPECT_EQ(Icon(R"("C:\Gone\a.dll",3)"), "C:\\Gone\\a.dll | missing");
    EXPECT_EQ(Icon(R"(C:\Gone\a.dll,-101)"), "C:\\Gone\\a.dll | missing");
    EXPECT_EQ(Icon(R"(C:\Program Files\App\app.exe, 0)"),
              "C:\\Program Files\\App\\app.exe | present");
    EXPECT_EQ(Icon(R"("C:\Program Files\App\app.ico")"),
              "C:\\Program Files\\App\\app.ico | present");
    // A comma not followed by an index belongs to the name.
    EXPECT_EQ(Icon(R"(C:\Gone\odd,name.ico)"), "C:\\Gone\\odd,name.ico | missing");
    EXPECT_EQ(Icon("notepad.exe,1"), "notepad.exe | present");
    EXPECT_EQ(Icon("%1"), "%1 | present");
    EXPECT_EQ(Icon(""), " | present");
}

}  // namespace
}  // namespace hivewise
