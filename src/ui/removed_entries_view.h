#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>

#include "app/tools/removed_entries_dialog.h"

// "Restore Removed Registry Entries": the parked entries of one manager with check boxes,
// "Restore" and "Cancel".
namespace hivewise::ui {

class RemovedEntriesView : public QDialog {
    Q_OBJECT

  public:
    explicit RemovedEntriesView(RemovedEntriesDialog& logic, QWidget* parent = nullptr);

    QTreeWidget* List() const { return list_; }
    QPushButton* RestoreButton() const { return restoreButton_; }

  private:
    RemovedEntriesDialog& logic_;
    QTreeWidget* list_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
};

}  // namespace hivewise::ui
