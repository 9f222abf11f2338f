#include "app/update_check_flow.h"

namespace hivewise {

void RunUpdateCheck(Machine& machine, UserPrompts& prompts, UpdateCheckOwner& owner,
                    const std::string& versionPage) {
    owner.SetWaitCursor(true);
    UpdateCheck check = CheckForUpdate(machine, versionPage);
    owner.SetWaitCursor(false);
    if (check.installationCorrupt) prompts.Message(std::string(kInstallationCorruptText));
    if (check.version.empty()) {
        prompts.Message(std::string(kNoUpdatesText));
        return;
    }
    if (!prompts.AskYesNo(std::string(kUpdatesAvailableText))) return;
    StartUpdater(machine);
    owner.CloseAndQuit();
}

}  // namespace hivewise
