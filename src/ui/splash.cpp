#include "ui/splash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include "ui/artwork.h"

namespace hivewise::ui {

QPixmap DrawSplashPicture() {
    QPixmap picture(kSplashWidth, kSplashHeight);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF all(0, 0, kSplashWidth, kSplashHeight);

    QLinearGradient background(all.topLeft(), all.bottomRight());
    background.setColorAt(0.0, QColor(0x12, 0x2b, 0x4a));
    background.setColorAt(1.0, QColor(0x1f, 0x6f, 0x8b));
    painter.fillRect(all, background);

    // A loose honeycomb on the right, fading towards the text.
    const qreal r = 34;
    for (int row = -1; row < 6; ++row) {
        for (int col = 0; col < 6; ++col) {
            QPointF centre(380 + col * r * 1.75 + (row % 2 ? r * 0.875 : 0), row * r * 1.52 + 20);
            int alpha = 14 + col * 9;
            painter.setPen(QPen(QColor(255, 255, 255, alpha + 10), 1.5));
            painter.setBrush(QColor(255, 200, 60, col == 3 && row == 2 ? 150 : alpha / 2));
            painter.drawPath(HexagonPath(centre, r * 0.92));
        }
    }

    painter.setPen(Qt::white);
    QFont title("DejaVu Sans", 46, QFont::Bold);
    painter.setFont(title);
    painter.drawText(QRectF(44, 92, 400, 80), Qt::AlignLeft | Qt::AlignVCenter, "Hivewise");
    QFont version("DejaVu Sans", 20);
    painter.setFont(version);
    painter.setPen(QColor(255, 214, 102));
    painter.drawText(QRectF(48, 166, 300, 36), Qt::AlignLeft | Qt::AlignVCenter, "v6.2");
    QFont small("DejaVu Sans", 10);
    painter.setFont(small);
    painter.setPen(QColor(255, 255, 255, 190));
    painter.drawText(QRectF(48, 270, 400, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     "Registry cleaner \u2022 Loading ...");
    painter.setPen(QColor(255, 255, 255, 60));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(all.adjusted(0.5, 0.5, -0.5, -0.5));
    return picture;
}

CSplashThread::~CSplashThread() {
    Close();
}

bool CSplashThread::Create() {
    if (window_) return true;
    window_ = new QSplashScreen(DrawSplashPicture());
    window_->setAttribute(Qt::WA_DeleteOnClose);
    window_->show();
    QCoreApplication::processEvents();
    return true;
}

void CSplashThread::WaitUntilShown() {
    // Bounded: a window system that never maps the window must not hang the start.
    QElapsedTimer clock;
    clock.start();
    while (window_ && !window_->isVisible() && clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void CSplashThread::Close() {
    if (window_) {
        window_->close();
        window_ = nullptr;
    }
}

}  // namespace hivewise::ui
