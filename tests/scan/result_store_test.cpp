#include "scan/result_store.h"

#include <gtest/gtest.h>

#include <map>

#include "scan/scan_section.h"

namespace hivewise {
namespace {

class RecordingList : public SectionListView {
  public:
    void SetProblemsCell(int row, const std::string& text) override { cells[row] = text; }
    void SetRowData(int row, int sectionId) override { data[row] = sectionId; }
    void SetRowChecked(int row, bool checked) override { checks[row] = checked; }
    void SetTotal(int value) override { total = value; }
    std::map<int, std::string> cells;
    std::map<int, int> data;
    std::map<int, bool> checks;
    int total = -1;
};

std::unique_ptr<Problem> Finding(int section, std::string_view location,
                                 std::string_view data = "x") {
    return std::make_unique<Problem>(
        section, ProblemTexts{.location = location, .valueName = "v", .valueData = data});
}

TEST(SectionTable, FixedTexts) {
    const auto& sections = ScanSections();
    EXPECT_EQ(sections[2].label, "ProgramID Section");
    EXPECT_EQ(sections[2].sectionName, "Program ID Section");
    EXPECT_TRUE(sections[1].tooltip.empty());
    EXPECT_EQ(sections[9].description, sections[10].description);
    auto order = SectionsInScanOrder();
    EXPECT_EQ(order.front(), 0);
    EXPECT_EQ(order[1], 8);
    EXPECT_EQ(order.back(), 15);
    EXPECT_EQ(FindSection(16), nullptr);
}

TEST(ResultStore, CountsRowsSequenceAndTotal) {
    ResultStore store;
    RecordingList list;
    store.SetRowIndex(5, 2);
    store.SetRowIndex(11, 4);
    HandoverContext context{.view = &list};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(store.Accept(Finding(5, "HKEY_LOCAL_MACHINE\\A"), context));
    EXPECT_TRUE(store.Accept(Finding(11, "HKEY_CLASSES_ROOT\\.x"), context));
    EXPECT_EQ(store.Count(5), 3);
    EXPECT_EQ(store.Count(11), 1);
    EXPECT_EQ(list.cells[2], "3");
    EXPECT_EQ(list.cells[4], "1");
    EXPECT_EQ(list.data[4], 11);
    EXPECT_EQ(list.total, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(store.Problems()[i]->sequence, i);
}

TEST(ResultStore, ExcludedFindingsLeaveNoTraceAndSequencesStayDense) {
    ResultStore store;
    RecordingList list;
    std::vector<std::string> logged;
    HandoverContext context{
        .logOn = true,
        .isExcluded =
            [](const std::string& text) { return text.find("\\skip\\") != std::string::npos; },
        .appendToLog = [&](const Problem& p) { logged.emplace_back(p.Location()); },
        .view = &list};
    store.Accept(Finding(4, "HKEY_LOCAL_MACHINE\\keep"), context);
    EXPECT_FALSE(store.Accept(Finding(4, "HKEY_LOCAL_MACHINE\\skip"), context));
    store.Accept(Finding(4, "HKEY_LOCAL_MACHINE\\keep2"), context);
    EXPECT_EQ(store.Total(), 2);
    EXPECT_EQ(store.Count(4), 2);
    EXPECT_EQ(store.Problems()[1]->sequence, 1);
    EXPECT_EQ(logged.size(), 2u);
}

TEST(ResultStore, CheckAllOffUnticksFindingsButTicksTheRow) {
    ResultStore store;
    RecordingList list;
    HandoverContext context{.checkAll = false, .view = &list};
    store.Accept(Finding(7, "HKEY_LOCAL_MACHINE\\h"), context);
    EXPECT_EQ(store.Problems()[0]->isChecked, 0);
    EXPECT_TRUE(list.checks[0]);
    // A record outside the sections is kept and counted in the total only.
    store.Accept(Finding(0, "HKEY_LOCAL_MACHINE\\z"), context);
    EXPECT_EQ(store.Total(), 2);
    EXPECT_EQ(store.Count(0), 0);
    store.Reset();
    EXPECT_EQ(store.Total(), 0);
    EXPECT_TRUE(store.Problems().empty());
}

}  // namespace
}  // namespace hivewise
