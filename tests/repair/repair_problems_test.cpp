#include "repair/repair_problems.h"

#include "platform/registry/registry_access.h"
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

}  // namespace
}  // namespace hivewise
