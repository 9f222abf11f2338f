#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/problem.h"
#include "scan/scan_section.h"

namespace hivewise {

// The section list as the hand-over changes it: one row per section being scanned.
class SectionListView {
  public:
    virtual ~SectionListView() = default;
    virtual void SetProblemsCell(int row, const std::string& text) = 0;
    virtual void SetRowData(int row, int sectionId) = 0;
    virtual void SetRowChecked(int row, bool checked) = 0;
    // The number beside "Problems Found : ".
    virtual void SetTotal(int total) = 0;
    // What a kept finding changes, in this order: its row's count, data and tick, and the
    // total. A list that keeps its rows under a lock makes the four changes under one.
    virtual void FindingKept(int row, const std::string& problems, int sectionId, int total) {
        SetProblemsCell(row, problems);
        SetRowData(row, sectionId);
        SetRowChecked(row, true);
        SetTotal(total);
    }
};

// What the hand-over needs from the rest of the scan, fixed when a scan starts.
struct HandoverContext {
    bool checkAll = true;  // "CheckAllItems"
    bool logOn = false;    // "Generate Log"
    std::function<bool(const std::string& matchText)> isExcluded{};
    std::function<void(const Problem&)> appendToLog{};
    SectionListView* view = nullptr;
};

// The findings of the current scan, with the counters per section and the total.
class ResultStore {
  public:
    // Empties the store for a new scan.
    void Reset();
    void SetRowIndex(int sectionId, int row);
    int RowIndex(int sectionId) const;

    // Takes one handed-over finding: excluded ones leave no trace. Returns whether the
    // record was kept.
    bool Accept(std::unique_ptr<Problem> problem, const HandoverContext& context);

    // Drops the findings `drop` picks (those the user has just chosen to ignore), with
    // the counters kept to what stays; returns how many went.
    int RemoveIf(const std::function<bool(const Problem&)>& drop);

    const std::vector<std::unique_ptr<Problem>>& Problems() const { return problems_; }
    std::vector<std::unique_ptr<Problem>>& Problems() { return problems_; }
    int Count(int sectionId) const;
    int Total() const { return total_; }

  private:
    std::vector<std::unique_ptr<Problem>> problems_;
    std::string matchText_;  // reused from finding to finding
    std::array<int, kSectionCount> counts_{};
    std::array<int, kSectionCount> rows_{};
    int total_ = 0;
};

// The text the exclusion test looks at: location, value name and data.
std::string MatchText(const Problem& problem);
void MatchTextInto(const Problem& problem, std::string* text);

}  // namespace hivewise
