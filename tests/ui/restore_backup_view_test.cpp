#include "ui/restore_backup_view.h"

#include <QTest>

#include "app/app_fixture.h"
#include "app/repair_problems_flow.h"
#include "platform/registry/registry_access.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

using ui::RemoveBackupView;
using ui::RestoreBackupView;

class RestoreBackupViewTest : public UiTest {
  protected:
    // One repair of the stale Run value: one archive with one item.
    void RepairStaleRun() {
        ResultStore results;
        results.Problems().push_back(std::make_unique<Problem>(
            8, ProblemTexts{.location = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                            .valueName = "Stale",
                            .valueData = "c:\\program files\\gone\\gone.exe"}));
        RepairSelectedProblems(*machine, results, prompts, {});
    }
    std::string Stale() {
        return RegistryAccess(*machine).ReadStringValue(
            kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Stale");
    }
    FakePrompts prompts;
};

TEST_F(RestoreBackupViewTest, OpensOnTheNewestTickAndRestore) {
    RepairStaleRun();
    ASSERT_EQ(Stale(), "");
    RestoreBackupDialog logic(*machine, prompts);
    bool removeOpened = false;
    RestoreBackupView dialog(logic, [&] {
        removeOpened = true;
        return false;
    });
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Restore Backup");
    ASSERT_EQ(dialog.DateList()->count(), 1);
    EXPECT_EQ(dialog.DateList()->currentIndex(), 0) << "the newest backup is shown at once";
    ASSERT_EQ(dialog.ItemList()->topLevelItemCount(), 1);
    EXPECT_FALSE(dialog.RestoreButton()->isEnabled()) << "nothing ticked, nothing to restore";
    QTreeWidgetItem* row = dialog.ItemList()->topLevelItem(0);
    EXPECT_EQ(row->text(0), "RegValue");
    EXPECT_EQ(row->text(1), "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_EQ(row->checkState(0), Qt::Unchecked);

    QTest::mouseClick(dialog.RemoveButton(), Qt::LeftButton);
    EXPECT_TRUE(removeOpened);
    dialog.ItemList()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(dialog.RestoreButton()->isEnabled());
    QTest::mouseClick(dialog.DeselectAllButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.RestoreButton()->isEnabled());
    QTest::mouseClick(dialog.SelectAllButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.ItemList()->topLevelItem(0)->checkState(0), Qt::Checked);
    QTest::mouseClick(dialog.RestoreButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(prompts.messages.back().first, kEntriesRestoredText);
    EXPECT_EQ(Stale(), "C:\\Program Files\\Gone\\gone.exe");
}

TEST_F(RestoreBackupViewTest, RemoveDeletesTheChosenArchive) {
    RepairStaleRun();
    RemoveBackupDialog logic(*machine, prompts);
    RemoveBackupView dialog(logic);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Remove Backup");
    ASSERT_EQ(dialog.DateList()->count(), 1);
    QTest::mouseClick(dialog.RemoveButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.messages.back().first, kSelectBackupDateText);
    dialog.DateList()->setCurrentIndex(0);
    QTest::mouseClick(dialog.RemoveButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(prompts.messages.back().first, kBackupDeletedText);
    EXPECT_TRUE(ListFixBackups(*machine).empty());
}

}  // namespace
}  // namespace hivewise::testing
