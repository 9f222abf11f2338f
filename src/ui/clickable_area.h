#pragma once

#include <QLabel>
#include <QWidget>

#include "ui/artwork.h"

// A large clickable area with a picture and its text. The pointer over it turns into a
// hand and the area is drawn highlighted; leaving it restores both.
namespace hivewise::ui {

class ClickableArea : public QWidget {
    Q_OBJECT

  public:
    // `title` may be empty; `text` keeps its line breaks (or wraps when `wrap` is set).
    ClickableArea(AreaPicture picture, const QString& title, const QString& text,
                  QWidget* parent = nullptr, int pictureSize = 48, bool wrap = false);

    bool Highlighted() const { return highlighted_; }
    QString Text() const { return text_->text(); }
    QLabel* TextLabel() const { return text_; }

  signals:
    void clicked();

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void SetHighlighted(bool on);

    QLabel* text_ = nullptr;
    bool highlighted_ = false;
    bool pressed_ = false;
};

}  // namespace hivewise::ui
