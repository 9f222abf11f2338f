#include "ui/clickable_area.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace hivewise::ui {

ClickableArea::ClickableArea(AreaPicture picture, const QString& title, const QString& text,
                             QWidget* parent, int pictureSize, bool wrap)
    : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(12);

    auto* icon = new QLabel(this);
    icon->setPixmap(DrawAreaPicture(picture, pictureSize));
    icon->setFixedSize(pictureSize, pictureSize);
    icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(icon, 0, wrap ? Qt::AlignTop : Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    // Short texts sit in the middle beside the picture; wrapped ones start at the top.
    if (!wrap) column->addStretch(1);
    if (!title.isEmpty()) {
        auto* heading = new QLabel(title, this);
        QFont bold = heading->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.1);
        heading->setFont(bold);
        heading->setWordWrap(wrap);
        heading->setAttribute(Qt::WA_TransparentForMouseEvents);
        column->addWidget(heading);
    }
    text_ = new QLabel(text, this);
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(wrap);
    text_->setAttribute(Qt::WA_TransparentForMouseEvents);
    column->addWidget(text_);
    column->addStretch(1);
    row->addLayout(column, 1);
}

void ClickableArea::SetHighlighted(bool on) {
    if (highlighted_ == on) return;
    highlighted_ = on;
    if (on) {
        setCursor(Qt::PointingHandCursor);
    } else {
        unsetCursor();
    }
    update();
}

void ClickableArea::enterEvent(QEnterEvent* event) {
    SetHighlighted(true);
    QWidget::enterEvent(event);
}

void ClickableArea::leaveEvent(QEvent* event) {
    SetHighlighted(false);
    pressed_ = false;
    QWidget::leaveEvent(event);
}

void ClickableArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
    update();
}

void ClickableArea::mouseReleaseEvent(QMouseEvent* event) {
    // A click counts only when the button is let go over the area, as with a button.
    bool click = pressed_ && event->button() == Qt::LeftButton &&
                 rect().contains(event->position().toPoint());
    pressed_ = false;
    update();
    if (click) emit clicked();
}

void ClickableArea::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClickableArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor fill = palette().color(QPalette::Base);
    QColor border = palette().color(QPalette::Mid);
    if (highlighted_) {
        fill = QColor(0xfd, 0xf3, 0xdc);
        border = HoneyColor();
    }
    if (pressed_) fill = fill.darker(104);
    p.setPen(QPen(border, highlighted_ ? 1.6 : 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(box, 8, 8);
    if (hasFocus()) {
        p.setPen(QPen(AccentColor(), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box.adjusted(3, 3, -3, -3), 6, 6);
    }
}

}  // namespace hivewise::ui
