#include "ui/entry_manager_view.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "ui/ansi_text.h"
#include "ui/list_hints.h"
#include "ui/status_line.h"

namespace hivewise::ui {

EntryManagerView::EntryManagerView(EntryManager& logic, std::function<void()> saveChanges,
                                   QWidget* parent)
    : QDialog(parent), logic_(logic), saveChanges_(std::move(saveChanges)) {
    setWindowTitle(FromAnsi(logic_.Title()));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* explanation = new QLabel(FromAnsi(logic_.Explanation()), this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderLabels({FromAnsi(logic_.Column(0).title), FromAnsi(logic_.Column(1).title)});
    list_->setColumnWidth(0, logic_.Column(0).width);
    list_->setColumnWidth(1, logic_.Column(1).width);
    ShowCutCellsInTooltips(list_);
    SetEmptyListText(list_, "Nothing of this kind is registered in this machine.");
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setMinimumWidth(logic_.Column(0).width + logic_.Column(1).width + 24);
    layout->addWidget(list_, 1);

    if (logic_.HasDetails()) {
        auto* group = new QGroupBox(FromAnsi(kDetailsGroupText), this);
        auto* form = new QFormLayout(group);
        const std::array<std::string_view, 4> labels{kFileNameLabel, kProductNameLabel,
                                                     kDescriptionLabel, kCompanyLabel};
        detailsFile_ = new QLabel(group);
        detailsFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        detailsFile_->setWordWrap(true);
        form->addRow("File :", detailsFile_);
        for (size_t i = 0; i < labels.size(); ++i) {
            details_[i] = new QLabel(group);
            details_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
            details_[i]->setWordWrap(true);
            form->addRow(FromAnsi(labels[i]), details_[i]);
        }
        detailsNote_ = new QLabel(group);
        detailsNote_->setForegroundRole(QPalette::PlaceholderText);
        form->addRow(detailsNote_);
        layout->addWidget(group);
    }

    auto* buttons = new QHBoxLayout;
    removeButton_ = new QPushButton(FromAnsi(kRemoveCheckedText), this);
    restoreButton_ = new QPushButton(FromAnsi(kRestoreItemsText), this);
    buttons->addWidget(removeButton_);
    buttons->addWidget(restoreButton_);
    if (logic_.CanRun()) {
        runButton_ = new QPushButton(FromAnsi(kRunSelectedText), this);
        buttons->addWidget(runButton_);
    }
    buttons->addStretch(1);
    auto* cancel = new QPushButton(FromAnsi(kCancelButtonText), this);
    buttons->addWidget(cancel);
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    layout->addLayout(buttons);
    layout->addWidget(new StatusLine(this));

    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (filling_) return;
        int row = list_->indexOfTopLevelItem(item);
        if (row >= 0)
            logic_.SetChecked(static_cast<size_t>(row), item->checkState(0) == Qt::Checked);
    });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (filling_ || !item) return;
        logic_.Select(list_->indexOfTopLevelItem(item));
        ShowDetails();
    });
    connect(removeButton_, &QPushButton::clicked, this, [this] {
        RemovalOutcome outcome = logic_.RemoveChecked();
        // A failed parking may still have replaced an older parked copy.
        if (!outcome.nothingChecked && !outcome.refused && saveChanges_) saveChanges_();
        ShowRows();
    });
    connect(restoreButton_, &QPushButton::clicked, this, [this] {
        if (!logic_.RestoreItems()) return;
        if (saveChanges_) saveChanges_();
        ShowRows();
    });
    if (runButton_)
        connect(runButton_, &QPushButton::clicked, this, [this] { logic_.RunSelected(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    logic_.Fill();
    ShowRows();
    ShowDetails();
    resize(sizeHint().expandedTo(QSize(620, 480)));
}

void EntryManagerView::ShowRows() {
    filling_ = true;
    list_->clear();
    for (const EntryRow& row : logic_.Rows()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, FromAnsi(row.name));
        item->setText(1, FromAnsi(row.path));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
    FitColumnsToContent(list_);
    // The details panel is never blank while there is a program to show.
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
}

void EntryManagerView::ShowDetails() {
    if (!details_[0]) return;
    const EntryDetails& details = logic_.Details();
    details_[0]->setText(FromAnsi(details.fileName));
    details_[1]->setText(FromAnsi(details.productName));
    details_[2]->setText(FromAnsi(details.description));
    details_[3]->setText(FromAnsi(details.company));
    detailsFile_->setText(FromAnsi(logic_.DetailsFile()));
    detailsNote_->setText(FromAnsi(logic_.DetailsNote()));
}

}  // namespace hivewise::ui
