#include "scan/result_store.h"

namespace hivewise {

void ResultStore::Reset() {
    problems_.clear();
    counts_.fill(0);
    rows_.fill(0);
    total_ = 0;
}

void ResultStore::SetRowIndex(int sectionId, int row) {
    if (sectionId >= 0 && sectionId < kSectionCount) rows_[static_cast<size_t>(sectionId)] = row;
}

int ResultStore::RowIndex(int sectionId) const {
    if (sectionId < 0 || sectionId >= kSectionCount) return -1;
    return rows_[static_cast<size_t>(sectionId)];
}

int ResultStore::Count(int sectionId) const {
    if (sectionId < 0 || sectionId >= kSectionCount) return 0;
    return counts_[static_cast<size_t>(sectionId)];
}

int ResultStore::RemoveIf(const std::function<bool(const Problem&)>& drop) {
    int removed = 0;
    std::vector<std::unique_ptr<Problem>> kept;
    kept.reserve(problems_.size());
    for (auto& problem : problems_) {
        if (!drop(*problem)) {
            kept.push_back(std::move(problem));
            continue;
        }
        int id = problem->sectionId;
        if (id >= 1 && id < kSectionCount && counts_[static_cast<size_t>(id)] > 0)
            --counts_[static_cast<size_t>(id)];
        if (total_ > 0) --total_;
        ++removed;
    }
    problems_ = std::move(kept);
    return removed;
}

std::string MatchText(const Problem& problem) {
    std::string text;
    MatchTextInto(problem, &text);
    return text;
}

void MatchTextInto(const Problem& problem, std::string* text) {
    const std::string_view location = problem.Location();
    const std::string_view valueName = problem.ValueName();
    const std::string_view valueData = problem.ValueData();
    text->clear();
    text->reserve(location.size() + valueName.size() + valueData.size() + 2);
    text->append(location).append(1, '\\').append(valueName).append(1, '\\').append(valueData);
}

bool ResultStore::Accept(std::unique_ptr<Problem> problem, const HandoverContext& context) {
    if (!problem) return false;
    problem->isChecked = context.checkAll ? 1 : 0;
    if (context.isExcluded) {
        MatchTextInto(*problem, &matchText_);
        if (context.isExcluded(matchText_)) return false;
    }
    if (context.logOn && context.appendToLog) context.appendToLog(*problem);
    problem->sequence = total_;
    const int id = problem->sectionId;
    problems_.push_back(std::move(problem));
    const bool counted = id >= 1 && id < kSectionCount;
    const int count = counted ? ++counts_[static_cast<size_t>(id)] : 0;
    ++total_;
    if (!context.view) return true;
    if (counted) {
        context.view->FindingKept(rows_[static_cast<size_t>(id)], std::to_string(count), id,
                                  total_);
    } else {
        context.view->SetTotal(total_);
    }
    return true;
}

}  // namespace hivewise
