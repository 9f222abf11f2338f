#include "app/problem_details_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "scan/ignore_list_file.h"

namespace hivewise {
namespace {

constexpr const char* kFileMissing = "The file (%s) does not exist at the specified location";

class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    std::vector<std::string> messages;
};

Problem Finding(int sectionId, std::string_view location,
                std::string_view valueData = "C:\\gone.exe") {
    return Problem(sectionId, {.location = location,
                               .valueName = "Path",
                               .valueData = valueData,
                               .description = kFileMissing});
}

// A store holding the findings in arrival order, as the hand-over leaves them.
class DetailsTest : public testing::Test {
  protected:
    Problem& Add(Problem p, bool checked = true) {
        store.Accept(std::make_unique<Problem>(std::move(p)), HandoverContext{.checkAll = checked});
        return *store.Problems().back();
    }
    std::vector<std::string> Locations() const {
        std::vector<std::string> out;
        for (const DetailsRow& row : dialog.Rows())
            out.emplace_back(row.problem->Location());
        return out;
    }

    ResultStore store;
    RecordingPrompts prompts;
    std::vector<std::string> clipboard;
    std::vector<Problem*> ignored;
    ProblemDetailsDialog dialog{
        store, prompts,
        ProblemDetailsActions{
            .copyToClipboard = [this](const std::string& text) { clipboard.push_back(text); },
            .ignoreProblemKey = [this](Problem& p) { ignored.push_back(&p); }}};
};

TEST_F(DetailsTest, OpenTakesTheSectionsRecordsAndShortensTheirRoots) {
    Problem& a = Add(Finding(5, "HKEY_LOCAL_MACHINE\\SOFTWARE\\A"));
    Problem& other = Add(Finding(11, "HKEY_CLASSES_ROOT\\.xyz"));
    Problem& b = Add(Finding(5, "HKEY_CURRENT_USER\\Software\\B"), false);

    dialog.Open(5);
    ASSERT_EQ(dialog.RowCount(), 2u);
    EXPECT_EQ(dialog.Rows()[0].problem, &a);
    EXPECT_EQ(dialog.Rows()[1].problem, &b);
    EXPECT_EQ(a.Location(), "HKLM\\SOFTWARE\\A");
    EXPECT_EQ(b.Location(), "HKCU\\Software\\B");
    EXPECT_EQ(other.Location(), "HKEY_CLASSES_ROOT\\.xyz");
    EXPECT_NE(dialog.RowText(0).find("RegKey : HKLM\\SOFTWARE\\A <br>"), std::string::npos);
    EXPECT_TRUE(dialog.RowChecked(0));
    EXPECT_FALSE(dialog.RowChecked(1));
}

// Neighbouring records of a section share their root or not, in any order; opening again
// leaves the short roots and the rows as they are.
TEST_F(DetailsTest, OpenShortensEveryRootAmongMixedNeighbours) {
    const std::vector<std::string> locations = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\A",
                                                "HKEY_LOCAL_MACHINE\\SOFTWARE\\B",
                                                "HKEY_CURRENT_USER\\Software\\C",
                                                "C:\\Documents\\x.lnk",
                                                "HKEY_CLASSES_ROOT\\.abc",
                                                "HKEY_LOCAL_MACHINE",
                                                "HKEY_LOCAL_MACHINE_X\\D",
                                                "HKEY_CURRENT_USER\\Software\\E",
                                                "/home/user/.local/share/applications/x.desktop",
                                                ""};
    for (const std::string& location : locations)
        Add(Finding(9, location));
    std::vector<std::string> expected;
    for (const std::string& location : locations)
        expected.push_back(ShortRootLocation(location));

    dialog.Open(9);
    EXPECT_EQ(Locations(), expected);
    EXPECT_EQ(expected[0], "HKLM\\SOFTWARE\\A");
    EXPECT_EQ(expected[3], "C:\\Documents\\x.lnk");
    dialog.Open(9);
    EXPECT_EQ(Locations(), expected);
    ASSERT_EQ(dialog.RowCount(), locations.size());
    EXPECT_EQ(dialog.RowText(0), DetailsRowText(*dialog.Rows()[0].problem));
    EXPECT_EQ(dialog.RowText(locations.size()), "") << "a row out of range has no text";
}

TEST_F(DetailsTest, TicksAndButtonsChangeTheRecords) {
    Problem& a = Add(Finding(7, "HKLM\\A"));
    Problem& b = Add(Finding(7, "HKLM\\B"), false);
    Problem& other = Add(Finding(8, "HKLM\\C"));
    dialog.Open(7);

    dialog.ToggleRow(0);
    dialog.ToggleRow(1);
    EXPECT_EQ(a.isChecked, 0);
    EXPECT_EQ(b.isChecked, 1);
    dialog.DeselectAll();
    EXPECT_EQ(a.isChecked + b.isChecked, 0);
    EXPECT_EQ(other.isChecked, 1);
    dialog.SelectAll();
    EXPECT_EQ(a.isChecked + b.isChecked, 2);
}

TEST_F(DetailsTest, HeaderClickTogglesBetweenLocationAndArrivalOrder) {
    Add(Finding(4, "HKEY_LOCAL_MACHINE\\Beta"));
    Problem& alpha = Add(Finding(4, "HKEY_LOCAL_MACHINE\\Alpha"), false);
    Add(Finding(4, "HKEY_LOCAL_MACHINE\\Gamma"));
    dialog.Open(4);

    dialog.ClickHeader();
    EXPECT_EQ(Locations(), (std::vector<std::string>{"HKLM\\Alpha", "HKLM\\Beta", "HKLM\\Gamma"}));
    // The row moves whole: its record, its text and so its tick.
    EXPECT_EQ(dialog.Rows()[0].problem, &alpha);
    EXPECT_NE(dialog.RowText(0).find("Alpha"), std::string::npos);
    EXPECT_FALSE(dialog.RowChecked(0));

    dialog.ClickHeader();
    EXPECT_EQ(Locations(), (std::vector<std::string>{"HKLM\\Beta", "HKLM\\Alpha", "HKLM\\Gamma"}));
}

TEST_F(DetailsTest, LocationSortComparesBytesAndKeepsEqualKeysInOrder) {
    Problem& first = Add(Finding(6, "HKLM\\same", "C:\\1.dll"));
    Add(Finding(6, "HKLM\\\xE9t\xE9"));  // Windows-1252 accents sort after ASCII
    Add(Finding(6, "HKLM\\lower"));
    Problem& second = Add(Finding(6, "HKLM\\same", "C:\\2.dll"));
    Add(Finding(6, "HKLM\\Upper"));
    dialog.Open(6);

    dialog.ClickHeader();
    EXPECT_EQ(Locations(), (std::vector<std::string>{"HKLM\\Upper", "HKLM\\lower", "HKLM\\same",
                                                     "HKLM\\same", "HKLM\\\xE9t\xE9"}));
    EXPECT_EQ(dialog.Rows()[2].problem, &first);
    EXPECT_EQ(dialog.Rows()[3].problem, &second);
}

TEST_F(DetailsTest, CopyPutsThePlainRowOnTheClipboard) {
    Add(Finding(3, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Uninstall\\X", "C:\\old\\uninst.exe"));
    dialog.Open(3);

    std::string text = dialog.CopyRow(0);
    EXPECT_EQ(text,
              "RegKey : HKLM\\SOFTWARE\\Uninstall\\X \r\nValueName : Path\r\n"
              "Value : C:\\old\\uninst.exe\r\n"
              "The file (C:\\old\\uninst.exe) does not exist at the specified location");
    EXPECT_EQ(clipboard, std::vector<std::string>{text});
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Copied to Clipboard"});
}

TEST_F(DetailsTest, AddToIgnoreListHandsOverTheRowsFinding) {
    Add(Finding(2, "HKEY_CLASSES_ROOT\\Zeta.Prog"));
    Problem& alpha = Add(Finding(2, "HKEY_CLASSES_ROOT\\Alpha.Prog"));
    dialog.Open(2);
    dialog.ClickHeader();

    dialog.AddRowToIgnoreList(0);
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0], &alpha);
    EXPECT_EQ(LongRootLocation(ignored[0]->Location()), "HKEY_CLASSES_ROOT\\Alpha.Prog");
}

TEST_F(DetailsTest, EveryRowGetsTheTallestMeasuredHeightPlusForty) {
    Add(Finding(4, "HKLM\\short"));
    Add(Finding(4, "HKLM\\a much longer key"));
    dialog.Open(4);
    std::vector<int> widths;
    auto measure = [&widths](const std::string& text, int width) {
        widths.push_back(width);
        return static_cast<int>(text.size()) / 10;
    };
    int longest = static_cast<int>(dialog.RowText(1).size()) / 10;
    EXPECT_EQ(dialog.RowHeight(400, measure), longest + 40);
    EXPECT_EQ(widths, (std::vector<int>{370, 370}));
}

// The pass measures a row of each unbroken shape, then rows by falling bound until none
// can beat the tallest; its height is that of measuring every row.
TEST_F(DetailsTest, HeightPassMeasuresOnlyRowsThatCouldBeTallest) {
    for (int i = 0; i < 40; ++i)
        Add(Finding(4, "HKLM\\k" + std::to_string(i),
                    std::string(static_cast<size_t>(i % 7) * 9, 'x')));
    Add(Finding(4, "HKLM\\tall", std::string(200, 'y')));
    dialog.Open(4);
    std::vector<std::string> measured;
    auto measure = [&measured](const std::string& text, int) {
        measured.push_back(text);
        return static_cast<int>(text.size()) / 10;
    };
    // Short texts keep one shape; longer ones are bounded at twice their measure.
    auto bound = [](const std::string& text, int) {
        RichTextBound b;
        b.upper = static_cast<int>(text.size()) / 5;
        if (text.size() < 180) b.unwrapped = 1;
        return b;
    };
    const int full = dialog.RowHeight(400, measure);
    measured.clear();
    RowHeightPass pass(dialog.Rows(), 400, bound);
    EXPECT_FALSE(pass.Step(measure, [] { return false; })) << "one row per step at least";
    ASSERT_EQ(measured.size(), 1u);
    while (!pass.Step(measure, [] { return true; })) {
    }
    EXPECT_EQ(pass.Height(), full);
    EXPECT_LT(measured.size(), dialog.RowCount() / 2);
    EXPECT_NE(std::find(measured.begin(), measured.end(), dialog.RowText(dialog.RowCount() - 1)),
              measured.end());
    EXPECT_EQ(dialog.RowHeight(400, measure, bound), full);

    // Without rows the height is the padding alone.
    dialog.Open(7);
    EXPECT_EQ(dialog.RowHeight(400, measure, bound), 40);
}

// A long list is bounded a batch at a time: a step with no time left neither bounds nor
// measures the whole list, and shapes met late are measured as well.
TEST_F(DetailsTest, HeightPassOverALongListTakesShapesMetLate) {
    for (int i = 0; i < 500; ++i)
        Add(Finding(4, "HKLM\\k" + std::to_string(i % 10)));
    // Two late rows of shapes of their own, the second the tallest of all.
    Add(Finding(4, "HKLM\\late", "C:\\" + std::string(40, 'm')));
    Add(Finding(4, "HKLM\\later", "C:\\" + std::string(90, 'n')));
    // Rows that may wrap: one whose bound could beat the tallest, others whose cannot.
    Add(Finding(4, "HKLM\\wide", "C:\\" + std::string(70, 'w')));
    for (int i = 0; i < 100; ++i)
        Add(Finding(4, "HKLM\\w" + std::to_string(i % 10), std::string(10 + i % 5, 'w')));
    dialog.Open(4);
    std::vector<std::string> measured;
    int bounded = 0;
    auto measure = [&measured](const std::string& text, int) {
        measured.push_back(text);
        return static_cast<int>(text.size()) / 4;
    };
    // Texts of one length share a shape; a run of w's may wrap.
    auto bound = [&bounded](const std::string& text, int) {
        ++bounded;
        RichTextBound b;
        b.upper = static_cast<int>(text.size()) / 3;
        if (text.find("wwwww") == std::string::npos) b.unwrapped = static_cast<int>(text.size());
        return b;
    };
    const int full = dialog.RowHeight(400, measure);
    ASSERT_EQ(full, static_cast<int>(dialog.RowText(501).size()) / 4 + 40);
    measured.clear();

    RowHeightPass pass(dialog.Rows(), 400, bound);
    EXPECT_FALSE(pass.Step(measure, [] { return false; }));
    EXPECT_GT(bounded, 0);
    EXPECT_LT(bounded, 500) << "one step bounds a batch, not the list";
    EXPECT_EQ(measured.size(), 1u);
    while (!pass.Step(measure, [] { return true; })) {
    }
    EXPECT_EQ(bounded, static_cast<int>(dialog.RowCount()));
    EXPECT_EQ(pass.Height(), full);
    EXPECT_EQ(measured, (std::vector<std::string>{dialog.RowText(0), dialog.RowText(500),
                                                  dialog.RowText(501), dialog.RowText(502)}));
    EXPECT_TRUE(pass.Step(measure, [] { return true; })) << "a finished pass stays finished";
    EXPECT_EQ(measured.size(), 4u);
}

}  // namespace
}  // namespace hivewise
