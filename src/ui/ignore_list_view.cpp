#include "ui/ignore_list_view.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/ansi_text.h"
#include "ui/list_hints.h"
#include "ui/status_line.h"

namespace hivewise::ui {

IgnoreListView::IgnoreListView(IgnoreListDialog& logic, const std::string& presetKey,
                               QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setWindowTitle(FromAnsi(kIgnoreListTitle));
    setModal(true);
    resize(640, 560);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(FromAnsi(kIgnoreListPrompt), this));

    filter_ = new QLineEdit(this);
    filter_->setPlaceholderText("Filter the keys shown");
    filter_->setClearButtonEnabled(true);
    layout->addWidget(filter_);

    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    layout->addWidget(tree_, 3);

    list_ = new QTreeWidget(this);
    list_->setHeaderLabels({FromAnsi(kIgnoreListColumn)});
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    ShowCutCellsInTooltips(list_);
    ShowCutCellsInTooltips(tree_);
    SetEmptyListText(list_, "No key is ignored yet: select one in the tree above and press Add.");
    layout->addWidget(list_, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    addButton_ = new QPushButton("Add", this);
    removeButton_ = new QPushButton("Remove", this);
    saveButton_ = new QPushButton("Save", this);
    cancelButton_ = new QPushButton("Cancel", this);
    cancelButton_->setToolTip("Close without keeping the changes");
    for (QPushButton* button : {addButton_, removeButton_, saveButton_, cancelButton_}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    layout->addWidget(new StatusLine(this));
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        cancelling_ = true;
        reject();
    });
    connect(filter_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });

    connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (filling_) return;
        logic_.ExpandItem(Node(item));
        ShowChildren(item);
    });
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (filling_ || !item) return;
        logic_.SelectItem(Node(item));
        ShowChildren(item);
    });
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (filling_) return;
        int row = list_->indexOfTopLevelItem(item);
        if (row >= 0)
            logic_.SetRowChecked(static_cast<size_t>(row), item->checkState(0) == Qt::Checked);
    });
    connect(addButton_, &QPushButton::clicked, this, [this] {
        logic_.Add();
        ShowRows();
    });
    connect(removeButton_, &QPushButton::clicked, this, [this] {
        logic_.Remove();
        ShowRows();
    });
    connect(saveButton_, &QPushButton::clicked, this, [this] {
        if (logic_.Save()) QDialog::accept();
    });

    loadingTimer_.setInterval(200);
    connect(&loadingTimer_, &QTimer::timeout, this, [this] {
        logic_.LoadingTick();
        if (loadingBar_) loadingBar_->setValue(logic_.LoadingPosition());
    });
    logic_.onLoadingChanged = [this](bool loading) { ShowLoading(loading); };
    logic_.Open(presetKey);
    logic_.onLoadingChanged = nullptr;

    filling_ = true;
    for (const auto& root : logic_.Roots()) {
        QTreeWidgetItem* item = MakeItem(root.get());
        tree_->addTopLevelItem(item);
        ShowChildren(item);
    }
    filling_ = false;
    ShowSelection();
    ShowRows();
}

RegistryTreeNode* IgnoreListView::Node(QTreeWidgetItem* item) {
    return item ? reinterpret_cast<RegistryTreeNode*>(item->data(0, Qt::UserRole).value<quintptr>())
                : nullptr;
}

QTreeWidgetItem* IgnoreListView::MakeItem(RegistryTreeNode* node) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, FromAnsi(node->text));
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    item->setChildIndicatorPolicy(node->hasSubKeys ? QTreeWidgetItem::ShowIndicator
                                                   : QTreeWidgetItem::DontShowIndicator);
    return item;
}

void IgnoreListView::ShowChildren(QTreeWidgetItem* item) {
    RegistryTreeNode* node = Node(item);
    if (!node || item->childCount() > 0) return;
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(node->children.size()));
    for (const auto& child : node->children)
        children.append(MakeItem(child.get()));
    item->addChildren(children);
    if (filter_ && !filter_->text().trimmed().isEmpty()) {
        for (QTreeWidgetItem* child : children)
            Filter(child, filter_->text().trimmed());
    }
    item->setChildIndicatorPolicy(node->children.empty() && !node->hasSubKeys
                                      ? QTreeWidgetItem::DontShowIndicator
                                      : QTreeWidgetItem::ShowIndicator);
    // Deeper levels the logic already read (the way to a preset key) show at once.
    for (int i = 0; i < item->childCount(); ++i) {
        if (!Node(item->child(i))->children.empty()) ShowChildren(item->child(i));
    }
}

void IgnoreListView::ShowSelection() {
    RegistryTreeNode* selected = logic_.Selected();
    if (!selected) return;
    // The items from the root down to the selected node.
    std::vector<RegistryTreeNode*> chain;
    for (RegistryTreeNode* n = selected; n; n = n->parent)
        chain.insert(chain.begin(), n);
    QTreeWidgetItem* item = nullptr;
    for (RegistryTreeNode* n : chain) {
        QTreeWidgetItem* next = nullptr;
        int count = item ? item->childCount() : tree_->topLevelItemCount();
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem* candidate = item ? item->child(i) : tree_->topLevelItem(i);
            if (Node(candidate) == n) next = candidate;
        }
        if (!next) return;
        if (item) item->setExpanded(true);
        item = next;
    }
    filling_ = true;
    tree_->setCurrentItem(item);
    filling_ = false;
    tree_->scrollToItem(item);
}

void IgnoreListView::ShowRows() {
    filling_ = true;
    list_->clear();
    for (const IgnoreListRow& row : logic_.Rows()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, FromAnsi(row.path));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
    if (QTreeWidgetItem* current = list_->topLevelItem(logic_.CurrentRow())) {
        list_->setCurrentItem(current);
    }
    if (QTreeWidgetItem* scroll = list_->topLevelItem(logic_.ScrollRow())) {
        list_->scrollToItem(scroll);
    }
}

void IgnoreListView::ShowLoading(bool loading) {
    if (loading) {
        if (!loadingWindow_) {
            loadingWindow_ = new QDialog(parentWidget(), Qt::Tool | Qt::FramelessWindowHint);
            auto* box = new QVBoxLayout(loadingWindow_);
            box->addWidget(new QLabel(FromAnsi(kLoadingText), loadingWindow_));
            loadingBar_ = new QProgressBar(loadingWindow_);
            loadingBar_->setRange(0, 10);
            loadingBar_->setTextVisible(false);
            box->addWidget(loadingBar_);
            loadingWindow_->setFixedWidth(260);
        }
        loadingWindow_->show();
        loadingTimer_.start();
        QCoreApplication::processEvents();
    } else {
        loadingTimer_.stop();
        if (loadingWindow_) loadingWindow_->deleteLater();
        loadingWindow_ = nullptr;
        loadingBar_ = nullptr;
    }
}

void IgnoreListView::reject() {
    if (cancelling_) {
        cancelling_ = false;
        logic_.Cancel();
        QDialog::reject();
        return;
    }
    // A failed save leaves the dialog open, so that nothing is dropped unseen.
    if (logic_.CloseKeeping()) {
        if (logic_.Saved()) {
            QDialog::accept();
        } else {
            QDialog::reject();
        }
    }
}

void IgnoreListView::ApplyFilter() {
    const QString text = filter_->text().trimmed();
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        Filter(tree_->topLevelItem(i), text);
}

bool IgnoreListView::Filter(QTreeWidgetItem* item, const QString& text) {
    bool below = false;
    for (int i = 0; i < item->childCount(); ++i)
        below = Filter(item->child(i), text) || below;
    bool match = text.isEmpty() || item->text(0).contains(text, Qt::CaseInsensitive);
    // A root stays, so that the tree never goes blank under a filter.
    bool shown = match || below || !item->parent();
    item->setHidden(!shown);
    if (!text.isEmpty() && below) item->setExpanded(true);
    return match || below;
}

}  // namespace hivewise::ui
