#include <QTest>
#include <filesystem>

#include "app/app_fixture.h"
#include "ui/full_backup_view.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

using ui::FullBackupView;

class FullBackupViewTest : public UiTest {
  protected:
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& [text, icon] : prompts.messages)
            texts.push_back(text);
        return texts;
    }
    FakePrompts prompts;
};

TEST_F(FullBackupViewTest, BackupThenRestoreThroughTheWindow) {
    {
        FullBackupDialog logic(*machine, prompts);
        FullBackupView dialog(logic, *machine, prompts, nullptr);
        dialog.show();
        EXPECT_EQ(dialog.NextButton()->text(), "Next");
        QTest::mouseClick(dialog.NextButton(), Qt::LeftButton);
        ASSERT_EQ(Texts(), std::vector<std::string>{kSelectOption});

        dialog.CreateOption()->setChecked(true);
        QTest::mouseClick(dialog.NextButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(Texts().back(), kFullBackupDone);
    }
    RegistryAccess registry(*machine);
    ASSERT_TRUE(registry.WriteSetting("Changed", "after the backup"));

    bool saved = false;
    FullBackupDialog logic(*machine, prompts);
    FullBackupView dialog(logic, *machine, prompts, [&] { return saved = machine->Flush().ok; });
    dialog.show();
    dialog.RestoreOption()->setChecked(true);
    QTest::mouseClick(dialog.NextButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.NextButton()->text(), "Finish");
    ASSERT_EQ(dialog.List()->count(), 1);
    QTest::mouseClick(dialog.NextButton(), Qt::LeftButton);
    EXPECT_EQ(Texts().back(), kSelectBackupDateText);

    dialog.List()->setCurrentRow(0);
    QTest::mouseClick(dialog.NextButton(), Qt::LeftButton);
    std::vector<std::string> texts = Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], kFullRestoreDone);
    EXPECT_EQ(texts.back(), kRestoredNotice);
    EXPECT_TRUE(saved);
    std::string value;
    EXPECT_FALSE(registry.ReadSetting("Changed", &value));
}

}  // namespace
}  // namespace hivewise::testing
