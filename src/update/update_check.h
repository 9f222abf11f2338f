#pragma once

#include <string>
#include <string_view>

#include "platform/machine/machine.h"

// The update check: the published current version against the installed one, and the
// updater that replaces the program.
namespace hivewise {

constexpr std::string_view kUpdaterFileName = "updater.exe";

// A version text as a number: leading white space skipped, then the longest leading
// decimal number (sign, digits, point, exponent); 0 when there is none.
double VersionNumber(std::string_view text);
// The text of that number as the page gives it ("9.9" of "9.9\n<html>..."); empty when the
// page does not start with one.
std::string PublishedVersion(std::string_view page);

// What the check found.
struct UpdateCheck {
    // The published version text when it is higher than the installed one (the setting
    // "Version"); empty otherwise, and when the page cannot be fetched.
    std::string version;
    // The page was fetched but the installed version is not recorded.
    bool installationCorrupt = false;
    // The page was read and compared: without it an empty version means "could not tell".
    bool checked = false;
};
// `versionPage` defaults to the update server's page.
UpdateCheck CheckForUpdate(Machine& machine, const std::string& versionPage = {});

// The updater's command: the program file in double quotes, and the parameters
// (beginning with a blank) that name the download and the program to replace.
struct UpdaterCommand {
    std::string file;
    std::string parameters;
};
UpdaterCommand BuildUpdaterCommand(const std::string& updateFolderAddress,
                                   const std::string& programFile,
                                   const std::string& programFolder);

// Starts the updater of the program folder, when it is there, to fetch the new version
// and replace the program file.
void StartUpdater(Machine& machine);

}  // namespace hivewise
