#include "ui/status_line.h"

#include <QResizeEvent>

namespace hivewise::ui {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setObjectName("statusLine");
    setTextFormat(Qt::PlainText);
    setContentsMargins(8, 3, 8, 3);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setMinimumHeight(fontMetrics().height() + 8);
    setAccessibleName("Status");
}

void StatusLine::Show(const QString& text) {
    text_ = text;
    Fit();
}

void StatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void StatusLine::Fit() {
    const int room = contentsRect().width();
    QString shown = fontMetrics().elidedText(text_, Qt::ElideRight, std::max(room, 1));
    setText(shown);
    setToolTip(shown == text_ ? QString() : text_);
}

bool ShowInStatusLines(QWidget* window, const QString& text) {
    bool shown = false;
    for (QWidget* w = window ? window->window() : nullptr; w;) {
        for (StatusLine* line : w->findChildren<StatusLine*>()) {
            // A status line of a window opened over this one belongs to that window.
            if (line->window() != w) continue;
            line->Show(text);
            shown = true;
        }
        w = w->parentWidget() ? w->parentWidget()->window() : nullptr;
    }
    return shown;
}

}  // namespace hivewise::ui
