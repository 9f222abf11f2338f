#pragma once

#include <QStyledItemDelegate>

// Draws an item's text as rich text (bold, underline, font colours, line breaks and
// tables) and reports a click on a link in it.
namespace hivewise::ui {

class RichTextDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Rows are at least this high, however short their text.
    void SetMinimumHeight(int height) { minimumHeight_ = height; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  signals:
    void linkActivated(const QModelIndex& index, const QString& href);

  protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

  private:
    int minimumHeight_ = 0;
};

}  // namespace hivewise::ui
