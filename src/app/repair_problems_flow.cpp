#include "app/repair_problems_flow.h"

namespace hivewise {

std::string RemovalCountLine(int count) {
    return std::to_string(count) + " item(s) will be removed.";
}

RepairOutcome RepairSelectedProblems(Machine& machine, ResultStore& results, UserPrompts& prompts,
                                     const RepairControls& controls) {
    RepairOutcome outcome;
    RepairPlan plan = PlanRepair(machine, results);
    if (plan.found == 0) {
        prompts.Message(std::string(kNoProblemsFoundText));
        return outcome;
    }
    if (plan.checked == 0) {
        prompts.Message(std::string(kNoItemsCheckedText));
        return outcome;
    }
    if (plan.refused != RepairOutcome::Refusal::kNone) {
        outcome.refused = plan.refused;
        outcome.message = plan.refusal;
        prompts.Message(outcome.message);
        return outcome;
    }
    if (plan.backupOn) {
        if (!prompts.AskOkCancel(std::string(kAutoBackupNotice) + "\n\n" +
                                 RemovalCountLine(plan.removable))) {
            return outcome;
        }
    } else if (!prompts.AskYesNo(std::string(kNoAutoBackupQuestion))) {
        return outcome;
    }
    outcome = RepairCheckedProblems(machine, results, plan, controls);
    prompts.Message(outcome.message);
    if (outcome.ran) {
        if (controls.setRunning) controls.setRunning(false);
        if (controls.showSectionSelection) controls.showSectionSelection();
    }
    return outcome;
}

}  // namespace hivewise
