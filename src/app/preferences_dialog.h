#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "app/user_prompts.h"
#include "platform/machine/machine.h"

// The logic of the "Preferences" dialog.
namespace hivewise {

constexpr std::string_view kPreferencesTitle = "Preferences";

constexpr std::string_view kRunAtStartupText = "Run at windows startup";
// What that box means on a machine that is a Wine prefix.
constexpr std::string_view kRunAtStartupNote =
    "Starts Hivewise when Windows starts inside this machine (under Wine), not when you log "
    "in to Linux.";
constexpr std::string_view kNoAutoBackupText =
    "Do not automatically backup items before removal (NOT recommended)";
constexpr std::string_view kCheckItemsText = "Check Items Automatically after scan";
constexpr std::string_view kGenerateLogText = "Create a logfile for Hivewise";
constexpr std::string_view kLogFilePathText = "Log File Path";
constexpr std::string_view kBrowseButtonText = "...";
constexpr std::string_view kShowIgnoreListText = "Show Ignore List";
constexpr std::string_view kOkText = "OK";
constexpr std::string_view kCancelText = "Cancel";
constexpr std::string_view kCheckForUpdatesText = "Check for updates";

constexpr std::string_view kScheduleOptionsCaption = "Schedule Options";
constexpr std::string_view kRemovalOptionsCaption = "Removal Options";
constexpr std::string_view kLogManagementCaption = "Log Management";
constexpr std::string_view kIgnoreListCaption = "Ignore list";
constexpr std::string_view kChooseOptionsCaption = "Choose Options";

constexpr std::string_view kFolderChooserTitle = "Choose the folder for the scan logs";
constexpr std::string_view kCannotUsePathText = "Cannot use this path for extraction";
constexpr std::string_view kInvalidLogPathText = "Invalid Log File Path";

// The controls' values; the view shows and edits them.
struct PreferencesControls {
    bool runAtStartup = false;  // AutoRun
    bool noAutoBackup = false;  // NoAutoBackup
    bool checkItems = false;    // CheckAllItems
    bool generateLog = false;   // Generate Log
    std::string logPath;        // Log File Path
};

class PreferencesDialog {
  public:
    PreferencesDialog(Machine& machine, AppPrompts& prompts,
                      std::function<void()> showIgnoreList = {});

    // Reads the settings into the controls. The path field and "..." are enabled only
    // when logging is on now, and stay so for this opening.
    void Open();
    // "...": the folder chooser's result, as the machine's path that reaches it, goes
    // into the path field; cancelling or an unreachable folder empties the field.
    void Browse();
    // "Show Ignore List": the ignore-list dialog with no preset key.
    void ShowIgnoreList();
    // "OK": true when the settings were saved and the dialog closes; false when the
    // path field names nothing that exists (the user is told; nothing is saved).
    bool Ok();
    // "Cancel": closes without saving.
    void Cancel() {}

    PreferencesControls& Controls() { return controls_; }
    const PreferencesControls& Controls() const { return controls_; }
    bool PathFieldEnabled() const { return pathFieldEnabled_; }
    // The update check has a button here, kept hidden.
    bool CheckForUpdatesVisible() const { return false; }
    // "Check for updates": the update check the front end gives.
    void SetCheckForUpdates(std::function<void()> check) { checkForUpdates_ = std::move(check); }
    void CheckForUpdates() {
        if (checkForUpdates_) checkForUpdates_();
    }

  private:
    Machine& machine_;
    AppPrompts& prompts_;
    Settings settings_;
    std::function<void()> showIgnoreList_;
    std::function<void()> checkForUpdates_;
    PreferencesControls controls_;
    bool pathFieldEnabled_ = true;
};

}  // namespace hivewise
