#include "scan/scan_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/registry/registry_access.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

// What the fake scanners did, and the driver they may abort.
struct FakeRun {
    std::vector<int> ran;
    ScanDriver* driver = nullptr;
};
FakeRun g_run;

void Report(ScanContext& context, int sectionId, const std::string& data) {
    // Each finding its own key: a scan reports a key or value once.
    const std::string location = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\" + data;
    context.Report(std::make_unique<Problem>(
        sectionId,
        ProblemTexts{.location = location,
                     .valueName = "v",
                     .valueData = data,
                     .description = "The file (%s) does not exist at the specified location"}));
}

void Startup(ScanContext& c) {
    g_run.ran.push_back(8);
    Report(c, 8, "C:\\startup.exe");
}
void Sounds(ScanContext& c) {
    g_run.ran.push_back(12);
    Report(c, 12, "C:\\a.wav");
}
void AppPaths(ScanContext& c) {
    g_run.ran.push_back(4);
    Report(c, 4, "C:\\one.exe");
    Report(c, 4, "C:\\two.exe");
}
void AppPathsThenAbort(ScanContext& c) {
    g_run.ran.push_back(4);
    Report(c, 4, "C:\\one.exe");
    g_run.driver->Abort();
    if (!c.Continue()) return;
    Report(c, 4, "C:\\never.exe");
}
void HelpFiles(ScanContext&) {
    g_run.ran.push_back(7);
}
void Fonts(ScanContext& c) {
    g_run.ran.push_back(5);
    Report(c, 5, "C:\\f.ttf");
}
void OddIds(ScanContext& c) {
    g_run.ran.push_back(4);
    Report(c, 0, "zero");
    Report(c, 16, "sixteen");
    Report(c, -1, "minus");
    Report(c, 5, "an unticked section");
    Report(c, 4, "C:\\real.exe");
}

// Records every call the driver makes on the list and the window.
class RecordingView : public ScanListView, public ScanWindow {
  public:
    void SetProblemsCell(int row, const std::string& text) override {
        Log("problems " + std::to_string(row) + " " + text);
    }
    void SetRowData(int row, int sectionId) override {
        Log("data " + std::to_string(row) + " " + std::to_string(sectionId));
    }
    void SetRowChecked(int row, bool checked) override {
        Log("check " + std::to_string(row) + " " + (checked ? "1" : "0"));
    }
    void SetTotal(int total) override { Log("total " + std::to_string(total)); }
    void ClearRows() override { Log("clear"); }
    void InsertRow(int row, const std::string& name) override {
        Log("insert " + std::to_string(row) + " " + name);
    }
    void SetStatusCell(int row, const std::string& text) override {
        Log("status " + std::to_string(row) + " " + text);
    }
    void EnsureVisible(int row) override { Log("visible " + std::to_string(row)); }
    void ClearResults() override { Log("clear results"); }
    void ScanMessage(const std::string& text) override { Log("message " + text); }
    void ScanFault(const std::string& text) override { Log("fault " + text); }
    void ShowResultsView(const std::vector<ResultsItem>& shown, int total) override {
        items = shown;
        Log("results " + std::to_string(total));
    }

    bool Saw(const std::string& call) const {
        std::lock_guard lock(mutex);
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    void Log(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    mutable std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<ResultsItem> items;
};

class RecordingLog : public ScanLogWriter {
  public:
    void StartLog(const std::tm&) override { ++starts; }
    void AppendFinding(const Problem& problem) override {
        blocks.emplace_back(problem.ValueData());
    }
    void EndLog() override { blocksAtEnds.push_back(blocks.size()); }
    int starts = 0;
    std::vector<std::string> blocks;
    std::vector<size_t> blocksAtEnds;
};

using Ticks = std::array<bool, kSectionCount>;
Ticks TickOnly(std::initializer_list<int> ids) {
    Ticks ticks{};
    for (int id : ids)
        ticks[static_cast<size_t>(id)] = true;
    return ticks;
}

std::string SubKeys(const std::string& key, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "\n[" + key + "\\\\k" + std::to_string(i) + "] 1700000000\n";
    return text;
}

class ScanDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_run = {};
        const std::string appPaths =
            "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths";
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n" + SubKeys(appPaths, 25) +
                         "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Fonts] "
                         "1700000000\n\"a\"=\"a.ttf\"\n\"b\"=\"b.ttf\"\n\"c\"=\"c.ttf\"\n"
                         "\n[Software\\\\Wine\\\\Drives] 1700000000\n\"d:\"=\"cdrom\"\n");
        prefix.UserReg(userHive);
        std::filesystem::create_directories(prefix.Dir() / "cd");
        std::filesystem::create_directories(prefix.Dir() / "e");
        std::filesystem::create_directory_symlink("../cd", prefix.Dir() / "dosdevices" / "d:");
        std::filesystem::create_directory_symlink("../e", prefix.Dir() / "dosdevices" / "e:");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        registry = std::make_unique<RegistryAccess>(*machine);
    }

    std::unique_ptr<ScanDriver> MakeDriver(ScannerTable table) {
        auto driver = std::make_unique<ScanDriver>(*machine, results, std::move(table));
        driver->SetListView(&view);
        driver->SetWindow(&view);
        driver->SetLog(&log);
        driver->SetIntegrityDelay(std::chrono::milliseconds(5));
        g_run.driver = driver.get();
        return driver;
    }
    std::string Setting(const std::string& name) {
        std::string text;
        return registry->ReadSetting(name, &text) ? text : "<missing>";
    }

    std::string userHive =
        "\n[Software\\\\Hivewise] 1700000000\n\"CheckAllItems\"=\"1\"\n\"Generate Log\"=\"1\"\n"
        "\"Application Paths\"=\"1\"\n\"VXD Section\"=\"1\"\n"
        "\n[Control Panel\\\\Sounds] 1700000000\n\"x\"=\"y\"\n";
    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> registry;
    ResultStore results;
    RecordingView view;
    RecordingLog log;
};

TEST_F(ScanDriverTest, RowsTicksAndCountsPerSectionInScanOrder) {
    ScannerTable table;
    table[4] = {AppPaths};
    table[7] = {HelpFiles};
    table[5] = {Fonts};
    auto driver = MakeDriver(table);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 5, 7, 12}), 0));

    // Sounds (no scanner yet) comes first, then App Paths, Help Files, Windows Fonts.
    auto rows = driver->Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, "Sounds Section");
    EXPECT_EQ(rows[1].name, "Application Paths");
    EXPECT_EQ(rows[2].name, "Help Files");
    EXPECT_EQ(rows[3].name, "Windows Fonts");
    const char* problems[] = {"0", "2", "0", "1"};
    const bool checked[] = {false, true, false, true};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].problems, problems[i]) << i;
        EXPECT_EQ(rows[i].status, "Finished") << i;
        EXPECT_EQ(rows[i].checked, checked[i]) << i;
    }
    EXPECT_EQ(rows[1].data, 4);
    EXPECT_EQ(g_run.ran, (std::vector<int>{4, 7, 5}));
    EXPECT_TRUE(view.Saw("insert 0 Sounds Section"));
    EXPECT_TRUE(view.Saw("visible 3"));
    EXPECT_TRUE(view.Saw("status 1 Scanning"));

    // Findings: counted, numbered in arrival order, logged; the total shown.
    EXPECT_EQ(results.Total(), 3);
    EXPECT_EQ(results.Count(4), 2);
    EXPECT_EQ(results.Problems()[2]->sequence, 2);
    EXPECT_EQ(driver->Total(), 3);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.blocks, (std::vector<std::string>{"C:\\one.exe", "C:\\two.exe", "C:\\f.ttf"}));
    // Ended once, after the last finding.
    EXPECT_EQ(log.blocksAtEnds, std::vector<size_t>{3});

    // Work: 25 App Paths keys, 3 fonts, 1 sound, no help values.
    EXPECT_EQ(driver->WorkTotal(), 29);
    EXPECT_EQ(driver->Status().Upper(), 29);
    EXPECT_EQ(driver->Status().Position(), 29);
    EXPECT_EQ(driver->Status().StatusLine(), "Scan Complete");
    EXPECT_TRUE(view.Saw("message Scan Completed"));
    EXPECT_FALSE(driver->Aborted());

    ASSERT_EQ(view.items.size(), 2u);
    EXPECT_EQ(view.items[0].sectionId, 4);
    EXPECT_EQ(view.items[1].sectionId, 5);
    EXPECT_TRUE(view.Saw("results 3"));

    EXPECT_EQ(Setting("Items Found"), "3");
    EXPECT_NE(Setting("Last Scan").find(" Time: "), std::string::npos);
}

// A scanner that raises ends alone: the scan goes on with the next scanner and section, and
// says once that it failed in part, however often the same fault came.
void ThrowsAfterOne(ScanContext& c) {
    g_run.ran.push_back(4);
    Report(c, 4, "C:\\before.exe");
    throw std::length_error("the texts of a finding are too long");
}
void NoticesTwice(ScanContext& c) {
    g_run.ran.push_back(5);
    c.ShowMessage(std::string(kInternalErrorText));
    c.ShowMessage("RegOpenKeyEx FAILED");
    Report(c, 5, "C:\\f.ttf");
}

TEST_F(ScanDriverTest, AFaultEndsItsScannerAloneAndEachNoticeIsShownOnce) {
    ScannerTable table;
    table[4] = {ThrowsAfterOne, AppPaths};
    table[5] = {NoticesTwice};
    auto driver = MakeDriver(table);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 5}), 0));
    EXPECT_EQ(g_run.ran, (std::vector<int>{4, 4, 5}));
    EXPECT_EQ(results.Count(4), 3);
    EXPECT_EQ(results.Count(5), 1);
    EXPECT_FALSE(driver->Aborted());

    const auto notices = driver->Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].text, kInternalErrorText);
    EXPECT_EQ(notices[0].count, 2);
    EXPECT_EQ(notices[1].text, "RegOpenKeyEx FAILED");
    EXPECT_EQ(notices[1].count, 1);
    {
        std::lock_guard lock(view.mutex);
        EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(),
                             "fault " + std::string(kInternalErrorText)),
                  1);
    }
    EXPECT_TRUE(view.Saw("fault RegOpenKeyEx FAILED"));

    // The next scan starts without them.
    table[4] = {AppPaths};
    table[5] = {};
    driver->Scanners() = table;
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 5}), 0));
    EXPECT_TRUE(driver->Notices().empty());
}

TEST_F(ScanDriverTest, UntickedSectionsHaveNoRowAndTheirZeroIsWritten) {
    auto driver = MakeDriver({});
    ASSERT_TRUE(driver->RunToEnd(TickOnly({9}), 0));
    ASSERT_EQ(driver->Rows().size(), 1u);
    EXPECT_EQ(driver->Rows()[0].name, "System Services");
    EXPECT_EQ(Setting("System Services"), "1");
    EXPECT_EQ(Setting("Application Paths"), "0");
    EXPECT_EQ(Setting("VXD Section"), "0");
    // Persisted by section name, not by the check box's label.
    EXPECT_EQ(Setting("Program ID Section"), "0");
    EXPECT_EQ(Setting("ProgramID Section"), "<missing>");
}

TEST_F(ScanDriverTest, OnlyRegistryIntegrityShowsOneEmptyRow) {
    auto driver = MakeDriver({});
    ASSERT_TRUE(driver->RunToEnd(TickOnly({0}), 0));
    auto rows = driver->Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "Registry Integrity");
    EXPECT_EQ(rows[0].problems, "0");
    EXPECT_EQ(rows[0].status, "Finished");
    EXPECT_FALSE(rows[0].checked);
    EXPECT_TRUE(view.Saw("status 0 Scanning"));
    EXPECT_TRUE(view.Saw("message Scan Completed"));
    EXPECT_TRUE(view.items.empty());
    EXPECT_EQ(Setting("Items Found"), "0");
}

TEST_F(ScanDriverTest, AbortInTheThirdOfFiveSections) {
    ScannerTable table;
    table[8] = {Startup};
    table[12] = {Sounds};
    table[4] = {AppPathsThenAbort};
    table[7] = {HelpFiles};
    table[5] = {Fonts};
    auto driver = MakeDriver(table);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({8, 12, 4, 7, 5}), 0));

    EXPECT_EQ(g_run.ran, (std::vector<int>{8, 12, 4}));
    auto rows = driver->Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].name, "Application Paths");
    EXPECT_EQ(rows[2].problems, "1");
    EXPECT_EQ(rows[2].status, "Finished");
    for (size_t i : {3u, 4u}) {
        EXPECT_EQ(rows[i].problems, "") << i;
        EXPECT_EQ(rows[i].status, "") << i;
    }
    EXPECT_TRUE(driver->Aborted());
    EXPECT_EQ(driver->Status().StatusLine(), "Scan Aborted");
    EXPECT_TRUE(view.Saw("message Scan Aborted"));
    EXPECT_FALSE(view.Saw("message Scan Completed"));
    EXPECT_EQ(view.items.size(), 3u);
    EXPECT_EQ(Setting("Items Found"), "3");
    EXPECT_NE(Setting("Last Scan"), "<missing>");
    EXPECT_EQ(driver->Status().Position(), driver->Status().Upper());
}

TEST_F(ScanDriverTest, ShortcutShareCountsFixedDrivesOnly) {
    auto driver = MakeDriver({});
    // Drives C and E are fixed, D is a CD-ROM.
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 14}), 0));
    EXPECT_EQ(driver->CountedDrives(), 2);
    EXPECT_EQ(driver->WorkTotal(), 25);
    EXPECT_EQ(driver->PerDriveShare(), 2);
    EXPECT_EQ(driver->Status().Upper(), 29);

    // The complete-scan estimate counts towards the share; without shortcuts no share.
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 13, 14}), 100));
    EXPECT_EQ(driver->WorkTotal(), 125);
    EXPECT_EQ(driver->PerDriveShare(), 12);
    EXPECT_EQ(driver->Status().Upper(), 149);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 13}), 100));
    EXPECT_EQ(driver->CountedDrives(), 0);
    EXPECT_EQ(driver->Status().Upper(), 125);

    // Without a bar nothing is counted.
    driver->SetProgressBarShown(false);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4, 13, 14}), 100));
    EXPECT_EQ(driver->CountedDrives(), 0);
    EXPECT_EQ(driver->WorkTotal(), 0);
    EXPECT_EQ(driver->Status().Upper(), 0);
    EXPECT_EQ(driver->Status().StatusLine(), "Scan Complete");
}

TEST_F(ScanDriverTest, FindingsOutsideTheSectionsRaiseOnlyTheTotal) {
    ScannerTable table;
    table[4] = {OddIds};
    auto driver = MakeDriver(table);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({0, 4}), 0));
    EXPECT_EQ(results.Total(), 5);
    auto rows = driver->Rows();
    ASSERT_EQ(rows.size(), 2u);
    // Neither id 0 nor the unticked section 5 changes a row.
    EXPECT_EQ(rows[0].problems, "0");
    EXPECT_FALSE(rows[0].checked);
    EXPECT_EQ(rows[1].problems, "1");
    ASSERT_EQ(view.items.size(), 1u);
    EXPECT_EQ(view.items[0].sectionId, 4);
    EXPECT_EQ(Setting("Items Found"), "5");
}

TEST_F(ScanDriverTest, FlagsAreReadOnceAtStart) {
    registry->WriteSetting("CheckAllItems", "0");
    registry->WriteSetting("Generate Log", "01");
    ScannerTable table;
    table[4] = {AppPaths};
    auto driver = MakeDriver(table);
    driver->SetExclusionTest(
        [](const std::string& text) { return text.find("two.exe") != std::string::npos; });
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4}), 0));
    EXPECT_FALSE(driver->CheckAll());
    EXPECT_FALSE(driver->LogOn());
    ASSERT_EQ(results.Total(), 1);
    EXPECT_EQ(results.Problems()[0]->isChecked, 0);
    // The header is written all the same; no blocks.
    EXPECT_EQ(log.starts, 1);
    EXPECT_TRUE(log.blocks.empty());
}

TEST_F(ScanDriverTest, ResetEmptiesTheLastScan) {
    ScannerTable table;
    table[4] = {AppPaths};
    auto driver = MakeDriver(table);
    ASSERT_TRUE(driver->RunToEnd(TickOnly({4}), 0));
    ASSERT_EQ(results.Total(), 2);
    driver->Reset();
    EXPECT_EQ(results.Total(), 0);
    EXPECT_TRUE(results.Problems().empty());
    EXPECT_TRUE(driver->Rows().empty());
    EXPECT_EQ(driver->Status().StatusLine(), "Scanning ...");
    EXPECT_EQ(driver->Status().Position(), 0);
    EXPECT_TRUE(view.Saw("clear results"));
}

TEST(ResultsItems, FormatSkipsEmptyAndZeroRows) {
    std::vector<SectionRow> rows(3);
    rows[0] = {4, "Application Paths", "2", "Finished", 4, true};
    rows[1] = {7, "Help Files", "0", "Finished", -1, false};
    rows[2] = {5, "Windows Fonts", "", "", -1, false};
    auto items = MakeResultsItems(rows);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].sectionId, 4);
    EXPECT_EQ(items[0].text,
              "<b>Application Paths<brs><br><font color=\"#FF0000\">2 Problem(s)</font></b><br>"
              "Description : Errors in this section refer to paths to applications within your "
              "computer.  These may cause errors when you attempt to access certain "
              "applications.");
}

TEST(LastScanText, EnglishNamesAndTwoDigitFields) {
    std::tm t{};
    t.tm_year = 107;
    t.tm_mon = 2;
    t.tm_mday = 6;
    t.tm_wday = 2;
    t.tm_hour = 4;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(FormatLastScan(t), "Tuesday, March 06, 2007 Time: 04:05:09");
}

}  // namespace
}  // namespace hivewise
