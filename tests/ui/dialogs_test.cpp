#include <QTest>
#include <filesystem>

#include "app/app_fixture.h"
#include "app/settings.h"
#include "ui/advanced_options_view.h"
#include "ui/ignore_list_view.h"
#include "ui/preferences_view.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

using ui::PreferencesDialogView;

// A click on the box itself: a check box reacts to its square and its text only.
void ClickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

class PreferencesViewTest : public UiTest {
  protected:
    std::string Setting(std::string_view name) {
        return Settings(*machine).Read(name).value_or("<missing>");
    }
    FakePrompts prompts;
};

TEST_F(PreferencesViewTest, OkSavesIntoTheRegistryAndUserReg) {
    PreferencesDialog logic(*machine, prompts);
    PreferencesDialogView dialog(logic);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_FALSE(dialog.RunAtStartupBox()->isChecked());
    EXPECT_TRUE(dialog.CheckItemsBox()->isChecked());
    EXPECT_TRUE(dialog.GenerateLogBox()->isChecked());
    EXPECT_TRUE(dialog.PathField()->isEnabled());
    EXPECT_EQ(dialog.PathField()->text(), "C:\\Program Files\\Hivewise\\logs");
    EXPECT_TRUE(dialog.UpdatesButton()->isHidden());

    ClickBox(dialog.RunAtStartupBox());
    ClickBox(dialog.CheckItemsBox());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(Setting("AutoRun"), "1");
    EXPECT_EQ(Setting("CheckAllItems"), "0");
    EXPECT_EQ(Setting("NoAutoBackup"), "0");
    std::string userReg = prefix.Read("user.reg");
    EXPECT_NE(userReg.find("\"AutoRun\"=\"1\""), std::string::npos);
    EXPECT_NE(userReg.find("\"CheckAllItems\"=\"0\""), std::string::npos);
    EXPECT_NE(userReg.find("\"Hivewise.exe\"="), std::string::npos) << "run entry set";
}

TEST_F(PreferencesViewTest, TypedPathMustExistAndCancelSavesNothing) {
    PreferencesDialog logic(*machine, prompts);
    PreferencesDialogView dialog(logic);
    dialog.show();
    dialog.PathField()->selectAll();
    QTest::keyClicks(dialog.PathField(), "C:\\nowhere");
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, "Invalid Log File Path");
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays";
    EXPECT_EQ(Setting("Log File Path"), "C:\\Program Files\\Hivewise\\logs");

    dialog.PathField()->selectAll();
    QTest::keyClicks(dialog.PathField(), "C:\\windows");
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Setting("Log File Path"), "C:\\windows");

    PreferencesDialog second(*machine, prompts);
    PreferencesDialogView again(second);
    again.show();
    ClickBox(again.RunAtStartupBox());
    QTest::mouseClick(again.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(again.result(), QDialog::Rejected);
    EXPECT_EQ(Setting("AutoRun"), "0");
}

TEST_F(PreferencesViewTest, PathFieldStaysDisabledWhenLoggingWasOff) {
    Settings(*machine).Write("Generate Log", "0");
    PreferencesDialog logic(*machine, prompts);
    PreferencesDialogView dialog(logic);
    dialog.show();
    EXPECT_FALSE(dialog.PathField()->isEnabled());
    EXPECT_FALSE(dialog.BrowseButton()->isEnabled());
    ClickBox(dialog.GenerateLogBox());
    EXPECT_TRUE(dialog.GenerateLogBox()->isChecked());
    EXPECT_FALSE(dialog.PathField()->isEnabled());
    EXPECT_FALSE(dialog.BrowseButton()->isEnabled());
}

TEST_F(PreferencesViewTest, BrowseCancelledEmptiesTheField) {
    PreferencesDialog logic(*machine, prompts);
    PreferencesDialogView dialog(logic);
    dialog.show();
    prompts.chosenFolder.reset();
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.chooserTitles.size(), 1u);
    EXPECT_TRUE(dialog.PathField()->text().isEmpty());

    // A host folder comes back as the machine's path that reaches it.
    prompts.chosenFolder = prefix.Dir() / "drive_c" / "windows";
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.PathField()->text(), "C:\\windows");
}

TEST_F(PreferencesViewTest, ShowIgnoreListOpensTheDialog) {
    int opened = 0;
    PreferencesDialog logic(*machine, prompts, [&] { ++opened; });
    PreferencesDialogView dialog(logic);
    QTest::mouseClick(dialog.IgnoreListButton(), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
}

TEST(AdvancedOptionsViewTest, ShowsFourAreasThatOpenTheirTools) {
    AdvancedOptions logic;
    ui::AdvancedOptionsView view(logic);
    view.show();
    EXPECT_EQ(view.windowTitle(), "Advanced Options");
    for (int area = 0; area < kAdvancedAreaCount; ++area) {
        ASSERT_NE(view.Area(area), nullptr);
        EXPECT_EQ(view.Area(area)->Text().toStdString(), AdvancedOptions::Introduction(area));
        QTest::mouseClick(view.Area(area), Qt::LeftButton);  // no tool yet: nothing happens
    }
    EXPECT_TRUE(view.Area(0)->Text().startsWith("This section will display specific Browser"));
    int opened = -1;
    logic.SetAction(kStartupArea, [&] { opened = kStartupArea; });
    QTest::mouseClick(view.Area(kStartupArea), Qt::LeftButton);
    EXPECT_EQ(opened, kStartupArea);
}

TEST_F(PreferencesViewTest, IgnoreListViewWalksToThePresetKeyAndSaves) {
    IgnoreList mainList;
    IgnoreListDialog logic(*machine, prompts, &mainList);
    ui::IgnoreListView view(logic, "HKCU\\Software\\Hivewise");
    view.show();
    ASSERT_NE(view.Tree()->currentItem(), nullptr);
    EXPECT_EQ(view.Tree()->currentItem()->text(0), "Hivewise");
    EXPECT_EQ(view.Tree()->topLevelItemCount(), 3);
    ASSERT_EQ(view.List()->topLevelItemCount(), 1);
    EXPECT_EQ(view.List()->topLevelItem(0)->text(0), "HKEY_CURRENT_USER\\Software\\Hivewise");

    // Expanding a key reads its sub-keys once.
    QTreeWidgetItem* software = view.Tree()->currentItem()->parent();
    ASSERT_NE(software, nullptr);
    EXPECT_GE(software->childCount(), 2);

    // The same key again is refused; a checked row goes with Remove.
    QTest::mouseClick(view.AddButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.messages.back().first, kKeyAlreadyAdded);
    view.List()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QTest::mouseClick(view.RemoveButton(), Qt::LeftButton);
    EXPECT_EQ(view.List()->topLevelItemCount(), 0);
    QTest::mouseClick(view.AddButton(), Qt::LeftButton);
    EXPECT_EQ(view.List()->topLevelItemCount(), 1);

    QTest::mouseClick(view.SaveButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.messages.back().first, kIgnoreDataSaved);
    EXPECT_EQ(view.result(), QDialog::Accepted);
    EXPECT_EQ(mainList, IgnoreList{"HKEY_CURRENT_USER\\Software\\Hivewise"});
    EXPECT_TRUE(
        std::filesystem::exists(prefix.Dir() / "drive_c/Program Files/Hivewise/Iglist.lst"));
}

}  // namespace
}  // namespace hivewise::testing
