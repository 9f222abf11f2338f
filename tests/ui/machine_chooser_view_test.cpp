#include <QComboBox>
#include <QTest>
#include <QTimer>

#include "app/startup.h"
#include "platform/fake_home.h"
#include "platform/machine/sample_machine.h"
#include "ui/desktop_app.h"
#include "ui/desktop_session.h"
#include "ui/preferences_view.h"
#include "ui/splash.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

TEST_F(UiTest, WorkingOnLineOffersTheFoundMachines) {
    FakeHome home;
    LayOutFourMachines(home);
    std::vector<FoundMachine> machines = FindMachines(home.Env(), RunningExecutable());
    machines[1].wineRunning = true;

    ui::DesktopApp desktop(*machine, false);
    ui::CSplashThread splash;
    StartUp startUp(desktop.Prompts(), splash);
    ASSERT_TRUE(startUp.ShowSplash());
    startUp.InitialiseMainWindow(desktop.Logic(), desktop.InitSteps());
    QComboBox* box = desktop.View().MachineChooserBox();
    EXPECT_FALSE(box->isVisible()) << "no chooser until machines are offered";

    std::vector<MachineRequest> requests;
    bool accept = false;
    desktop.OfferMachines(machines, [&](const MachineRequest& request) {
        requests.push_back(request);
        return accept;
    });
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(desktop.View().MachineLabel()->text(), "Working on:");
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    EXPECT_EQ(
        items,
        (QStringList{QString::fromStdString(prefix.Dir().string()), "Cyberpunk 2077 (steam)",
                     "Half-Life 2 (steam) - Wine is running, read only", "Office 2010 (bottles)",
                     "The Witcher 3 (lutris)", "sample machine", "Other folder..."}));
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_TRUE(box->itemData(2, Qt::ToolTipRole).toString().contains("Windows 7"));

    // The user picks a machine: the switch is asked for, read only where Wine runs; a
    // refused switch leaves the current machine shown.
    box->setCurrentIndex(2);
    emit box->activated(2);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].folder, machines[1].path);
    EXPECT_TRUE(requests[0].readOnly);
    EXPECT_EQ(box->currentIndex(), 0);

    accept = true;
    box->setCurrentIndex(4);
    emit box->activated(4);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].folder, home.Dir() / "Games" / "witcher");
    EXPECT_FALSE(requests[1].readOnly);
    EXPECT_EQ(box->currentIndex(), 4);
}

TEST_F(UiTest, HiddenUpdateButtonRunsTheCheckItIsGiven) {
    ui::QtPrompts prompts;
    PreferencesDialog logic(*machine, prompts);
    int checks = 0;
    logic.SetCheckForUpdates([&] { ++checks; });
    ui::PreferencesDialogView dialog(logic);
    dialog.show();
    EXPECT_FALSE(dialog.UpdatesButton()->isVisible());
    dialog.UpdatesButton()->click();
    EXPECT_EQ(checks, 1);
}

TEST(DesktopSessionTest, PickingAMachineReopensTheWindowOnIt) {
    FakeHome home;
    LayOutFourMachines(home);
    const std::filesystem::path witcher = home.Dir() / "Games" / "witcher";
    const std::filesystem::path halfLife =
        home.Dir() / ".local/share/Steam/steamapps/compatdata/220/pfx";
    Machine::LoadResult first = Machine::Load(witcher);
    ASSERT_TRUE(first.machine) << first.error;

    ui::CSplashThread splash;
    ui::QtPrompts prompts;
    StartUp startUp(prompts, splash);
    ASSERT_TRUE(startUp.ShowSplash());
    std::vector<std::filesystem::path> windows;
    ui::DesktopSessionOptions options{home.Env(), RunningExecutable(), {}};
    options.windowUp = [&](ui::DesktopApp& desktop) {
        windows.push_back(desktop.GetMachine().PrefixDir());
        const bool firstWindow = windows.size() == 1;
        QTimer::singleShot(0, [&desktop, firstWindow] {
            if (!firstWindow) {
                desktop.View().close();
                return;
            }
            QComboBox* box = desktop.View().MachineChooserBox();
            int index = box->findText("Half-Life 2 (steam)");
            box->setCurrentIndex(index);
            emit box->activated(index);
        });
    };
    EXPECT_EQ(ui::RunDesktopSession(std::move(first.machine), false, startUp, options), 0);
    EXPECT_EQ(windows, (std::vector<std::filesystem::path>{witcher, halfLife}));
}

}  // namespace
}  // namespace hivewise::testing
