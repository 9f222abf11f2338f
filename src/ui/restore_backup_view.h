#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>

#include "app/backups/restore_backup_dialog.h"

// The backups area's two dialogs: "Restore Backup" and "Remove Backup", thin views over
// their logic classes.
namespace hivewise::ui {

class RestoreBackupView : public QDialog {
    Q_OBJECT

  public:
    // `openRemove` runs the Remove Backup dialog modally and returns whether it closed
    // with OK.
    RestoreBackupView(RestoreBackupDialog& logic, std::function<bool()> openRemove,
                      QWidget* parent = nullptr);

    QComboBox* DateList() const { return dates_; }
    QTreeWidget* ItemList() const { return items_; }
    QPushButton* RestoreButton() const { return restore_; }
    QPushButton* RemoveButton() const { return remove_; }
    QPushButton* SelectAllButton() const { return selectAll_; }
    QPushButton* DeselectAllButton() const { return deselectAll_; }

  private:
    void ShowDates();
    void ShowItems();

    RestoreBackupDialog& logic_;
    std::function<bool()> openRemove_;
    QComboBox* dates_ = nullptr;
    QTreeWidget* items_ = nullptr;
    QPushButton* restore_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* selectAll_ = nullptr;
    QPushButton* deselectAll_ = nullptr;
    bool filling_ = false;
};

class RemoveBackupView : public QDialog {
    Q_OBJECT

  public:
    explicit RemoveBackupView(RemoveBackupDialog& logic, QWidget* parent = nullptr);

    QComboBox* DateList() const { return dates_; }
    QPushButton* RemoveButton() const { return remove_; }

  private:
    RemoveBackupDialog& logic_;
    QComboBox* dates_ = nullptr;
    QPushButton* remove_ = nullptr;
};

}  // namespace hivewise::ui
