#include "app/preferences_dialog.h"

#include "app/save_changes.h"
#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"

namespace hivewise {

PreferencesDialog::PreferencesDialog(Machine& machine, AppPrompts& prompts,
                                     std::function<void()> showIgnoreList)
    : machine_(machine),
      prompts_(prompts),
      settings_(machine),
      showIgnoreList_(std::move(showIgnoreList)) {}

void PreferencesDialog::Open() {
    controls_.generateLog = settings_.Flag(kSettingGenerateLog);
    pathFieldEnabled_ = controls_.generateLog;
    controls_.logPath = settings_.Read(kSettingLogFilePath).value_or("");
    controls_.runAtStartup = settings_.Flag(kSettingAutoRun);
    controls_.noAutoBackup = settings_.Flag(kSettingNoAutoBackup);
    controls_.checkItems = settings_.Flag(kSettingCheckAllItems);
}

void PreferencesDialog::Browse() {
    // The button is disabled with the field; a stray call changes nothing.
    if (!pathFieldEnabled_) return;
    auto chosen = prompts_.ChooseFolder(std::string(kFolderChooserTitle));
    if (!chosen) {
        controls_.logPath.clear();
        return;
    }
    auto windowsPath = machine_.Paths().ToWindows(*chosen);
    if (!windowsPath) {
        prompts_.Message(std::string(kCannotUsePathText), MessageIcon::Warning);
        controls_.logPath.clear();
        return;
    }
    controls_.logPath = *windowsPath;
}

void PreferencesDialog::ShowIgnoreList() {
    if (showIgnoreList_) showIgnoreList_();
}

bool PreferencesDialog::Ok() {
    FileSystemAccess files(machine_);
    // Checked whether or not logging is ticked.
    if (controls_.logPath.empty() || !files.PathFileExists(controls_.logPath)) {
        prompts_.Message(std::string(kInvalidLogPathText), MessageIcon::Warning);
        return false;
    }
    if (controls_.generateLog) {
        settings_.Write(kSettingGenerateLog, "1");
        settings_.Write(kSettingLogFilePath, controls_.logPath);
    } else {
        settings_.Write(kSettingGenerateLog, "0");
    }
    settings_.WriteFlag(kSettingCheckAllItems, controls_.checkItems);
    settings_.WriteFlag(kSettingNoAutoBackup, controls_.noAutoBackup);
    if (controls_.runAtStartup) {
        settings_.Write(kSettingAutoRun, "1");
        settings_.SetRunEntry();
    } else {
        settings_.Write(kSettingAutoRun, "0");
        settings_.RemoveRunEntry();
    }
    SaveChanges(machine_, prompts_);
    return true;
}

}  // namespace hivewise
