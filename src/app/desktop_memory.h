#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "app/machine_chooser.h"

// What the desktop program remembers for the user between starts: the machine last
// worked on and where its window was. It lives in the user's own configuration folder,
// not in a machine's registry, since it is about choosing among machines.
namespace hivewise {

// The main window's place and size on the desktop, in device-independent pixels.
struct WindowPlace {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool maximised = false;
};

class DesktopMemory {
  public:
    // `file` is read at once; a missing, oversized or unreadable file remembers nothing.
    explicit DesktopMemory(std::filesystem::path file);

    // $XDG_CONFIG_HOME/hivewise/desktop.conf, else ~/.config/hivewise/desktop.conf;
    // empty when neither variable is set.
    static std::filesystem::path DefaultFile(const std::map<std::string, std::string>& env);

    std::optional<MachineRequest> LastMachine() const { return machine_; }
    void SetLastMachine(const MachineRequest& request);
    std::optional<WindowPlace> Place() const { return place_; }
    void SetPlace(const WindowPlace& place);

    // Writes the file atomically, making its folder; false when it cannot.
    bool Save() const;

  private:
    std::filesystem::path file_;
    std::optional<MachineRequest> machine_;
    std::optional<WindowPlace> place_;
};

// The machine a start without --prefix opens when WINEPREFIX does not name one: the
// remembered one, while it is still a prefix (or was the sample machine).
std::optional<MachineRequest> RememberedStartMachine(const DesktopMemory& memory,
                                                     const std::map<std::string, std::string>& env);

}  // namespace hivewise
