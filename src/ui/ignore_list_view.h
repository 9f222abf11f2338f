#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <string>

#include "app/ignore_list_dialog.h"

// The "Ignore List" dialog: the lazy registry tree, the list of ignored keys, and Add,
// Remove and Save forwarded to the dialog's logic.
namespace hivewise::ui {

class IgnoreListView : public QDialog {
    Q_OBJECT

  public:
    // Fills the dialog through the logic's Open, under a "Loading ..." window.
    IgnoreListView(IgnoreListDialog& logic, const std::string& presetKey = {},
                   QWidget* parent = nullptr);

    QTreeWidget* Tree() const { return tree_; }
    QTreeWidget* List() const { return list_; }
    QPushButton* AddButton() const { return addButton_; }
    QPushButton* RemoveButton() const { return removeButton_; }
    QPushButton* SaveButton() const { return saveButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    // Narrows the registry tree to the keys read so far whose name holds the text.
    QLineEdit* FilterBox() const { return filter_; }

  public slots:
    // Escape and the close box keep what was added (saved); only Cancel drops it.
    void reject() override;

  private:
    void ShowLoading(bool loading);
    // The items of a node's children that the logic has read and the view not yet shown.
    void ShowChildren(QTreeWidgetItem* item);
    QTreeWidgetItem* MakeItem(RegistryTreeNode* node);
    void ShowRows();
    void ShowSelection();
    void ApplyFilter();
    // Shows the items under `item` that match `text`; true when one did.
    bool Filter(QTreeWidgetItem* item, const QString& text);
    static RegistryTreeNode* Node(QTreeWidgetItem* item);

    IgnoreListDialog& logic_;
    QTreeWidget* tree_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLineEdit* filter_ = nullptr;
    bool cancelling_ = false;
    QPointer<QDialog> loadingWindow_;
    QProgressBar* loadingBar_ = nullptr;
    QTimer loadingTimer_;
    bool filling_ = false;
};

}  // namespace hivewise::ui
