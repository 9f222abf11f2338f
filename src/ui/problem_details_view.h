#pragma once

// The findings need the reporting library; without it the results list opens nothing.

#include <QDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <QTimer>
#include <array>
#include <string>

#include "app/problem_details_dialog.h"
#include "ui/headed_list.h"

// The "Details of Problems found" dialog: the findings of one section drawn as rich-text
// rows with a check-box picture and the link line, forwarding every click to the logic.
// The list is a view over the logic's rows: only the rows on the screen are drawn.
namespace hivewise::ui {

class DetailsModel;

class ProblemDetailsView : public QDialog {
    Q_OBJECT

  public:
    // Fills the list through the logic's Open for `sectionId`.
    ProblemDetailsView(ProblemDetailsDialog& logic, int sectionId, QWidget* parent = nullptr);

    HeadedList* List() const { return list_; }
    // The text a row shows, as the list hands it to its delegate.
    QString RowText(int row) const;
    QPushButton* SelectAllButton() const { return selectAllButton_; }
    QPushButton* DeselectAllButton() const { return deselectAllButton_; }
    QPushButton* CloseButton() const { return closeButton_; }
    // The current finding as plain text, for the user to select and copy.
    QPlainTextEdit* FindingText() const { return findingText_; }
    // The right-click menu of a row: Copy, Add to Ignore List and, for a file, Open
    // Containing Folder. The caller owns it.
    QMenu* RowMenu(int row);

    // The rows again from the findings, after some left them (ignored).
    void Reload();

    // The height every row has now, from the logic's measuring rule. A long list opens
    // with the tallest of the likeliest rows and grows, while the dialog is idle, to the
    // tallest of all; RowHeightFinal says when it got there.
    int CurrentRowHeight() const { return rowHeight_; }
    bool RowHeightFinal() const { return heightPass_.Done(); }
    // Where a row's check-box picture and link line are, in the list's viewport; empty
    // for a row that does not exist.
    QRect CheckBoxRect(int row) const;
    QRect LinkLineRect(int row) const;

    // Rich text laid out as the rows are: word-wrapped `width` pixels wide in the list's
    // font. Returns its height.
    int MeasureRowText(const std::string& richText, int width) const;
    // What MeasureRowText gives at most for the text, from the fonts' advances alone.
    RichTextBound BoundRowText(const std::string& richText, int width) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class DetailsRowDelegate;

    // Column width and row height from the list's width.
    void Relayout();
    // The items' texts after the rows changed order; ticks and pictures are repainted.
    void ShowRows();
    void Repaint();
    void ShowSortArrow();
    void ShowCurrentFinding();
    int RowAt(const QPoint& viewportPoint, QPoint* insideRow) const;
    // The link under a point of the viewport.
    DetailsLink LinkAt(const QPoint& viewportPoint, int* row) const;
    // The link line's top, from the row's top: right below the tallest text.
    int LinkLineTop() const;
    int LinkLineHeight() const;
    int LinkMeasuredWidth() const;

    // Measures rows of the height pass for up to `ms` milliseconds; shows a new height.
    void ContinueMeasuring(int ms);
    // The model's rows again after the logic's rows changed; the first row is current.
    void ResetRows(bool open);

    ProblemDetailsDialog& logic_;
    DetailsModel* model_ = nullptr;
    HeadedList* list_ = nullptr;
    QPushButton* selectAllButton_ = nullptr;
    QPushButton* deselectAllButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPlainTextEdit* findingText_ = nullptr;
    int rowHeight_ = kDetailsRowPadding;
    // The column width the row height was taken at; -1 once the rows changed.
    int measuredWidth_ = -1;
    RowHeightPass heightPass_;
    QTimer measureTimer_;
    // Advances of the 256 ANSI characters, in the list's font and in bold.
    std::array<int, 256> advance_{};
    std::array<int, 256> boldAdvance_{};
    // A line's height at most, and the widest character, in either font.
    int boundLineHeight_ = 0;
    int widestAdvance_ = 0;
};

// Empties the desktop's clipboard and puts the (ANSI) text on it as plain text.
void CopyToDesktopClipboard(const std::string& text);

}  // namespace hivewise::ui
