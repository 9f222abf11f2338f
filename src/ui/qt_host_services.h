#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>

#include "platform/machine/host_services.h"

// What the platform layer asks of the desktop: message boxes, opening documents and
// addresses in the desktop's programs, starting Windows programs through wine, and
// keeping the window alive during long loops.
namespace hivewise::ui {

class QtHostServices : public HostServices {
  public:
    // `prefix` is the machine's folder, given to wine as WINEPREFIX.
    explicit QtHostServices(std::filesystem::path prefix, QWidget* owner = nullptr)
        : prefix_(std::move(prefix)), owner_(owner) {}

    void SetOwner(QWidget* owner) { owner_ = owner; }

    void ShowMessage(const std::string& text) override;
    bool Launch(const std::string& hostPathOrUrl, const std::string& parameters, bool wait,
                int timeoutMs) override;
    void PumpEvents(int maxEvents) override;

    // Whether a host path names a Windows program, which only wine can start.
    static bool IsWindowsProgram(const std::string& hostPath);

  private:
    bool LaunchWithWine(const std::string& program, const std::string& parameters, bool wait,
                        int timeoutMs);

    std::filesystem::path prefix_;
    QPointer<QWidget> owner_;
};

}  // namespace hivewise::ui
