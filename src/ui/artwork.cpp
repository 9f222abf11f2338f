#include "ui/artwork.h"

#include <QGuiApplication>

#include <QLinearGradient>
#include <QPainter>
#include <QtMath>

namespace hivewise::ui {

QPainterPath HexagonPath(QPointF centre, qreal radius) {
    QPainterPath path;
    for (int i = 0; i < 6; ++i) {
        qreal angle = qDegreesToRadians(60.0 * i - 90.0);
        QPointF corner(centre.x() + radius * qCos(angle), centre.y() + radius * qSin(angle));
        if (i == 0) {
            path.moveTo(corner);
        } else {
            path.lineTo(corner);
        }
    }
    path.closeSubpath();
    return path;
}

namespace {

void DrawGlyph(QPainter& p, AreaPicture picture, qreal s) {
    QPen pen(Qt::white, s * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF c(s / 2, s / 2);
    switch (picture) {
        case AreaPicture::Scan:
            p.drawEllipse(QPointF(s * 0.45, s * 0.45), s * 0.17, s * 0.17);
            p.drawLine(QPointF(s * 0.57, s * 0.57), QPointF(s * 0.7, s * 0.7));
            break;
        case AreaPicture::Backups:
        case AreaPicture::FullBackup:
            p.drawRoundedRect(QRectF(s * 0.3, s * 0.3, s * 0.4, s * 0.42), s * 0.04, s * 0.04);
            p.drawLine(QPointF(s * 0.3, s * 0.44), QPointF(s * 0.7, s * 0.44));
            p.drawLine(QPointF(s * 0.44, s * 0.56), QPointF(s * 0.56, s * 0.56));
            break;
        case AreaPicture::Tools:
        case AreaPicture::Preferences:
            for (int i = 0; i < 3; ++i) {
                qreal y = s * (0.36 + 0.14 * i);
                p.drawLine(QPointF(s * 0.3, y), QPointF(s * 0.7, y));
                qreal x = s * (i == 1 ? 0.58 : 0.42);
                p.setBrush(Qt::white);
                p.drawEllipse(QPointF(x, y), s * 0.04, s * 0.04);
                p.setBrush(Qt::NoBrush);
            }
            break;
        case AreaPicture::Help: {
            QFont font("DejaVu Sans", 1, QFont::Bold);
            font.setPixelSize(static_cast<int>(s * 0.42));
            p.setFont(font);
            p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, "?");
            break;
        }
        case AreaPicture::Helpers:
            p.drawEllipse(c, s * 0.2, s * 0.2);
            p.drawLine(QPointF(s * 0.3, c.y()), QPointF(s * 0.7, c.y()));
            p.drawEllipse(c, s * 0.08, s * 0.2);
            break;
        case AreaPicture::Startup:
            p.drawArc(QRectF(s * 0.3, s * 0.32, s * 0.4, s * 0.4), 120 * 16, 300 * 16);
            p.drawLine(QPointF(c.x(), s * 0.28), QPointF(c.x(), s * 0.5));
            break;
        case AreaPicture::Programs:
            p.drawRect(QRectF(s * 0.3, s * 0.3, s * 0.17, s * 0.17));
            p.drawRect(QRectF(s * 0.53, s * 0.3, s * 0.17, s * 0.17));
            p.drawRect(QRectF(s * 0.3, s * 0.53, s * 0.17, s * 0.17));
            p.drawRect(QRectF(s * 0.53, s * 0.53, s * 0.17, s * 0.17));
            break;
    }
}

}  // namespace

QPixmap DrawAreaPicture(AreaPicture picture, int size) {
    // Drawn in device pixels, so that it stays sharp on a scaled screen.
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, size);
    bool honey = picture == AreaPicture::Scan;
    fill.setColorAt(0, honey ? HoneyColor().lighter(110) : AccentColor().lighter(125));
    fill.setColorAt(1, honey ? HoneyColor().darker(115) : AccentColor());
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(HexagonPath(QPointF(size / 2.0, size / 2.0), size / 2.0 - 1));
    DrawGlyph(p, picture, size);
    return pixmap;
}

QPixmap DrawBanner(int width, int height, qreal ratio) {
    QPixmap banner(QSize(width, height) * ratio);
    banner.setDevicePixelRatio(ratio);
    QPainter p(&banner);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, width, 0);
    fill.setColorAt(0, QColor(0x12, 0x2b, 0x4a));
    fill.setColorAt(1, QColor(0x1f, 0x6f, 0x8b));
    p.fillRect(QRectF(0, 0, width, height), fill);
    qreal r = height * 0.32;
    for (int i = 0; i < 8; ++i) {
        QPointF centre(width - 40 - i * r * 1.75, height / 2.0 + (i % 2 ? r * 0.76 : -r * 0.76));
        p.setPen(QPen(QColor(255, 255, 255, 40), 1.2));
        p.setBrush(QColor(242, 177, 52, i == 1 ? 170 : 25));
        p.drawPath(HexagonPath(centre, r * 0.9));
    }
    QFont title("DejaVu Sans", 1, QFont::Bold);
    title.setPixelSize(height * 42 / 100);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(20, 0, width, height), Qt::AlignLeft | Qt::AlignVCenter, "Hivewise");
    QFontMetrics metrics(title);
    QFont version("DejaVu Sans", 1);
    version.setPixelSize(height * 22 / 100);
    p.setFont(version);
    p.setPen(QColor(255, 214, 102));
    p.drawText(QRectF(28 + metrics.horizontalAdvance("Hivewise"), 0, 100, height * 0.62),
               Qt::AlignLeft | Qt::AlignBottom, "v6.2");
    return banner;
}

}  // namespace hivewise::ui
