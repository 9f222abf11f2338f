#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <array>
#include <functional>

#include "app/tools/entry_manager.h"

// The window of a system-tool manager: its explanation, the list with check boxes, the
// "Details" group of the selected entry and the buttons, forwarded to the manager's logic.
namespace hivewise::ui {

class EntryManagerView : public QDialog {
    Q_OBJECT

  public:
    // `saveChanges` runs after every action that may have changed the registry.
    EntryManagerView(EntryManager& logic, std::function<void()> saveChanges,
                     QWidget* parent = nullptr);

    QTreeWidget* List() const { return list_; }
    QPushButton* RemoveButton() const { return removeButton_; }
    QPushButton* RestoreButton() const { return restoreButton_; }
    QPushButton* RunButton() const { return runButton_; }
    // File Name, Product Name, Description, Company; null when the manager has no details.
    QLabel* DetailText(int index) const { return details_[static_cast<size_t>(index)]; }
    // The file the details come from, and why they are empty when they are.
    QLabel* DetailsFileText() const { return detailsFile_; }
    QLabel* DetailsNoteText() const { return detailsNote_; }

  private:
    void ShowRows();
    void ShowDetails();

    EntryManager& logic_;
    std::function<void()> saveChanges_;
    QTreeWidget* list_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QPushButton* runButton_ = nullptr;
    std::array<QLabel*, 4> details_{};
    QLabel* detailsFile_ = nullptr;
    QLabel* detailsNote_ = nullptr;
    bool filling_ = false;
};

}  // namespace hivewise::ui
