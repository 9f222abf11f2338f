#include "app/backups/full_backup_dialog.h"

#include "platform/machine/string_table.h"

namespace hivewise {

BackupProgressDialog::~BackupProgressDialog() {
    if (worker_.joinable()) worker_.join();
}

void BackupProgressDialog::Open(const std::tm& now) {
    position_ = 0;
    done_ = false;
    worker_ = std::thread([this, now] {
        FullRegistryBackup backup(machine_);
        result_ = backup.CreateFullBackup(now, &message_);
        done_ = true;
    });
}

bool BackupProgressDialog::Tick() {
    position_ = position_ >= kBarRange ? 0 : position_ + 1;
    if (!done_) return false;
    worker_.join();
    position_ = kBarRange;
    // The worker only reports; the window thread shows its message.
    prompts_.Message(message_);
    return true;
}

FullBackupDialog::FullBackupDialog(Machine& machine, UserPrompts& prompts)
    : machine_(machine), prompts_(prompts) {}

std::string FullBackupDialog::Introduction() {
    return LoadResourceText(kIdsFullBackupWelcome);
}

FullBackupDialog::Next FullBackupDialog::PressNext() {
    if (step_ == Step::Choose) {
        if (option_ == Option::None) {
            prompts_.Message(kSelectOption);
            return Next::Stay;
        }
        if (option_ == Option::Create) return Next::RunBackup;
        step_ = Step::SelectDate;
        backups_ = ListBackupArchives(machine_, FullRegistryBackup(machine_).BackupFolder());
        selected_ = -1;
        return Next::Stay;
    }
    if (selected_ < 0 || selected_ >= static_cast<int>(backups_.size())) {
        prompts_.Message(std::string(kSelectBackupDateText));
        return Next::Stay;
    }
    std::string question = kRestoreQuestion;
    question.replace(question.find("%s"), 2, backups_[selected_].text);
    return prompts_.AskYesNo(question) ? Next::RunRestore : Next::Stay;
}

const std::string& FullBackupDialog::SelectedArchive() const {
    static const std::string none;
    return selected_ >= 0 && selected_ < static_cast<int>(backups_.size())
               ? backups_[selected_].path
               : none;
}

void FullBackupDialog::StartRestore() {
    if (restoreWorker_.joinable()) return;  // a second press while one runs does nothing
    restore_ = std::make_unique<FullRegistryBackup>(machine_);
    restoreDone_ = false;
    std::string archive = SelectedArchive();
    restoreWorker_ = std::thread([this, archive] {
        prepared_ = restore_->PrepareRestore(archive);
        restoreDone_ = true;
    });
}

bool FullBackupDialog::FinishRestore(const std::function<bool()>& save) {
    if (!restoreWorker_.joinable()) return false;
    restoreWorker_.join();
    std::string message;
    bool restored = prepared_ && restore_->ApplyRestore(&message);
    if (!prepared_) message = kFullRestoreFailed;
    prompts_.Message(message);
    if (restored) restored = !save || save();
    if (restored) prompts_.Message(kRestoredNotice);
    restore_.reset();
    return restored;
}

}  // namespace hivewise
