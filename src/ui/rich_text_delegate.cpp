#include "ui/rich_text_delegate.h"

#include <algorithm>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTreeView>

namespace hivewise::ui {

namespace {

constexpr int kMargin = 4;

void Prepare(QTextDocument& document, const QStyleOptionViewItem& option,
             const QModelIndex& index) {
    document.setDefaultFont(option.font);
    document.setDocumentMargin(kMargin);
    document.setHtml(index.data(Qt::DisplayRole).toString());
    // The text wraps at the column's width; a size query may come without a rectangle.
    int width = option.rect.width();
    if (auto* tree = qobject_cast<const QTreeView*>(option.widget)) {
        width = tree->columnWidth(index.column());
    } else if (width <= 0 && option.widget) {
        width = option.widget->width();
    }
    document.setTextWidth(width > 0 ? width : 300);
}

}  // namespace

void RichTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QTextDocument document;
    Prepare(document, opt, index);

    // The background and selection as the style draws them, without the plain text.
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    QAbstractTextDocumentLayout::PaintContext context;
    if (opt.state & QStyle::State_Selected) {
        context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::HighlightedText));
    } else {
        context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::Text));
    }
    painter->save();
    painter->translate(opt.rect.topLeft());
    painter->setClipRect(opt.rect.translated(-opt.rect.topLeft()));
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

QSize RichTextDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QTextDocument document;
    Prepare(document, opt, index);
    return QSize(static_cast<int>(document.idealWidth()),
                 std::max(minimumHeight_, static_cast<int>(document.size().height())));
}

bool RichTextDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QTextDocument document;
        Prepare(document, option, index);
        QPointF inside = mouse->position() - QPointF(option.rect.topLeft());
        QString href = document.documentLayout()->anchorAt(inside);
        if (!href.isEmpty()) {
            emit linkActivated(index, href);
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

}  // namespace hivewise::ui
