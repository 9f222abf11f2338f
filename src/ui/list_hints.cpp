#include "ui/list_hints.h"

#include <QEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>

namespace hivewise::ui {
namespace {

// A label over the list's viewport, shown while the list has no rows.
class EmptyListNote : public QLabel {
  public:
    explicit EmptyListNote(QAbstractItemView* view) : QLabel(view->viewport()), view_(view) {
        setObjectName("emptyListNote");
        setAlignment(Qt::AlignCenter);
        setWordWrap(true);
        setTextFormat(Qt::PlainText);
        setForegroundRole(QPalette::PlaceholderText);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setMargin(12);
        view->viewport()->installEventFilter(this);
        QAbstractItemModel* model = view->model();
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
            connect(model, signal, this, [this] { Refresh(); });
        }
        connect(model, &QAbstractItemModel::modelReset, this, [this] { Refresh(); });
    }

    void Refresh() {
        setGeometry(view_->viewport()->rect());
        bool empty = view_->model()->rowCount(view_->rootIndex()) == 0;
        setVisible(empty && !text().isEmpty());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == view_->viewport() && event->type() == QEvent::Resize) Refresh();
        return false;
    }

  private:
    QAbstractItemView* view_;
};

EmptyListNote* NoteOf(const QAbstractItemView* view) {
    return view ? view->viewport()->findChild<EmptyListNote*>("emptyListNote",
                                                              Qt::FindDirectChildrenOnly)
                : nullptr;
}

// Shows a cut cell's whole text when the pointer rests on it.
class CutCellTips : public QObject {
  public:
    explicit CutCellTips(QAbstractItemView* view) : QObject(view), view_(view) {
        view->viewport()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != view_->viewport() || event->type() != QEvent::ToolTip) return false;
        auto* help = static_cast<QHelpEvent*>(event);
        QModelIndex index = view_->indexAt(help->pos());
        if (!index.isValid() || index.data(Qt::ToolTipRole).isValid()) return false;
        QString text = index.data(Qt::DisplayRole).toString();
        QRect cell = view_->visualRect(index);
        // The check box, the icon and the margins take room from the text.
        int room = cell.width() - 8;
        if (index.data(Qt::CheckStateRole).isValid()) room -= 22;
        if (!text.isEmpty() && view_->fontMetrics().horizontalAdvance(text) > room) {
            QToolTip::showText(help->globalPos(), text, view_->viewport(), cell);
        } else {
            QToolTip::hideText();
        }
        return true;
    }

  private:
    QAbstractItemView* view_;
};

}  // namespace

void SetEmptyListText(QAbstractItemView* view, const QString& text) {
    if (!view || !view->model()) return;
    EmptyListNote* note = NoteOf(view);
    if (!note) note = new EmptyListNote(view);
    note->setText(text);
    note->Refresh();
}

QString EmptyListText(const QAbstractItemView* view) {
    EmptyListNote* note = NoteOf(view);
    return note ? note->text() : QString();
}

bool EmptyListTextShown(const QAbstractItemView* view) {
    EmptyListNote* note = NoteOf(view);
    return note && !note->isHidden();
}

void ShowCutCellsInTooltips(QAbstractItemView* view) {
    if (view) new CutCellTips(view);
}

void FitColumnsToContent(QTreeWidget* list) {
    if (!list) return;
    QHeaderView* header = list->header();
    const int last = list->columnCount() - 1;
    for (int column = 0; column < last; ++column) {
        list->resizeColumnToContents(column);
        // A very long cell does not push the other columns out of the window; before the
        // list is laid out its width says little, so the cap has a floor.
        int cap = std::max(list->viewport()->width() * 2 / 3, 240);
        if (list->columnWidth(column) > cap) list->setColumnWidth(column, cap);
    }
    header->setStretchLastSection(true);
}

}  // namespace hivewise::ui
