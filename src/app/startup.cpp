#include "app/startup.h"

#include "app/save_changes.h"
#include "scan/scan_driver.h"

namespace hivewise {

bool StartUp::CheckSingleInstance(const std::function<bool()>& acquire) {
    return !acquire || acquire();
}

bool StartUp::ShowSplash() {
    if (!splash_.Create()) {
        prompts_.Message(std::string(kSplashFailedText), MessageIcon::Stop);
        return false;
    }
    splashUp_ = true;
    return true;
}

Settings::FirstRunResult StartUp::FirstRun(Machine& machine) {
    Settings settings(machine);
    Settings::FirstRunResult result = settings.FirstRun();
    if (result != Settings::FirstRunResult::AlreadySet) SaveChanges(machine, prompts_);
    return result;
}

void StartUp::InitialiseMainWindow(MainWindow& window, const MainWindowInitSteps& steps) {
    if (steps.systemInformation) window.SetSystemDescription(steps.systemInformation());
    if (steps.loadIgnoreList) steps.loadIgnoreList();
    if (steps.sizeAndCentre) steps.sizeAndCentre();
    {
        WaitCursor wait(prompts_);
        window.SetCompleteScanEstimate(CompleteScanEstimate(window.GetSettings().Registry()));
    }
    if (steps.attachTooltips) steps.attachTooltips();
    window.LoadTicks();
    if (steps.showTicks) steps.showTicks();
    if (steps.setUpLists) steps.setUpLists();
    CloseSplash();
    window.SetView(MainView::StartPage);
    if (steps.showStartPage) steps.showStartPage();
}

void StartUp::CloseSplash() {
    if (!splashUp_) return;
    splash_.WaitUntilShown();
    splash_.Close();
    splashUp_ = false;
}

bool StartUp::Exit(Machine& machine) {
    return SaveChanges(machine, prompts_);
}

}  // namespace hivewise
