#pragma once

#include <string>
#include <string_view>

#include "platform/machine/machine.h"
#include "scan/user_prompts.h"

// The update check: the published current version against the installed one, and the
// updater started when the user wants the newer one.
namespace hivewise {

constexpr std::string_view kNoUpdatesText = "No updates available";
constexpr std::string_view kUpdatesAvailableText = "Updates Available, download now?";
constexpr std::string_view kUpdateCaption = "Update";
constexpr std::string_view kInstallationCorruptText =
    "Installation corrupt, please reinstall application";
constexpr std::string_view kUpdaterFileName = "updater.exe";

// A version text as a number: leading white space skipped, then the longest leading
// decimal number (sign, digits, point, exponent); 0 when there is none.
double VersionNumber(std::string_view text);
// The text of that number as the page gives it ("9.9" of "9.9\n<html>..."); empty when the
// page does not start with one.
std::string PublishedVersion(std::string_view page);

// The published version text when it is higher than the installed one (the setting
// "Version"); empty otherwise, and when the page cannot be fetched. A missing setting
// is reported to the user. `versionPage` defaults to the update server's page. `checked`,
// when given, tells whether the page was read and compared, so that a caller can tell
// "no newer version" from "could not tell".
std::string CheckForUpdate(Machine& machine, UserPrompts& prompts,
                           const std::string& versionPage = {}, bool* checked = nullptr);

// The updater's command: the program file in double quotes, and the parameters
// (beginning with a blank) that name the download and the program to replace.
struct UpdaterCommand {
    std::string file;
    std::string parameters;
};
UpdaterCommand BuildUpdaterCommand(const std::string& updateFolderAddress,
                                   const std::string& programFile,
                                   const std::string& programFolder);

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
