#include "ui/desktop_session.h"

#include <QApplication>

#include "app/machine_chooser.h"
#include "platform/machine/machine_finder.h"
#include "platform/machine/sample_machine.h"

namespace hivewise::ui {

int RunDesktopSession(std::unique_ptr<Machine> machine, bool isSample, StartUp& startUp,
                      const DesktopSessionOptions& options) {
    int status = 0;
    while (machine) {
        std::string installError;
        InstallProgram(*machine, options.executable, &installError);
        startUp.FirstRun(*machine);

        // The machine picked in the window's chooser, loaded before the window closes so
        // that a failure leaves the user where they were.
        std::unique_ptr<Machine> next;
        bool nextIsSample = false;
        {
            // The window and a scan still running end before the final save.
            DesktopApp desktop(*machine, isSample);
            desktop.OfferMachines(
                FindMachines(options.env, options.executable), [&](const MachineRequest& request) {
                    Machine::LoadResult loaded =
                        LoadRequestedMachine(request, options.env, options.executable);
                    if (!loaded.machine) {
                        desktop.Prompts().Message(
                            loaded.error.empty() ? "The Windows installation could not be loaded."
                                                 : loaded.error,
                            MessageIcon::Stop);
                        return false;
                    }
                    next = std::move(loaded.machine);
                    nextIsSample = request.isSample;
                    QCoreApplication::exit(0);
                    return true;
                });
            startUp.InitialiseMainWindow(desktop.Logic(), desktop.InitSteps());
            if (options.windowUp) options.windowUp(desktop);
            status = QApplication::exec();
        }
        startUp.Exit(*machine);
        machine = std::move(next);
        isSample = nextIsSample;
    }
    return status;
}

}  // namespace hivewise::ui
