#include "app/problem_details_dialog.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "scan/scan_section.h"

namespace hivewise {

DetailsLink DetailsLinkAt(int x, int measuredWidth) {
    if (measuredWidth <= 0 || x < 0 || x >= measuredWidth) return DetailsLink::None;
    return x < measuredWidth / 2 ? DetailsLink::AddToIgnoreList : DetailsLink::CopyToClipboard;
}

bool OnDetailsCheckBox(int x, int y) {
    return x >= kDetailsCheckBoxLeft && x < kDetailsCheckBoxLeft + kDetailsCheckBoxSize &&
           y >= kDetailsCheckBoxTop && y < kDetailsCheckBoxTop + kDetailsCheckBoxSize;
}

ProblemDetailsDialog::ProblemDetailsDialog(ResultStore& results, UserPrompts& prompts,
                                           ProblemDetailsActions actions)
    : results_(results), prompts_(prompts), actions_(std::move(actions)) {}

void ProblemDetailsDialog::Open(int sectionId) {
    sectionId_ = sectionId;
    sortedByLocation_ = false;
    rows_.clear();
    rows_.reserve(static_cast<size_t>(std::max(results_.Count(sectionId), 0)));
    // Neighbouring records mostly share their root: its short form is taken once for them.
    std::string lastRoot;
    std::string lastShortRoot;
    std::string shortened;
    for (const auto& problem : results_.Problems()) {
        if (!problem || problem->sectionId != sectionId) continue;
        const std::string_view location = problem->Location();
        const std::string_view root = location.substr(0, location.find('\\'));
        if (root != lastRoot) {
            lastRoot = root;
            lastShortRoot = ShortRootLocation(root);
        }
        // A short root is never longer: the record rewrites its texts within its own block,
        // so that a long section's records are not copied to fresh memory.
        if (lastShortRoot != lastRoot) {
            shortened.assign(lastShortRoot).append(location.substr(lastRoot.size()));
            problem->SetLocation(shortened);
        }
        rows_.push_back(DetailsRow{problem.get()});
    }
}

std::string ProblemDetailsDialog::RowText(size_t row) const {
    return row < rows_.size() ? DetailsRowText(*rows_[row].problem) : std::string{};
}

bool ProblemDetailsDialog::RowChecked(size_t row) const {
    return row < rows_.size() && rows_[row].problem->isChecked != 0;
}

void ProblemDetailsDialog::SetRowChecked(size_t row, bool checked) {
    if (row < rows_.size()) rows_[row].problem->isChecked = checked ? 1 : 0;
}

void ProblemDetailsDialog::ToggleRow(size_t row) {
    SetRowChecked(row, !RowChecked(row));
}

void ProblemDetailsDialog::SelectAll() {
    for (DetailsRow& row : rows_)
        row.problem->isChecked = 1;
}

void ProblemDetailsDialog::DeselectAll() {
    for (DetailsRow& row : rows_)
        row.problem->isChecked = 0;
}

int ProblemDetailsDialog::RowHeight(int columnWidth, const MeasureRichText& measure) const {
    const int width = std::max(columnWidth - kDetailsTextMargin, 1);
    int tallest = 0;
    if (measure) {
        for (const DetailsRow& row : rows_)
            tallest = std::max(tallest, measure(DetailsRowText(*row.problem), width));
    }
    return tallest + kDetailsRowPadding;
}

int ProblemDetailsDialog::RowHeight(int columnWidth, const MeasureRichText& measure,
                                    const BoundRichText& bound) const {
    if (!bound) return RowHeight(columnWidth, measure);
    RowHeightPass pass(rows_, columnWidth, bound);
    if (measure) {
        while (!pass.Step(measure, [] { return true; })) {
        }
    }
    return pass.Height();
}

RowHeightPass::RowHeightPass(const std::vector<DetailsRow>& rows, int columnWidth,
                             BoundRichText bound)
    : rows_(&rows),
      width_(std::max(columnWidth - kDetailsTextMargin, 1)),
      bound_(std::move(bound)) {}

void RowHeightPass::BoundSome(const MeasureRichText& measure) {
    // Small enough that a step stays within its time, large enough to spare the clock.
    constexpr size_t kBatch = 64;
    const size_t end = std::min(rows_->size(), bounded_ + kBatch);
    for (; bounded_ < end; ++bounded_) {
        const std::string text = DetailsRowText(*(*rows_)[bounded_].problem);
        const RichTextBound b = bound_ ? bound_(text, width_) : RichTextBound{};
        if (b.unwrapped < 0) {
            order_.push_back(Candidate{b.upper, static_cast<uint32_t>(bounded_)});
        } else if (std::find(shapes_.begin(), shapes_.end(), b.unwrapped) == shapes_.end()) {
            // Texts of one shape measure alike: one of them stands for all.
            shapes_.push_back(b.unwrapped);
            tallest_ = std::max(tallest_, measure(text, width_));
        }
    }
    if (Bounded()) {
        // From the highest bound down; equal bounds in row order.
        std::sort(order_.begin(), order_.end(), [](const Candidate& a, const Candidate& b) {
            return a.bound != b.bound ? a.bound > b.bound : a.row < b.row;
        });
        order_.shrink_to_fit();
    }
}

bool RowHeightPass::Step(const MeasureRichText& measure, const std::function<bool()>& more) {
    if (Done()) return true;
    bool first = true;
    while (!Done() && (first || more())) {
        first = false;
        if (!Bounded()) {
            BoundSome(measure);
            continue;
        }
        const Candidate candidate = order_[next_];
        if (candidate.bound <= tallest_) {
            // Sorted from the highest bound down: no later row can be taller.
            next_ = order_.size();
            break;
        }
        const DetailsRow& row = (*rows_)[candidate.row];
        tallest_ = std::max(tallest_, measure(DetailsRowText(*row.problem), width_));
        ++next_;
    }
    return Done();
}

void ProblemDetailsDialog::ClickHeader() {
    sortedByLocation_ = !sortedByLocation_;
    if (sortedByLocation_) {
        // Texts compare as unsigned bytes, as the byte order asks.
        std::stable_sort(rows_.begin(), rows_.end(), [](const DetailsRow& a, const DetailsRow& b) {
            return a.problem->Location() < b.problem->Location();
        });
    } else {
        std::stable_sort(rows_.begin(), rows_.end(), [](const DetailsRow& a, const DetailsRow& b) {
            return a.problem->sequence < b.problem->sequence;
        });
    }
}

std::string ProblemDetailsDialog::CopyRow(size_t row) {
    if (row >= rows_.size()) return {};
    std::string text = ClipboardText(RowText(row));
    if (actions_.copyToClipboard) actions_.copyToClipboard(text);
    prompts_.Notice(std::string(kCopiedToClipboardText));
    return text;
}

void ProblemDetailsDialog::AddRowToIgnoreList(size_t row) {
    if (row >= rows_.size()) return;
    if (actions_.ignoreProblemKey) actions_.ignoreProblemKey(*rows_[row].problem);
}

std::string ProblemDetailsDialog::RowFile(size_t row) const {
    return row < rows_.size() ? FindingFile(*rows_[row].problem) : std::string{};
}

void ProblemDetailsDialog::OpenRowFolder(size_t row) {
    std::string file = RowFile(row);
    if (file.empty() || !actions_.openContainingFolder) return;
    if (!actions_.openContainingFolder(file)) {
        prompts_.Message("The folder of " + file + " could not be opened.");
    }
}

std::string ProblemDetailsDialog::SectionName() const {
    const ScanSection* section = FindSection(sectionId_);
    return section ? std::string(section->sectionName) : std::string{};
}

}  // namespace hivewise
