#include "app/save_changes.h"

namespace hivewise {

bool SaveChanges(Machine& machine, AppPrompts& prompts) {
    Machine::SaveResult result = machine.Flush();
    if (result.ok) return true;
    prompts.Message(
        result.error.empty() ? "The registry changes could not be saved." : result.error,
        MessageIcon::Stop);
    return false;
}

}  // namespace hivewise
