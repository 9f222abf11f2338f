#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/backups/full_backup_dialog.h"

// The "Full Registry Backup" dialog and its "Backing up" window, over their logic.
namespace hivewise::ui {

class BackupProgressView : public QDialog {
    Q_OBJECT

  public:
    explicit BackupProgressView(BackupProgressDialog& logic, QWidget* parent = nullptr);
    QProgressBar* Bar() const { return bar_; }

  private:
    BackupProgressDialog& logic_;
    QProgressBar* bar_ = nullptr;
    QTimer timer_;
};

class FullBackupView : public QDialog {
    Q_OBJECT

  public:
    // `saveRestored` saves the machine once a restore has put the registry back (and only
    // then); false when it could not.
    FullBackupView(FullBackupDialog& logic, Machine& machine, UserPrompts& prompts,
                   std::function<bool()> saveRestored, QWidget* parent = nullptr);

    QRadioButton* CreateOption() const { return create_; }
    QRadioButton* RestoreOption() const { return restore_; }
    QListWidget* List() const { return list_; }
    QPushButton* NextButton() const { return next_; }

  private:
    void PressNext();
    void RunBackup();
    void RunRestore();
    void ShowStep();

    FullBackupDialog& logic_;
    Machine& machine_;
    UserPrompts& prompts_;
    std::function<bool()> saveRestored_;
    QLabel* text_ = nullptr;
    QLabel* listLabel_ = nullptr;
    QRadioButton* create_ = nullptr;
    QRadioButton* restore_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool running_ = false;
};

}  // namespace hivewise::ui
