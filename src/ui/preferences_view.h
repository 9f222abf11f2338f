#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/preferences_dialog.h"

// The "Preferences" dialog: shows the logic's controls and forwards every click.
namespace hivewise::ui {

class PreferencesDialogView : public QDialog {
    Q_OBJECT

  public:
    // Reads the settings into the controls (the logic's Open) and shows them.
    explicit PreferencesDialogView(PreferencesDialog& logic, QWidget* parent = nullptr);

    QCheckBox* RunAtStartupBox() const { return runAtStartup_; }
    QCheckBox* NoAutoBackupBox() const { return noAutoBackup_; }
    QCheckBox* CheckItemsBox() const { return checkItems_; }
    QCheckBox* GenerateLogBox() const { return generateLog_; }
    QLineEdit* PathField() const { return pathField_; }
    QPushButton* BrowseButton() const { return browseButton_; }
    QPushButton* IgnoreListButton() const { return ignoreListButton_; }
    QPushButton* OkButton() const { return okButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    QPushButton* UpdatesButton() const { return updatesButton_; }

  public slots:
    void accept() override;
    void reject() override;

  private:
    void ShowControls();

    PreferencesDialog& logic_;
    QCheckBox* runAtStartup_ = nullptr;
    QCheckBox* noAutoBackup_ = nullptr;
    QCheckBox* checkItems_ = nullptr;
    QCheckBox* generateLog_ = nullptr;
    QLineEdit* pathField_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QPushButton* ignoreListButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* updatesButton_ = nullptr;
};

}  // namespace hivewise::ui
