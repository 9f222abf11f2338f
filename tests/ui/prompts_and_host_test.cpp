#include <QApplication>
#include <QCursor>

#include "ui/qt_host_services.h"
#include "ui/qt_prompts.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

TEST(QtPromptsTest, WaitCursorIsBalancedAndNeverOutlivesThePrompts) {
    {
        ui::QtPrompts prompts;
        {
            WaitCursor outer(prompts);
            WaitCursor inner(prompts);
            ASSERT_NE(QApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        prompts.SetWaitCursor(false);  // one too many: no harm
        prompts.SetWaitCursor(true);   // left on by an early return
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtPromptsTest, MessagesShowTheirTextAndAnswerYesOrNo) {
    MessageBoxCloser closer;
    ui::QtPrompts prompts;
    prompts.Message("Invalid Log File Path", MessageIcon::Warning);
    // The closer presses the default button, which for a question is No.
    EXPECT_FALSE(prompts.AskYesNo("Remove?"));
    // OK/Cancel questions default to Cancel.
    EXPECT_FALSE(prompts.AskOkCancel("Proceed?"));
    EXPECT_EQ(closer.texts,
              (std::vector<std::string>{"Invalid Log File Path", "Remove?", "Proceed?"}));
}

TEST(QtHostServicesTest, StartsOnlyWhatExists) {
    EXPECT_TRUE(ui::QtHostServices::IsWindowsProgram("/p/drive_c/tool.EXE"));
    EXPECT_TRUE(ui::QtHostServices::IsWindowsProgram("/p/drive_c/setup.bat"));
    EXPECT_FALSE(ui::QtHostServices::IsWindowsProgram("/p/drive_c/readme.txt"));
    EXPECT_FALSE(ui::QtHostServices::IsWindowsProgram("/p/drive_c/exe"));

    ui::QtHostServices host("/nonexistent-prefix");
    EXPECT_FALSE(host.Launch("", "", false, 100));
    EXPECT_FALSE(host.Launch("/nonexistent-prefix/drive_c/tool.exe", "", true, 100));
    EXPECT_FALSE(host.Launch("/nonexistent-prefix/drive_c/readme.txt", "", false, 100));
    host.PumpEvents(10);  // returns within its bound

    // A program file Wine could not start is refused before anything is started, so
    // that "Run Selected" can say so.
    TempPrefix prefix;
    prefix.File("stub.exe", "MZ");
    std::string far(64, '\0');
    far[0] = 'M';
    far[1] = 'Z';
    far[0x3d] = 0x7f;  // e_lfanew far beyond the file
    prefix.File("far.exe", far);
    ui::QtHostServices real(prefix.Dir());
    EXPECT_FALSE(real.Launch((prefix.Dir() / "drive_c/stub.exe").string(), "", false, 100));
    EXPECT_FALSE(real.Launch((prefix.Dir() / "drive_c/far.exe").string(), "", false, 100));
}

}  // namespace
}  // namespace hivewise::testing
