#include "ui/removed_entries_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/ansi_text.h"
#include "ui/list_hints.h"

namespace hivewise::ui {

RemovedEntriesView::RemovedEntriesView(RemovedEntriesDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setWindowTitle(FromAnsi(kRemovedEntriesTitle));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(FromAnsi(kSelectItemsToRestoreText), this));

    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderLabels({FromAnsi(logic_.Column(0).title), FromAnsi(logic_.Column(1).title)});
    list_->setColumnWidth(0, logic_.Column(0).width);
    list_->setColumnWidth(1, logic_.Column(1).width);
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setMinimumWidth(logic_.Column(0).width + logic_.Column(1).width + 24);
    layout->addWidget(list_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    restoreButton_ = new QPushButton(FromAnsi(kRestoreButtonText), this);
    restoreButton_->setDefault(true);
    auto* cancel = new QPushButton(FromAnsi(kCancelButtonText), this);
    cancel->setAutoDefault(false);
    buttons->addWidget(restoreButton_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    logic_.Fill();
    for (const RemovedEntry& row : logic_.Rows()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, FromAnsi(row.firstColumn));
        item->setText(1, FromAnsi(row.secondColumn));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    FitColumnsToContent(list_);
    ShowCutCellsInTooltips(list_);
    SetEmptyListText(list_, "Nothing removed by this tool is waiting to be put back.");
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        int row = list_->indexOfTopLevelItem(item);
        if (row >= 0)
            logic_.SetChecked(static_cast<size_t>(row), item->checkState(0) == Qt::Checked);
    });
    connect(restoreButton_, &QPushButton::clicked, this, [this] {
        if (logic_.Restore()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace hivewise::ui
