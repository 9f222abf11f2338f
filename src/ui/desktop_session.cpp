#include "ui/desktop_session.h"

#include <QApplication>
#include <QMessageBox>

#include "app/machine_chooser.h"
#include "platform/machine/machine_finder.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/sample_machine.h"
#include "ui/qt_prompts.h"

namespace hivewise::ui {

int RunDesktopSession(std::unique_ptr<Machine> machine, bool isSample, StartUp& startUp,
                      const DesktopSessionOptions& options) {
    int status = 0;
    while (machine) {
        // The program file is placed in the sample machine only; in a user's prefix it is
        // placed when the run-at-startup setting names it.
        if (isSample) {
            std::string installError;
            InstallProgram(*machine, options.executable, &installError);
        }
        startUp.FirstRun(*machine);
        if (options.memory) {
            options.memory->SetLastMachine({machine->PrefixDir(), isSample, false});
            options.memory->Save();
        }

        // The machine picked in the window's chooser, loaded before the window closes so
        // that a failure leaves the user where they were.
        std::unique_ptr<Machine> next;
        bool nextIsSample = false;
        bool readAgain = false;
        {
            // The window and a scan still running end before the final save.
            DesktopApp desktop(*machine, isSample);
            desktop.SetMemory(options.memory);
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
            // Wine started from the window has ended: what was read of the machine is stale.
            desktop.SetReload([&readAgain] {
                readAgain = true;
                QCoreApplication::exit(0);
            });
            startUp.InitialiseMainWindow(desktop.Logic(), desktop.InitSteps());
            if (options.windowUp) options.windowUp(desktop);
            status = QApplication::exec();
        }
        startUp.Exit(*machine);
        if (readAgain) {
            // The prefix's lock is let go before the same prefix is loaded again.
            MachineRequest request{machine->PrefixDir(), isSample, false};
            machine.reset();
            ForgetWineStarted(request.folder);
            Machine::LoadResult loaded =
                LoadRequestedMachine(request, options.env, options.executable);
            if (!loaded.machine) {
                QMessageBox::critical(nullptr, MessageCaption(),
                                      QString::fromStdString(loaded.error));
            }
            next = std::move(loaded.machine);
            nextIsSample = isSample;
        }
        machine = std::move(next);
        isSample = nextIsSample;
    }
    return status;
}

}  // namespace hivewise::ui
