#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPixmap>
#include <QPointF>

// The program's own drawings: the honeycomb cell and the small pictures of the areas.
namespace hivewise::ui {

// The colours the windows share.
inline QColor AccentColor() {
    return QColor(0x1f, 0x5f, 0x8b);
}
inline QColor HoneyColor() {
    return QColor(0xf2, 0xb1, 0x34);
}

// A hexagon with a pointed top around `centre`.
QPainterPath HexagonPath(QPointF centre, qreal radius);

enum class AreaPicture {
    Scan,
    Backups,
    Tools,
    Preferences,
    Help,
    Helpers,
    Startup,
    Programs,
    FullBackup,
};

// A square picture of `size` pixels for a clickable area.
QPixmap DrawAreaPicture(AreaPicture picture, int size);

// The banner across the top of the main window, drawn for a screen of that pixel ratio.
QPixmap DrawBanner(int width, int height, qreal ratio = 1.0);

}  // namespace hivewise::ui
