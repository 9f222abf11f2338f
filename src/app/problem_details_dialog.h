#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_prompts.h"
#include "report/problem_details.h"
#include "scan/problem.h"
#include "scan/result_store.h"

// The "Details of Problems found" dialog: the findings of one section as rich-text rows
// with check boxes, which the user ticks for repair, sorts, copies or sends to the
// ignore list.
namespace hivewise {

constexpr std::string_view kDetailsTitle = "Details of Problems found";
constexpr std::string_view kDetailsColumnText = "Problems Found";
constexpr std::string_view kDetailsSelectAllText = "Select All";
constexpr std::string_view kDetailsDeselectAllText = "Deselect All";
constexpr std::string_view kDetailsCloseText = "Close";
constexpr std::string_view kCopiedToClipboardText = "Copied to Clipboard";

// The link line drawn below every row's text, and the plain text whose measured width
// is the space it takes: the left half is "Add to Ignore List", the right half "Copy to
// Clipboard".
constexpr std::string_view kDetailsLinkLine =
    "<font color=\"#0000FF\"><u>Add_to_Ignore_List</u> | <u>Copy_to_Clipboard</u></font>";
constexpr std::string_view kDetailsLinkMeasureText = "Add to Ignore List | Copy to Clipboard";

// Geometry of the list, in pixels.
constexpr int kDetailsColumnMargin = 20;   // the column is the list's width less this
constexpr int kDetailsTextMargin = 30;     // row text is laid out this much narrower than the row
constexpr int kDetailsMeasureHeight = 65;  // height of the measuring box (it does not clip)
constexpr int kDetailsRowPadding = 40;     // added to the tallest text for every row's height
constexpr int kDetailsCheckBoxLeft = 5;    // the check-box picture, from the row's left
constexpr int kDetailsCheckBoxTop = 8;     // and below the row's top
constexpr int kDetailsCheckBoxSize = 16;

// The parts of the link line under the pointer.
enum class DetailsLink {
    None,
    AddToIgnoreList,
    CopyToClipboard,
};

// Which link lies at `x` pixels from the start of the link line, whose plain text
// measured `measuredWidth` pixels.
DetailsLink DetailsLinkAt(int x, int measuredWidth);

// Whether a point, relative to the row's top left corner, is on the check-box picture.
bool OnDetailsCheckBox(int x, int y);

// What the dialog's actions lead to. An empty action does nothing.
struct ProblemDetailsActions {
    // Empties the clipboard and puts the text on it as plain ANSI text; does nothing
    // when the clipboard cannot be opened.
    std::function<void(const std::string& text)> copyToClipboard{};
    // MSG_IGNORE_PROBLEM_KEY: opens the ignore-list dialog with the finding's location
    // (short root names) as its preset key.
    std::function<void(Problem& problem)> ignoreProblemKey{};
    // Shows the folder holding a finding's file in the desktop's file manager; false when
    // it could not.
    std::function<bool(const std::string& windowsPath)> openContainingFolder{};
};

// One row of the list: its finding, owned by the result store. The row's rich text is
// made from the finding when it is needed, so that a long list costs a pointer a row.
struct DetailsRow {
    Problem* problem = nullptr;
};

// Measures rich text laid out with word wrapping `width` pixels wide; returns its height.
using MeasureRichText = std::function<int(const std::string& richText, int width)>;

// What a text measures at most, taken without laying it out. `unwrapped` is -1, or, when
// the text surely keeps each of its lines unbroken, a key of its shape (number of lines
// and their fonts) that texts measuring alike share.
struct RichTextBound {
    int upper = 0;
    int unwrapped = -1;
};
using BoundRichText = std::function<RichTextBound(const std::string& richText, int width)>;

// The row height of a list taken a few rows at a time, so that a long list opens at
// once: the rows are bounded in order, the first of each shape of unbroken lines measured
// as it is met; then the others from the highest bound down, as long as a bound could
// beat the tallest text measured. When Step has returned true, Height is what RowHeight
// gives.
class RowHeightPass {
  public:
    RowHeightPass() = default;
    RowHeightPass(const std::vector<DetailsRow>& rows, int columnWidth, BoundRichText bound);
    // Bounds and measures rows while `more` allows (at least a few); true once the height
    // is final.
    bool Step(const MeasureRichText& measure, const std::function<bool()>& more);
    bool Done() const { return rows_ == nullptr || (next_ >= order_.size() && Bounded()); }
    int Height() const { return tallest_ + kDetailsRowPadding; }

  private:
    // A row whose text may wrap, and its bound.
    struct Candidate {
        int32_t bound = 0;
        uint32_t row = 0;
    };

    bool Bounded() const { return bounded_ >= rows_->size(); }
    // Bounds the next rows (a batch), measuring the first row of every new shape.
    void BoundSome(const MeasureRichText& measure);

    const std::vector<DetailsRow>* rows_ = nullptr;
    int width_ = 1;
    BoundRichText bound_;
    size_t bounded_ = 0;
    std::vector<int> shapes_;
    // Filled while bounding; once all rows are bounded, in measuring order.
    std::vector<Candidate> order_;
    size_t next_ = 0;
    int tallest_ = 0;
};

// The logic of the modal details dialog. It holds no copy of the findings: a row's tick
// is its record's isChecked, and every change reaches the record at once.
class ProblemDetailsDialog {
  public:
    ProblemDetailsDialog(ResultStore& results, UserPrompts& prompts,
                         ProblemDetailsActions actions = {});

    // Fills the list with the findings of `sectionId` in arrival order, rewriting the
    // root of each record's location to its short form for good. Rows start in arrival
    // order.
    void Open(int sectionId);
    int SectionId() const { return sectionId_; }

    const std::vector<DetailsRow>& Rows() const { return rows_; }
    size_t RowCount() const { return rows_.size(); }
    // A row's rich text (DetailsRowText of its finding); empty for a row out of range.
    std::string RowText(size_t row) const;

    // A row's tick, read from and written to its record (1 ticked, 0 not). Rows out of
    // range are unticked and ignore changes.
    bool RowChecked(size_t row) const;
    void SetRowChecked(size_t row, bool checked);
    // A click on a row's check-box picture.
    void ToggleRow(size_t row);
    void SelectAll();
    void DeselectAll();

    // The height every row gets: the tallest row text measured at the column width
    // less 30 pixels, plus 40. `columnWidth` is the list's width less 20.
    int RowHeight(int columnWidth, const MeasureRichText& measure) const;
    // The same height, measuring only the rows whose bound could beat the tallest found
    // (see RowHeightPass).
    int RowHeight(int columnWidth, const MeasureRichText& measure,
                  const BoundRichText& bound) const;

    // The header click: the first sorts by location (bytes, ascending), the next goes
    // back to arrival order, and so on. Rows move whole; equal keys keep their order.
    void ClickHeader();
    bool SortedByLocation() const { return sortedByLocation_; }

    // "Copy to Clipboard" on a row: puts the row's plain text on the clipboard and says
    // "Copied to Clipboard" (also when the clipboard was busy). Returns the text; empty
    // for a row out of range, which does nothing.
    std::string CopyRow(size_t row);
    // "Add to Ignore List" on a row: hands the row's finding to the ignore action.
    void AddRowToIgnoreList(size_t row);
    // The file of a row's finding; empty when it is none.
    std::string RowFile(size_t row) const;
    // "Open Containing Folder" on a row; says so when the folder cannot be shown.
    void OpenRowFolder(size_t row);
    // The section's name, for the dialog's title.
    std::string SectionName() const;

  private:
    ResultStore& results_;
    UserPrompts& prompts_;
    ProblemDetailsActions actions_;
    int sectionId_ = -1;
    std::vector<DetailsRow> rows_;
    bool sortedByLocation_ = false;
};

}  // namespace hivewise
