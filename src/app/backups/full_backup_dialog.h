#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/backups/restore_backup_dialog.h"
#include "app/user_prompts.h"
#include "fullbackup/full_registry_backup.h"

// The logic of the "Full Registry Backup" dialog and of its two progress windows. The Qt
// views and the command line drive these; every message box goes through the prompts.
namespace hivewise {

constexpr const char* kFullBackupTitle = "Full Registry Backup";
constexpr const char* kSelectOption = "Please Select an Option";
constexpr const char* kSelectDateLabel = "Select a backup date";
constexpr const char* kRestoreIntro =
    "To restore a previously created registry backup, please select a date below.\nNote:  Any "
    "changes made to your registry after your backup date will not be available after you "
    "restore the backup.\n";
// Nothing needs to restart: the prefix's files hold the restored registry once saved.
constexpr const char* kRestoredNotice =
    "The registry was restored from the backup.\nWine will use it the next time it starts in "
    "this prefix.";
// Asked before a restore replaces anything; No is the default answer.
constexpr const char* kRestoreQuestion =
    "Restore the registry saved on %s?\nAny changes made to your registry after that date will "
    "not be available after the restore.";

// The work of one backup on a worker thread; the window polls it.
class BackupProgressDialog {
  public:
    static constexpr int kBarRange = 50;
    static constexpr int kTimerMs = 500;

    BackupProgressDialog(Machine& machine, UserPrompts& prompts)
        : machine_(machine), prompts_(prompts) {}
    ~BackupProgressDialog();

    // Starts the worker with the backup named after `now`.
    void Open(const std::tm& now);
    // One timer tick: the bar advances (wrapping after 50); true when the worker has ended
    // and the dialog is to close, after its message was shown.
    bool Tick();
    int Position() const { return position_; }
    bool Succeeded() const { return result_ == 1; }

  private:
    Machine& machine_;
    UserPrompts& prompts_;
    std::thread worker_;
    std::atomic<bool> done_{false};
    int result_ = 0;
    std::string message_;
    int position_ = 0;
};

class FullBackupDialog {
  public:
    enum class Option { None, Create, Restore };
    enum class Step { Choose, SelectDate };
    // What the view is to do after a button press.
    enum class Next { Stay, RunBackup, RunRestore, Close };

    FullBackupDialog(Machine& machine, UserPrompts& prompts);

    static std::string Introduction();

    void Choose(Option option) { option_ = option; }
    Option Chosen() const { return option_; }
    Step CurrentStep() const { return step_; }
    // "Next", which reads "Finish" on the second step.
    std::string NextButtonText() const { return step_ == Step::Choose ? "Next" : "Finish"; }
    // On the second step, the restore runs only once the user has confirmed it.
    Next PressNext();

    const std::vector<BackupArchive>& Backups() const { return backups_; }
    void Select(int row) { selected_ = row; }
    int Selected() const { return selected_; }
    const std::string& SelectedArchive() const;

    // The restore in its halves: Prepare runs on a worker thread, Finish on the window
    // thread once it has ended. Finish shows the outcome; when the registry was put back
    // it is saved with `save` (which shows its own failure) and the user told what comes
    // next. A failed restore saves nothing. True when the registry was put back and saved.
    void StartRestore();
    bool RestoreRunning() const { return restoreWorker_.joinable() && !restoreDone_; }
    bool FinishRestore(const std::function<bool()>& save);

  private:
    Machine& machine_;
    UserPrompts& prompts_;
    Option option_ = Option::None;
    Step step_ = Step::Choose;
    std::vector<BackupArchive> backups_;
    int selected_ = -1;
    std::unique_ptr<FullRegistryBackup> restore_;
    std::thread restoreWorker_;
    std::atomic<bool> restoreDone_{false};
    bool prepared_ = false;
};

}  // namespace hivewise
