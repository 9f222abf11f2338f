#pragma once

#include <string>
#include <string_view>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "update/update_check.h"

// The "Check for updates" button: the check, the question and the updater.
namespace hivewise {

constexpr std::string_view kNoUpdatesText = "No updates available";
constexpr std::string_view kUpdatesAvailableText = "Updates Available, download now?";
constexpr std::string_view kUpdateCaption = "Update";
constexpr std::string_view kInstallationCorruptText =
    "Installation corrupt, please reinstall application";

// What the update check asks of the dialog whose button runs it.
class UpdateCheckOwner {
  public:
    virtual ~UpdateCheckOwner() = default;
    virtual void SetWaitCursor(bool on) = 0;
    // Closes the dialog as if cancelled and ends the program once its events are
    // handled, so that the updater can replace the program file.
    virtual void CloseAndQuit() = 0;
};

// The "Check for updates" button: check, ask, start the updater when it is there, end.
void RunUpdateCheck(Machine& machine, UserPrompts& prompts, UpdateCheckOwner& owner,
                    const std::string& versionPage = {});

}  // namespace hivewise
