#include "ui/restore_backup_view.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/ansi_text.h"
#include "ui/list_hints.h"
#include "ui/status_line.h"

namespace hivewise::ui {
namespace {

void FillDateList(QComboBox* list, const std::vector<BackupArchive>& dates) {
    list->clear();
    for (const BackupArchive& archive : dates) {
        // Two archives of the same second read alike; the file name tells them apart.
        QString text = archive.text.empty() ? FromAnsi(archive.fileName) : FromAnsi(archive.text);
        list->addItem(text, FromAnsi(archive.path));
    }
    list->setCurrentIndex(-1);
    list->setPlaceholderText(dates.empty() ? FromAnsi(kNoBackupsText) : QString());
    list->setEnabled(!dates.empty());
}

}  // namespace

RestoreBackupView::RestoreBackupView(RestoreBackupDialog& logic, std::function<bool()> openRemove,
                                     QWidget* parent)
    : QDialog(parent), logic_(logic), openRemove_(std::move(openRemove)) {
    setWindowTitle(FromAnsi(kRestoreBackupTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Select Backup Date"), this));
    dates_ = new QComboBox(this);
    layout->addWidget(dates_);

    auto* frame = new QGroupBox(QStringLiteral("Items to Restore"), this);
    auto* frameLayout = new QVBoxLayout(frame);
    items_ = new QTreeWidget(frame);
    items_->setColumnCount(2);
    items_->setHeaderLabels({QStringLiteral("Item Type"), QStringLiteral("Path")});
    items_->setColumnWidth(0, 80);
    items_->setColumnWidth(1, 300);
    ShowCutCellsInTooltips(items_);
    items_->setRootIsDecorated(false);
    items_->setSelectionBehavior(QAbstractItemView::SelectRows);
    frameLayout->addWidget(items_);
    layout->addWidget(frame);

    auto* buttons = new QHBoxLayout;
    restore_ = new QPushButton(QStringLiteral("Restore"), this);
    restore_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    remove_ = new QPushButton(QStringLiteral("Remove Backups"), this);
    selectAll_ = new QPushButton(QStringLiteral("Select All"), this);
    deselectAll_ = new QPushButton(QStringLiteral("Deselect All"), this);
    for (QPushButton* button : {restore_, cancel, remove_, selectAll_, deselectAll_})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    layout->addWidget(new StatusLine(this));
    resize(640, 440);

    logic_.Open();
    // A backup exists more often than not to be put back: the newest is the likely one.
    logic_.SelectNewest();
    ShowDates();

    connect(dates_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (filling_ || index < 0) return;
        logic_.SelectDate(index);
        ShowItems();
    });
    connect(items_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (filling_) return;
        logic_.SetChecked(items_->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
        restore_->setEnabled(logic_.CanRestore());
    });
    connect(selectAll_, &QPushButton::clicked, this, [this] {
        logic_.SelectAll();
        ShowItems();
    });
    connect(deselectAll_, &QPushButton::clicked, this, [this] {
        logic_.DeselectAll();
        ShowItems();
    });
    connect(restore_, &QPushButton::clicked, this, [this] {
        if (logic_.Restore()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(remove_, &QPushButton::clicked, this, [this] {
        logic_.RemoveBackups(openRemove_);
        logic_.SelectNewest();
        ShowDates();
    });
}

void RestoreBackupView::ShowDates() {
    filling_ = true;
    FillDateList(dates_, logic_.Dates());
    if (logic_.SelectedDate() >= 0) dates_->setCurrentIndex(logic_.SelectedDate());
    filling_ = false;
    ShowItems();
}

void RestoreBackupView::ShowItems() {
    filling_ = true;
    items_->clear();
    for (const BackupRow& row : logic_.Rows()) {
        auto* item = new QTreeWidgetItem(items_);
        item->setText(0, FromAnsi(ItemTypeText(row.item)));
        item->setText(1, FromAnsi(ItemPathText(row.item)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
    FitColumnsToContent(items_);
    SetEmptyListText(items_, logic_.Dates().empty() ? FromAnsi(kNoBackupsText)
                             : logic_.SelectedDate() < 0
                                 ? QStringLiteral("Select a backup date above.")
                                 : FromAnsi(kNoBackupItemsText));
    restore_->setEnabled(logic_.CanRestore());
    for (QPushButton* button : {selectAll_, deselectAll_})
        button->setEnabled(!logic_.Rows().empty());
}

RemoveBackupView::RemoveBackupView(RemoveBackupDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setWindowTitle(FromAnsi(kRemoveBackupTitle));
    auto* layout = new QVBoxLayout(this);
    auto* explanation = new QLabel(FromAnsi(kRemoveBackupExplanation), this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    layout->addWidget(new QLabel(QStringLiteral("Select a Backup date"), this));
    dates_ = new QComboBox(this);
    layout->addWidget(dates_);
    auto* buttons = new QHBoxLayout;
    remove_ = new QPushButton(QStringLiteral("Remove"), this);
    remove_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(remove_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    logic_.Open();
    FillDateList(dates_, logic_.Dates());
    connect(dates_, &QComboBox::currentIndexChanged, this,
            [this](int index) { logic_.SelectDate(index); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        if (logic_.Remove()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace hivewise::ui
