#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/main_window.h"
#include "app/settings.h"
#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"

// The program's start, step by step as the front end drives it, and its end.
namespace hivewise {

constexpr std::string_view kSplashFailedText = "Failed to create splash screen";
constexpr int kSplashWidth = 622;
constexpr int kSplashHeight = 320;

// The start picture, shown by a thread of its own until the main window is ready.
class Splash {
  public:
    virtual ~Splash() = default;
    // Starts the splash thread, which opens its window; false when it cannot start.
    virtual bool Create() = 0;
    // Returns once the splash window exists.
    virtual void WaitUntilShown() = 0;
    // Asks the splash window to close.
    virtual void Close() = 0;
};

// What the main window's initialisation needs from elsewhere. Empty steps are skipped;
// the view steps belong to the window toolkit.
struct MainWindowInitSteps {
    // The operating-system description the scan log's header uses.
    std::function<std::string()> systemInformation{};
    // Loads the ignore list into memory.
    std::function<void()> loadIgnoreList{};
    // View: sizes the window to its picture and centres it.
    std::function<void()> sizeAndCentre{};
    // View: attaches the tooltips to the section check boxes.
    std::function<void()> attachTooltips{};
    // View: shows the ticks the window has just read from the settings.
    std::function<void()> showTicks{};
    // View: sets up the section list and the results list.
    std::function<void()> setUpLists{};
    // View: shows the start page, not top-most.
    std::function<void()> showStartPage{};
};

class StartUp {
  public:
    StartUp(AppPrompts& prompts, Splash& splash) : prompts_(prompts), splash_(splash) {}

    // True when this is the only instance; otherwise the program ends at once without
    // a message. `acquire` takes the single-instance lock.
    bool CheckSingleInstance(const std::function<bool()>& acquire);
    // Starts the splash; when it cannot, tells the user and answers false (end).
    bool ShowSplash();
    // Writes the first-run defaults when the settings key is missing, and saves them.
    Settings::FirstRunResult FirstRun(Machine& machine);
    // The main window's initialisation, in its order; closes the splash on the way.
    void InitialiseMainWindow(MainWindow& window, const MainWindowInitSteps& steps);
    // Closes the splash once it has shown; does nothing when it is not up. For failure
    // paths between the splash and the main window.
    void CloseSplash();
    // At the end of the program: saves what changed.
    bool Exit(Machine& machine);

  private:
    AppPrompts& prompts_;
    Splash& splash_;
    bool splashUp_ = false;
};

}  // namespace hivewise
