#include "repair/repair_problems.h"

#include <cstring>

#include "platform/registry/registry_access.h"
#include "repair/zip_archive.h"
#include "repair_fixture.h"

// The repair as the engine runs it: nothing is asked, the outcome is returned.
namespace hivewise {
namespace {

using testing::RepairTest;

TEST_F(RepairTest, PlanStopsAtTheFirstReasonNotToRepair) {
    EXPECT_EQ(PlanRepair(*machine, results).found, 0);

    // A sound value with no data names the whole scheme: ticked, but nothing to remove.
    Add(12, "HKEY_CURRENT_USER\\Control Panel\\Sounds", "Beep", "").isChecked = false;
    Add(4, "HKLM\\Software\\HKCUTools").isChecked = false;
    RepairPlan plan = PlanRepair(*machine, results);
    EXPECT_EQ(plan.found, 2);
    EXPECT_EQ(plan.checked, 0);
    EXPECT_EQ(plan.refused, RepairOutcome::Refusal::kNone);

    for (auto& problem : results.Problems())
        problem->isChecked = true;
    plan = PlanRepair(*machine, results);
    EXPECT_EQ(plan.checked, 2);
    EXPECT_EQ(plan.removable, 1);
    EXPECT_TRUE(plan.backupOn);
    ASSERT_TRUE(RegistryAccess(*machine).WriteSetting("NoAutoBackup", "1"));
    EXPECT_FALSE(PlanRepair(*machine, results).backupOn);

    machine.reset();
    machine = prefix.Load({.lockPrefix = false, .readOnly = true});
    ASSERT_TRUE(machine);
    plan = PlanRepair(*machine, results);
    EXPECT_EQ(plan.refused, RepairOutcome::Refusal::kCannotSave);
    EXPECT_EQ(plan.refusal, machine->SaveRefusal());
}

TEST_F(RepairTest, RepairReturnsItsOutcomeAndLeavesTheEndToTheWindow) {
    AddFindings();
    for (auto& problem : results.Problems())
        problem->isChecked = true;
    RepairPlan plan = PlanRepair(*machine, results);
    ASSERT_EQ(plan.refused, RepairOutcome::Refusal::kNone);
    std::vector<bool> running;
    int selectionShown = 0;
    RepairControls controls;
    controls.setRunning = [&](bool on) { running.push_back(on); };
    controls.showSectionSelection = [&] { ++selectionShown; };
    RepairOutcome outcome = RepairCheckedProblems(*machine, results, plan, controls);
    EXPECT_TRUE(outcome.ran);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_GT(outcome.removed, 0);
    EXPECT_FALSE(outcome.archive.empty());
    EXPECT_EQ(Archives().size(), 1u);
    EXPECT_EQ(outcome.message.rfind(std::string(kSelectedProblemsFixedText), 0), 0u)
        << outcome.message;
    // The window clears the flag and goes back once it has shown the outcome.
    EXPECT_EQ(running, std::vector<bool>{true});
    EXPECT_EQ(selectionShown, 0);
    EXPECT_FALSE(RegistryAccess(*machine).KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
}

// The window's details dialog, opened while the repair runs, writes the roots short again;
// what was saved is removed all the same.
TEST_F(RepairTest, RootsShortenedWhileItRunsStillNameWhatIsRemoved) {
    AddFindings();
    for (auto& problem : results.Problems())
        problem->isChecked = true;
    RepairControls controls;
    controls.pumpEvents = [&] {
        for (auto& problem : results.Problems()) {
            std::string location(problem->Location());
            for (auto [root, shortRoot] : {std::pair{"HKEY_LOCAL_MACHINE", "HKLM"},
                                           std::pair{"HKEY_CURRENT_USER", "HKCU"}}) {
                if (location.rfind(root, 0) == 0) location.replace(0, strlen(root), shortRoot);
            }
            problem->SetLocation(location);
        }
    };
    RepairOutcome outcome =
        RepairCheckedProblems(*machine, results, PlanRepair(*machine, results), controls);
    EXPECT_GT(outcome.removed, 0);
    EXPECT_EQ(outcome.notRemoved, 0) << outcome.message;
    EXPECT_EQ(outcome.notBackedUp, 0);
    EXPECT_FALSE(RegistryAccess(*machine).KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
}

// Key exports and the record list never touch the work folder, yet the archive lists them
// among the file copies as one folder of them all would, and the work folder is left empty.
TEST_F(RepairTest, TheArchiveListsEveryEntryInFolderOrder) {
    AddFindings();  // ten: the export of the tenth sorts between the first two
    for (auto& problem : results.Problems())
        problem->isChecked = true;
    RepairOutcome outcome =
        RepairCheckedProblems(*machine, results, PlanRepair(*machine, results), {});
    ASSERT_EQ(Archives().size(), 1u);
    ZipReader reader;
    ASSERT_EQ(reader.Open(Archives()[0], kFixBackupPassword), ZipStatus::kOk);
    std::vector<std::string> names;
    for (const ZipEntryInfo& entry : reader.Entries())
        names.push_back(entry.name);
    std::vector<std::string> listed = names;
    std::sort(listed.begin(), listed.end(), [](const std::string& a, const std::string& b) {
        int order = CompareNoCase(Utf8ToUtf16(a), Utf8ToUtf16(b));
        return order != 0 ? order < 0 : a < b;
    });
    EXPECT_EQ(names, listed);
    EXPECT_EQ(names.front(), "Config.ini");
    EXPECT_NE(std::find(names.begin(), names.end(), "Word~2.lnk"), names.end());
    EXPECT_LT(std::find(names.begin(), names.end(), "rkBackUp1.reg"),
              std::find(names.begin(), names.end(), "rkBackUp10.reg"));
    EXPECT_LT(std::find(names.begin(), names.end(), "rkBackUp10.reg"),
              std::find(names.begin(), names.end(), "rkBackUp2.reg"));
    EXPECT_TRUE(std::filesystem::is_empty(WorkDir()));
    EXPECT_TRUE(outcome.failures.empty());
}

}  // namespace
}  // namespace hivewise
