#include "ui/system_tools.h"

#include <memory>

#include "app/advanced_options.h"
#include "app/save_changes.h"
#include "app/tools/bho_manager.h"
#include "app/tools/installed_programs_manager.h"
#include "app/tools/startup_manager.h"
#include "ui/entry_manager_view.h"
#include "ui/removed_entries_view.h"

namespace hivewise::ui {

bool OpenSystemTool(int area, Machine& machine, QtPrompts& prompts, QWidget* parent) {
    QWidget* owner = prompts.Owner();
    QWidget* managerWindow = nullptr;
    EntryManager::RestoreOpener openRestore = [&](RemovedEntriesMode mode) {
        RemovedEntriesDialog logic(machine, prompts, mode);
        RemovedEntriesView dialog(logic, managerWindow);
        prompts.SetOwner(&dialog);
        bool restored = dialog.exec() == QDialog::Accepted;
        prompts.SetOwner(managerWindow);
        return restored;
    };
    std::unique_ptr<EntryManager> logic;
    switch (area) {
        case kBhoArea:
            logic = std::make_unique<BhoManager>(machine, prompts, openRestore);
            break;
        case kStartupArea:
            logic = std::make_unique<StartupProgramManager>(machine, prompts, openRestore);
            break;
        case kInstalledProgramsArea:
            logic = std::make_unique<InstalledProgramsManager>(machine, prompts, openRestore);
            break;
        default:
            return false;
    }
    EntryManagerView view(
        *logic, [&] { SaveChanges(machine, prompts); }, parent);
    managerWindow = &view;
    prompts.SetOwner(&view);
    view.exec();
    prompts.SetOwner(owner);
    return true;
}

}  // namespace hivewise::ui
