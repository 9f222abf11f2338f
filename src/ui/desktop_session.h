#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/desktop_memory.h"
#include "app/startup.h"
#include "platform/machine/machine.h"
#include "ui/desktop_app.h"

// The desktop program's life after start-up: the window on one machine until the user
// closes it, and the switch to another machine picked in its chooser.
namespace hivewise::ui {

struct DesktopSessionOptions {
    std::map<std::string, std::string> env;  // HOME, WINEPREFIX, XDG_DATA_HOME
    std::filesystem::path executable;
    // The machine worked on and the window's place, kept for the next start; none when
    // null.
    DesktopMemory* memory = nullptr;
    // Called each time a window is up, for checks.
    std::function<void(DesktopApp&)> windowUp{};
};

// Places the program in each machine and makes its settings, as a start does, runs the
// window and saves at its end. Returns the event loop's status.
int RunDesktopSession(std::unique_ptr<Machine> machine, bool isSample, StartUp& startUp,
                      const DesktopSessionOptions& options);

}  // namespace hivewise::ui
