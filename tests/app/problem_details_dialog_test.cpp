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

Problem Finding(int sectionId, std::string location, std::string valueData = "C:\\gone.exe") {
    Problem p;
    p.sectionId = sectionId;
    p.location = std::move(location);
    p.valueName = "Path";
    p.valueData = std::move(valueData);
    p.description = kFileMissing;
    return p;
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
            out.push_back(row.problem->location);
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
    EXPECT_EQ(a.location, "HKLM\\SOFTWARE\\A");
    EXPECT_EQ(b.location, "HKCU\\Software\\B");
    EXPECT_EQ(other.location, "HKEY_CLASSES_ROOT\\.xyz");
    EXPECT_NE(dialog.RowText(0).find("RegKey : HKLM\\SOFTWARE\\A <br>"), std::string::npos);
    EXPECT_TRUE(dialog.RowChecked(0));
    EXPECT_FALSE(dialog.RowChecked(1));
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
    EXPECT_EQ(LongRootLocation(ignored[0]->location), "HKEY_CLASSES_ROOT\\Alpha.Prog");
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

}  // namespace
}  // namespace hivewise
