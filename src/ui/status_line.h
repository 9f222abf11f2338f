#pragma once

#include <QLabel>
#include <QString>

// A window's status line: the last thing that went well, in one line along its bottom,
// in place of a message box that would have to be answered.
namespace hivewise::ui {

class StatusLine : public QLabel {
    Q_OBJECT

  public:
    explicit StatusLine(QWidget* parent);

    // Shows `text` until the next one; the whole text is in the tooltip when it is cut.
    void Show(const QString& text);
    // The whole text last shown, however much of it fits.
    const QString& FullText() const { return text_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Fit();

    QString text_;
};

// Shows `text` in the status line of `window` and of each window under it that has one;
// false when none has, so that the caller can fall back to a message box.
bool ShowInStatusLines(QWidget* window, const QString& text);

}  // namespace hivewise::ui
